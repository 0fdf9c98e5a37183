// QxSampleHeartbeat.dll: a minimal service module. While the service runs, it writes a heartbeat
// line every 3 seconds to Logs\QxSampleHeartbeat(<pid>).log beside the host executable.
//
// The pattern to copy: SmInitialize acquires everything that can fail before it starts the worker
// thread, so a failure is reported through the HRESULT and leaves nothing behind; SmShutdown stops
// and joins the thread before it returns, since the host may unload the DLL right after it.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "QxServiceModule.h"

namespace {

constexpr auto kHeartbeatPeriod = std::chrono::seconds(3);

HRESULT HResultFromWin32(DWORD error)
{
    return error == ERROR_SUCCESS ? S_OK : static_cast<HRESULT>((error & 0xFFFF) | 0x80070000u);
}

class Heartbeat {
public:
    Heartbeat() = default;

    ~Heartbeat()
    {
        Stop();
        if (file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
        }
    }

    Heartbeat(const Heartbeat&) = delete;
    Heartbeat& operator=(const Heartbeat&) = delete;

    // Opened for appending only, so each WriteFile lands whole at the end of the file, also when a
    // later run of the same process appends to it.
    DWORD Open(const std::wstring& path)
    {
        file_ = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        return file_ == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    }

    void Start()
    {
        worker_ = std::thread([this] { Run(); });
    }

    void Stop()
    {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable()) {
            worker_.join();
            WriteLine("stopped after heartbeat " + std::to_string(beats_));
        }
    }

private:
    void Run()
    {
        std::unique_lock lock(mutex_);
        do {
            ++beats_;
            WriteLine("heartbeat " + std::to_string(beats_));
        } while (!wake_.wait_for(lock, kHeartbeatPeriod, [this] { return stopping_; }));
    }

    void WriteLine(const std::string& text) const
    {
        SYSTEMTIME now{};
        GetLocalTime(&now);
        char stamp[32];
        std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay,
                      now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
        const std::string line = stamp + text + "\r\n";
        DWORD written = 0;
        WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    unsigned beats_ = 0;
};

Heartbeat* g_heartbeat = nullptr;

std::wstring HostLogsFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path.substr(0, path.find_last_of(L'\\') + 1) + L"Logs\\";
        }
        path.resize(path.size() * 2);
    }
}

} // namespace

// The heartbeat asks the host for nothing, so it leaves the flags at 0.
QX_MODULE_API HRESULT SmInitialize([[maybe_unused]] uint32_t* moduleFlags)
{
    // The host calls SmInitialize and SmShutdown one at a time, never concurrently, so g_heartbeat
    // needs no lock.
    if (g_heartbeat != nullptr) {
        return HResultFromWin32(ERROR_ALREADY_INITIALIZED);
    }
    try {
        const std::wstring folder = HostLogsFolder();
        if (folder.empty()) {
            return HResultFromWin32(GetLastError());
        }
        if ((CreateDirectoryW(folder.c_str(), nullptr) == 0) && GetLastError() != ERROR_ALREADY_EXISTS) {
            return HResultFromWin32(GetLastError());
        }
        auto heartbeat = std::make_unique<Heartbeat>();
        const DWORD error =
            heartbeat->Open(folder + L"QxSampleHeartbeat(" + std::to_wstring(GetCurrentProcessId()) + L").log");
        if (error != ERROR_SUCCESS) {
            return HResultFromWin32(error);
        }
        heartbeat->Start();
        g_heartbeat = heartbeat.release();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        // std::thread reports a thread it could not create as std::system_error.
        return E_FAIL;
    }
}

QX_MODULE_API void SmShutdown(void)
{
    delete g_heartbeat;
    g_heartbeat = nullptr;
}
