// A number of each thread, kept in a slot of the system's thread-local storage.
#pragma once

#include <windows.h>

#include <cstdint>

namespace QxLogger {

// A number of the calling thread in a slot of the system's thread-local storage. The runtime's
// thread_local is emulated through the threads library here, and its first use on every new thread
// costs tens of microseconds under Wine: each thread of the host paid that for its first record.
// Reading a slot resets the thread's last-error value, which the host's callers may still need.
class ThreadNumber {
public:
    ThreadNumber() : index_(TlsAlloc()) {}
    ~ThreadNumber()
    {
        if (index_ != TLS_OUT_OF_INDEXES) {
            TlsFree(index_);
        }
    }
    ThreadNumber(const ThreadNumber&) = delete;
    ThreadNumber& operator=(const ThreadNumber&) = delete;

    std::intptr_t Get() const
    {
        if (index_ == TLS_OUT_OF_INDEXES) {
            return 0;
        }
        const DWORD lastError = GetLastError();
        const auto value = reinterpret_cast<std::intptr_t>(TlsGetValue(index_));
        SetLastError(lastError);
        return value;
    }

    void Set(std::intptr_t value) const
    {
        if (index_ != TLS_OUT_OF_INDEXES) {
            TlsSetValue(index_, reinterpret_cast<void*>(value));
        }
    }

private:
    DWORD index_;
};

} // namespace QxLogger
