// One owner type per kind of Win32 handle the tool opens itself: each closes what it holds when it
// goes. Registry reads and libraries go through the platform layer and its owners. Header only and
// free of the tool's other code, so that the Wine tests own their handles with the same types.
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
    Owner(Owner&& other) noexcept : m_handle(other.release()) {}
    Owner& operator=(Owner&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    [[nodiscard]] Handle get() const { return m_handle; }
    explicit operator bool() const { return Traits::Valid(m_handle); }

    // For the out parameter of a call that opens one: whatever was held is closed first.
    [[nodiscard]] Handle* out()
    {
        reset();
        return &m_handle;
    }
    Handle release() { return std::exchange(m_handle, nullptr); }
    void reset(Handle handle = nullptr)
    {
        if (Traits::Valid(m_handle)) {
            Traits::Close(m_handle);
        }
        m_handle = handle;
    }

private:
    Handle m_handle = nullptr;
};

struct ServiceTraits {
    using Handle = SC_HANDLE;
    static bool Valid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { CloseServiceHandle(handle); }
};

// Files, events, processes: CreateFileW answers INVALID_HANDLE_VALUE, the others null.
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
