// One owner family for every kind of handle, after wil's unique_any. Each kind has a traits type
// that names its handle type, tells a valid handle from none (null, or INVALID_HANDLE_VALUE too)
// and closes one, so a registry key can never be closed as a library, and no raw close call
// appears outside the traits.
//
// Traits that name an Opener close through the interface that opened the handle, which the owner
// keeps: a handle opened by one implementation of the platform interfaces means nothing to
// another, whatever implementation is installed when it closes.
#pragma once

#include <type_traits>
#include <utility>

namespace Qx::Platform {

using NativeHandle = void*;

namespace Detail {

struct NoOpener {};

template <class Traits, class = void>
struct OpenerSlot {
    using type = NoOpener;
};

template <class Traits>
struct OpenerSlot<Traits, std::void_t<typename Traits::Opener>> {
    using type = typename Traits::Opener*;
};

} // namespace Detail

// Null is never a handle. Where an opening call answers INVALID_HANDLE_VALUE for a failure
// (CreateFileW, FindFirstFileW), that is none either, and a thread handle is never that value.
enum class InvalidValue { IsAHandle, IsNone };

template <InvalidValue invalidValue, class Handle>
bool IsHandle(Handle handle)
{
    return handle != nullptr && (invalidValue == InvalidValue::IsAHandle || handle != reinterpret_cast<Handle>(-1));
}

// The traits of a handle opened through one of the platform interfaces and closed through the same
// one again, by the CloseThrough that the interface's header declares.
template <class Interface, InvalidValue invalidValue = InvalidValue::IsAHandle>
struct OpenedThrough {
    using Handle = NativeHandle;
    using Opener = Interface;
    static bool IsValid(NativeHandle handle) { return IsHandle<invalidValue>(handle); }
    static void Close(Interface& opener, NativeHandle handle) { CloseThrough(opener, handle); }
};

template <class Traits>
class UniqueHandle {
    using Slot = typename Detail::OpenerSlot<Traits>::type;
    static constexpr bool kHasOpener = !std::is_same_v<Slot, Detail::NoOpener>;

public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) requires(!kHasOpener) : m_handle(handle) {}
    template <class Opener>
    requires kHasOpener UniqueHandle(Handle handle, Opener& opener) : m_handle(handle), m_opener(&opener) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : m_handle(std::exchange(other.m_handle, Handle())), m_opener(std::exchange(other.m_opener, Slot()))
    {
    }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, Handle());
            m_opener = std::exchange(other.m_opener, Slot());
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    [[nodiscard]] Handle get() const { return m_handle; }
    explicit operator bool() const { return Traits::IsValid(m_handle); }

    // Gives up ownership: the handle stays open for good.
    [[nodiscard]] Handle release()
    {
        m_opener = Slot();
        return std::exchange(m_handle, Handle());
    }

    void reset()
    {
        const Handle old = std::exchange(m_handle, Handle());
        const Slot opener = std::exchange(m_opener, Slot());
        if (!Traits::IsValid(old)) {
            return;
        }
        if constexpr (kHasOpener) {
            if (opener != nullptr) {
                Traits::Close(*opener, old);
            }
        } else {
            Traits::Close(old);
        }
    }

    void reset(Handle handle) requires(!kHasOpener)
    {
        reset();
        m_handle = handle;
    }

    template <class Opener>
    requires kHasOpener void reset(Handle handle, Opener& opener)
    {
        reset();
        m_handle = handle;
        m_opener = &opener;
    }

    // For the out parameter of a call that opens one: whatever was held is closed first.
    [[nodiscard]] Handle* out() requires(!kHasOpener)
    {
        reset();
        return &m_handle;
    }

private:
    Handle m_handle = Handle();
#if __has_cpp_attribute(no_unique_address)
    [[no_unique_address]] Slot m_opener = Slot();
#else
    // clang in Microsoft's mode knows no such attribute: there the empty slot of an owner without an
    // opener takes room of its own.
    Slot m_opener = Slot();
#endif
};

} // namespace Qx::Platform
