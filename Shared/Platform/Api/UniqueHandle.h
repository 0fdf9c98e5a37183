// Move-only owner of one platform handle. Each handle kind gets its own traits type, so a
// registry key can never be closed as a library, and no raw close call appears outside the
// platform layer.
//
// The owner keeps the interface that opened its handle and closes through it, never through
// whatever implementation happens to be installed when it closes: a handle opened by one
// implementation means nothing to another.
#pragma once

#include <utility>

namespace Qx::Platform {

using NativeHandle = void*;

template <class Traits>
class UniqueHandle {
public:
    using Opener = typename Traits::Opener;

    UniqueHandle() = default;
    UniqueHandle(NativeHandle handle, Opener& opener) : m_handle(handle), m_opener(&opener) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : m_handle(std::exchange(other.m_handle, nullptr)), m_opener(std::exchange(other.m_opener, nullptr))
    {
    }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, nullptr);
            m_opener = std::exchange(other.m_opener, nullptr);
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    [[nodiscard]] NativeHandle get() const { return m_handle; }
    explicit operator bool() const { return Traits::IsValid(m_handle); }

    // Gives up ownership: the handle stays open for good.
    [[nodiscard]] NativeHandle release()
    {
        m_opener = nullptr;
        return std::exchange(m_handle, nullptr);
    }

    void reset()
    {
        NativeHandle old = std::exchange(m_handle, nullptr);
        Opener* opener = std::exchange(m_opener, nullptr);
        if (Traits::IsValid(old) && opener != nullptr) {
            Traits::Close(*opener, old);
        }
    }

    void reset(NativeHandle handle, Opener& opener)
    {
        reset();
        m_handle = handle;
        m_opener = &opener;
    }

private:
    NativeHandle m_handle = nullptr;
    Opener* m_opener = nullptr;
};

} // namespace Qx::Platform
