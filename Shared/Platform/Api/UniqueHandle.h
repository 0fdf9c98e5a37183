// Move-only owner of one platform handle. Each handle kind gets its own traits type, so a
// registry key can never be closed as a library, and no raw close call appears outside the
// platform layer.
#pragma once

#include <utility>

namespace Qx::Platform {

using NativeHandle = void*;

template <class Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(NativeHandle handle) : m_handle(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    [[nodiscard]] NativeHandle get() const { return m_handle; }
    explicit operator bool() const { return Traits::IsValid(m_handle); }

    [[nodiscard]] NativeHandle release() { return std::exchange(m_handle, nullptr); }

    void reset(NativeHandle handle = nullptr)
    {
        NativeHandle old = std::exchange(m_handle, handle);
        if (Traits::IsValid(old)) {
            Traits::Close(old);
        }
    }

private:
    NativeHandle m_handle = nullptr;
};

} // namespace Qx::Platform
