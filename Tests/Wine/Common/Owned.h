// Owners of Win32 handles for the Wine tests: each closes what it holds when it goes. Free of gtest,
// like TestFiles.h.
#pragma once

#include <windows.h>

#include <type_traits>
#include <utility>

namespace QxWineTest {

// Holds one Resource and gives it to Release at the end. Null is no resource; for kernel handles
// INVALID_HANDLE_VALUE, which CreateFileW and its kind return on failure, is none too.
template <typename Resource, auto Release>
class Owned {
public:
    Owned() = default;
    explicit Owned(Resource resource) : resource_(resource) {}
    ~Owned() { reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : resource_(other.release()) {}
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    Resource get() const { return resource_; }
    bool valid() const
    {
        if constexpr (std::is_same_v<Resource, HANDLE>) {
            return resource_ != nullptr && resource_ != INVALID_HANDLE_VALUE;
        } else {
            return resource_ != nullptr;
        }
    }
    explicit operator bool() const { return valid(); }

    // For the out parameter of a call that opens one: whatever was held is released first.
    Resource* out()
    {
        reset();
        return &resource_;
    }
    Resource release() { return std::exchange(resource_, nullptr); }
    void reset(Resource resource = nullptr)
    {
        if (valid()) {
            Release(resource_);
        }
        resource_ = resource;
    }

private:
    Resource resource_ = nullptr;
};

using UniqueHandle = Owned<HANDLE, &CloseHandle>;
using UniqueKey = Owned<HKEY, &RegCloseKey>;
using UniqueLibrary = Owned<HMODULE, &FreeLibrary>;
using UniqueServiceHandle = Owned<SC_HANDLE, &CloseServiceHandle>;

} // namespace QxWineTest
