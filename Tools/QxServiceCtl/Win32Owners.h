// One owner type per kind of Win32 handle the tool opens itself. Registry reads and libraries go
// through the platform layer and its owners.
#pragma once

#include <windows.h>

#include <utility>

namespace QxServiceCtl {

template <typename Traits>
class Owner {
public:
    using Handle = typename Traits::Handle;

    Owner() = default;
    explicit Owner(Handle handle) : m_handle(handle) {}
    ~Owner() { reset(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    Owner(Owner&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    Owner& operator=(Owner&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }

    [[nodiscard]] Handle get() const { return m_handle; }
    explicit operator bool() const { return Traits::Valid(m_handle); }
    void reset()
    {
        if (Traits::Valid(m_handle)) {
            Traits::Close(m_handle);
        }
        m_handle = nullptr;
    }

private:
    Handle m_handle = nullptr;
};

struct ServiceTraits {
    using Handle = SC_HANDLE;
    static bool Valid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { CloseServiceHandle(handle); }
};

// Files and events: CreateFileW answers INVALID_HANDLE_VALUE, CreateEventW null.
struct KernelObjectTraits {
    using Handle = HANDLE;
    static bool Valid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { CloseHandle(handle); }
};

struct FindTraits {
    using Handle = HANDLE;
    static bool Valid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { FindClose(handle); }
};

struct KeyTraits {
    using Handle = HKEY;
    static bool Valid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { RegCloseKey(handle); }
};

using ServiceHandle = Owner<ServiceTraits>;
using KernelObject = Owner<KernelObjectTraits>;
using FindHandle = Owner<FindTraits>;
using KeyHandle = Owner<KeyTraits>;

} // namespace QxServiceCtl
