// QxLogger.dll: the file logger the host reaches through IFileLoggerItf. Record format, file
// location, rotation and level configuration are described in README.md beside this file.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Common/ServiceFileSuffixes.h"
#include "Platform/Win32/UniqueWin32Handles.h"
#include "ResKit/Logger/LoggerItf.h"
#include "ResKit/Logger/LoggerSettingsNames.h"
#include "StandInSupport.h"
#include "Win32Support/WholeFile.h"
#include "Win32Support/WideText.h"

namespace {

using Qx::Win32Support::EqualIgnoringCase;
using Qx::Win32Support::FileExists;
using Qx::Win32Support::ReadWholeFile;

constexpr std::uint64_t kDefaultMaxFileSize = 104857600;
constexpr int kDefaultLogLevel = 3;
constexpr DWORD kDefaultKeptLogFiles = 10;

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

const ThreadNumber g_indent;
const ThreadNumber g_inLogger;

// The host logs every first-chance exception from a vectored handler on the faulting thread. A
// fault while this thread is inside the logger would re-enter it and wait on its own lock, so a
// nested call is dropped instead.
class ReentryGuard {
public:
    ReentryGuard() : entered_(g_inLogger.Get() == 0) { g_inLogger.Set(1); }
    ~ReentryGuard()
    {
        if (entered_) {
            g_inLogger.Set(0);
        }
    }
    ReentryGuard(const ReentryGuard&) = delete;
    ReentryGuard& operator=(const ReentryGuard&) = delete;
    explicit operator bool() const { return entered_; }

private:
    bool entered_;
};

// One of the logger's registry keys, kept open between reads: the level is read whenever a logger
// object is created and at every Init, and each open and close of a key is a round trip to the
// system. A key that is missing is looked for again at every read; one deleted while it is open is
// opened again.
class SettingsKey {
public:
    void SetPath(std::wstring path)
    {
        Close();
        path_ = std::move(path);
    }

    // A REG_DWORD of exactly four bytes; anything else counts as no value.
    std::optional<DWORD> ReadDword(const wchar_t* name)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!key_ &&
                RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_QUERY_VALUE, key_.out()) != ERROR_SUCCESS) {
                (void)key_.release(); // what a failed open leaves there is no key
                return std::nullopt;
            }
            DWORD type = REG_NONE;
            DWORD value = 0;
            DWORD size = sizeof(value);
            const LSTATUS status =
                RegQueryValueExW(key_.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
            if (status == ERROR_KEY_DELETED) {
                Close();
                continue;
            }
            if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value)) {
                return std::nullopt;
            }
            return value;
        }
        return std::nullopt;
    }

    void Close() { key_.reset(); }

private:
    std::wstring path_;
    Qx::Platform::UniqueRegKey key_;
};

// The settings of the process, and the service it runs: the service's own value, below
// Services\<service>, wins over the one for every process.
class Settings {
public:
    Settings() { global_.SetPath(LoggerSettingsNames::kLoggerSettingsKey); }

    void SetService(std::wstring service)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        serviceKey_.SetPath(service.empty() ? std::wstring()
                                            : LoggerSettingsNames::kLoggerServiceSettingsKey + service);
        service_ = std::move(service);
    }

    std::wstring Service()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return service_;
    }

    int LogLevel()
    {
        const std::optional<DWORD> value = Read(LoggerSettingsNames::kLogLevel);
        return value ? static_cast<int>(std::min<DWORD>(*value, INT_MAX)) : kDefaultLogLevel;
    }

    DWORD KeptLogFiles() { return Read(LoggerSettingsNames::kKeepLogFiles).value_or(kDefaultKeptLogFiles); }

    // Init reads last; a process that creates no further logger object has no use for the keys.
    void CloseKeys()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        serviceKey_.Close();
        global_.Close();
    }

private:
    std::optional<DWORD> Read(const wchar_t* name)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!service_.empty()) {
            if (const std::optional<DWORD> own = serviceKey_.ReadDword(name)) {
                return own;
            }
        }
        return global_.ReadDword(name);
    }

    std::mutex mutex_;
    std::wstring service_;
    SettingsKey serviceKey_;
    SettingsKey global_;
};

// Bit L for each level L from 1 to maxLevel that has a bit (up to 31).
std::uint32_t LevelMaskOf(int maxLevel)
{
    constexpr int kHighestBit = 31;
    if (maxLevel < 1) {
        return 0;
    }
    const int highest = std::min(maxLevel, kHighestBit);
    const std::uint64_t upToHighest = (std::uint64_t{1} << static_cast<unsigned>(highest + 1)) - 1u;
    return static_cast<std::uint32_t>(upToHighest) & ~1u;
}

// "<service>(<pid>).log" gives the service; a name of another form gives none.
std::wstring ServiceOfLogName(std::wstring_view logName)
{
    const std::size_t open = logName.find_last_of(L'(');
    if (open == std::wstring_view::npos || open == 0) {
        return {};
    }
    std::wstring_view rest = logName.substr(open + 1);
    if (!ServiceFileSuffixes::SkipDigits(rest) || !EqualIgnoringCase(rest, L").log")) {
        return {};
    }
    return std::wstring(logName.substr(0, open));
}

// A file of the service's module log: "<service>(<pid>).log", or a rotated "<service>(<pid>).<n>.log".
// Another service whose name merely starts with this one never matches, since the digits must
// follow the parenthesis directly.
bool IsLogOfService(std::wstring_view fileName, std::wstring_view service)
{
    return fileName.size() > service.size() && EqualIgnoringCase(fileName.substr(0, service.size()), service) &&
           ServiceFileSuffixes::IsModuleLogSuffix(fileName.substr(service.size()));
}

// Deletes all but the newest `keep` files of the service's log in folder; the current file always
// stays and counts among them. keep 0 deletes nothing. A file that cannot be deleted (still open
// without delete sharing, say) simply stays.
void PruneLogs(const std::wstring& folder, const std::wstring& service, const std::wstring& currentPath, DWORD keep)
{
    if (keep == 0 || service.empty()) {
        return;
    }
    struct LogFile {
        std::wstring path;
        ULONGLONG written;
        bool current;
    };
    std::vector<LogFile> files;
    WIN32_FIND_DATAW found{};
    // Only the service's own names: the folder holds the logs of every service beside the host, and
    // going through all of them would make every start slower as they pile up.
    {
        const Qx::Platform::UniqueFindHandle search(FindFirstFileW((folder + service + L"(*").c_str(), &found));
        if (!search) {
            return;
        }
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsLogOfService(found.cFileName, service)) {
                continue;
            }
            std::wstring path = folder + found.cFileName;
            const bool current = EqualIgnoringCase(path, currentPath);
            const ULONGLONG written = (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32u) |
                                      found.ftLastWriteTime.dwLowDateTime;
            files.push_back({std::move(path), written, current});
        } while (FindNextFileW(search.get(), &found) != 0);
    }
    std::sort(files.begin(), files.end(), [](const LogFile& left, const LogFile& right) {
        if (left.current != right.current) {
            return left.current;
        }
        if (left.written != right.written) {
            return left.written > right.written;
        }
        return left.path > right.path;
    });
    for (std::size_t i = keep; i < files.size(); ++i) {
        DeleteFileW(files[i].path.c_str());
    }
}

void AppendNumber(std::wstring& out, unsigned long value, std::size_t width, wchar_t fill)
{
    const std::wstring digits = std::to_wstring(value);
    out.append(width > digits.size() ? width - digits.size() : 0, fill);
    out += digits;
}

// One line: "YYYY-MM-DD HH:MM:SS.mmm    PID    TID SEVER indent+text  [File.cpp:42]", CR LF.
std::string FormatRecord(const wchar_t* severity, const wchar_t* text, const wchar_t* sourceFile, int line)
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::wstring record;
    record.reserve(128);
    const struct {
        WORD value;
        std::size_t width;
        wchar_t after;
    } timeParts[] = {{now.wYear, 4, L'-'},   {now.wMonth, 2, L'-'},  {now.wDay, 2, L' '},         {now.wHour, 2, L':'},
                     {now.wMinute, 2, L':'}, {now.wSecond, 2, L'.'}, {now.wMilliseconds, 3, L' '}};
    for (const auto& part : timeParts) {
        AppendNumber(record, part.value, part.width, L'0');
        record += part.after;
    }
    AppendNumber(record, GetCurrentProcessId(), 6, L' ');
    record += L' ';
    AppendNumber(record, GetCurrentThreadId(), 6, L' ');
    record += L' ';
    const std::wstring severityName = severity != nullptr ? severity : L"";
    record += severityName;
    record.append(severityName.size() < 5 ? 6 - severityName.size() : 1, L' ');
    record.append(2 * static_cast<std::size_t>(g_indent.Get()), L' ');
    const std::size_t textStart = record.size();
    record += text != nullptr ? text : L"";
    // A record is exactly one line, whatever the text holds.
    std::replace_if(
        record.begin() + static_cast<std::ptrdiff_t>(textStart), record.end(),
        [](wchar_t c) { return c == L'\r' || c == L'\n'; }, L' ');
    if (sourceFile != nullptr && *sourceFile != L'\0') {
        const std::wstring path = sourceFile;
        const std::size_t slash = path.find_last_of(L"\\/");
        record += L"  [";
        record += slash == std::wstring::npos ? path : path.substr(slash + 1);
        record += L':';
        record += std::to_wstring(line);
        record += L']';
    }
    return Qx::Win32Support::ToUtf8(record) + "\r\n";
}

// "Foo(12).log" becomes "Foo(12).<n>.log" with the smallest n that is not taken.
std::wstring FreeRotationPath(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::size_t dot = path.find_last_of(L'.');
    const bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    const std::wstring stem = hasExtension ? path.substr(0, dot) : path;
    const std::wstring extension = hasExtension ? path.substr(dot) : L".log";
    for (unsigned long n = 1;; ++n) {
        std::wstring candidate = stem;
        candidate.append(L".").append(std::to_wstring(n)).append(extension);
        if (!FileExists(candidate)) {
            return candidate;
        }
    }
}

HRESULT LastErrorResult()
{
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// The one file writer of the process, shared by every logger object. Files are opened lazily, at
// the first record that needs them, so a run that logs nothing leaves no empty file behind.
class LogWriter {
public:
    LogWriter()
    {
        const std::wstring exe = Qx::Win32Support::ModulePath(nullptr);
        const std::size_t slash = exe.find_last_of(L'\\');
        folder_ = (slash == std::wstring::npos ? std::wstring() : exe.substr(0, slash + 1)) + L"Logs\\";
        std::wstring base = slash == std::wstring::npos ? exe : exe.substr(slash + 1);
        earlyBase_ = base.substr(0, base.find_last_of(L'.'));
        path_ = folder_ + earlyBase_ + L'(' + std::to_wstring(GetCurrentProcessId()) + L").log";
    }

    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    HRESULT Append(const std::string& record)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!file_) {
            const HRESULT hr = OpenFile();
            if (FAILED(hr)) {
                return hr;
            }
        }
        if (size_ != 0 && size_ + record.size() > maxFileSize_) {
            Rotate();
            if (!file_) {
                return E_FAIL;
            }
        }
        return WriteRaw(record);
    }

    // The records written before the first switch, in the file named after the executable, move to
    // the new file so that one file holds the whole run. A file there already under the new name is
    // an earlier process's of the same id (ids are reused): it is kept under the next rotation name,
    // never continued, so that each file holds one process and the service's files are counted right.
    HRESULT SwitchTo(const std::wstring& logName, std::uint64_t maxFileSize)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        maxFileSize_ = maxFileSize;
        const std::wstring target = folder_ + logName;
        if (CompareStringOrdinal(target.c_str(), -1, path_.c_str(), -1, TRUE) == CSTR_EQUAL) {
            early_ = false;
            return S_OK;
        }
        const bool earlyFileOpened = early_ && file_;
        file_.reset();
        const std::wstring previous = path_;
        path_ = target;
        if (FileExists(target)) {
            MoveFileExW(target.c_str(), FreeRotationPath(target).c_str(), 0);
        }
        if (!early_) {
            return S_OK;
        }
        // The named file is new in practice, and then the early file simply takes its name.
        if (earlyFileOpened && (MoveFileExW(previous.c_str(), target.c_str(), 0) != 0)) {
            early_ = false;
            return S_OK;
        }
        // Only this run's early records move: a file another run left under the early name stays.
        const std::string carried = earlyFileOpened ? ReadWholeFile(previous).value_or(std::string()) : std::string();
        if (!carried.empty()) {
            HRESULT hr = OpenFile();
            if (SUCCEEDED(hr)) {
                hr = WriteRaw(carried);
            }
            if (FAILED(hr)) {
                file_.reset();
                path_ = previous;
                return hr;
            }
        }
        early_ = false;
        if (earlyFileOpened) {
            DeleteFileW(previous.c_str());
        }
        return S_OK;
    }

    std::wstring CurrentPath() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return path_;
    }

    const std::wstring& Folder() const { return folder_; }
    int Level() const { return level_.load(); }
    const LoggerLevelMask& LevelMask() const { return levelMask_; }

    // The level and its mask change together, so that no reload leaves a mask of another level.
    void ReloadLevel()
    {
        const int level = settings_.LogLevel();
        const std::lock_guard<std::mutex> lock(levelMutex_);
        level_.store(level);
        levelMask_.store(LevelMaskOf(level));
    }

    // From the first Init on, the service's own settings apply to the whole process.
    void SetService(std::wstring service)
    {
        settings_.SetService(std::move(service));
        ReloadLevel();
    }

    // A service named like the executable has logs named like every run's early log, which are no
    // service's to delete: its logs are then all kept.
    void PruneServiceLogs()
    {
        if (!EqualIgnoringCase(settings_.Service(), earlyBase_)) {
            PruneLogs(folder_, settings_.Service(), CurrentPath(), settings_.KeptLogFiles());
        }
    }

    void CloseSettingsKeys() { settings_.CloseKeys(); }

private:
    HRESULT OpenFile()
    {
        CreateDirectoryW(folder_.c_str(), nullptr);
        if (early_ && !earlyFileCreated_) {
            // The early file is this run's own. One that an earlier process of the same id left is
            // kept aside under the next rotation name, never continued.
            earlyFileCreated_ = true;
            if (FileExists(path_)) {
                MoveFileExW(path_.c_str(), FreeRotationPath(path_).c_str(), 0);
            }
        }
        file_.reset(CreateFileW(path_.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) {
            return LastErrorResult();
        }
        LARGE_INTEGER size{};
        size_ = GetFileSizeEx(file_.get(), &size) != 0 ? static_cast<std::uint64_t>(size.QuadPart) : 0;
        return S_OK;
    }

    // When the rename fails the current file is simply reopened and grows; the next record tries again.
    void Rotate()
    {
        file_.reset();
        MoveFileExW(path_.c_str(), FreeRotationPath(path_).c_str(), 0);
        OpenFile();
    }

    HRESULT WriteRaw(const std::string& bytes)
    {
        DWORD written = 0;
        const BOOL ok = WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        size_ += written;
        return ok != 0 ? S_OK : LastErrorResult();
    }

    mutable std::mutex mutex_;
    std::wstring folder_;
    std::wstring path_;
    std::wstring earlyBase_;
    bool early_ = true;
    bool earlyFileCreated_ = false;
    Qx::Platform::UniqueKernelHandle file_;
    std::uint64_t size_ = 0;
    std::uint64_t maxFileSize_ = kDefaultMaxFileSize;
    Settings settings_;
    std::mutex levelMutex_;
    std::atomic<int> level_{kDefaultLogLevel};
    LoggerLevelMask levelMask_{LevelMaskOf(kDefaultLogLevel)};
};

// Built when the library is loaded rather than at its first use: the thread-safe guard of a
// function-local static sets up the threads library's one-time machinery at the first call, a few
// round trips to the system for nothing, since the first call comes right after the load anyway.
LogWriter g_writer;

LogWriter& Writer()
{
    return g_writer;
}

bool LevelEnabled(int level)
{
    return level >= 1 && level <= Writer().Level();
}

// Part of its logger object; each string it answers lives until the next call of the same query.
class CLogSettings final : public ILogSettings {
public:
    void* DeletingDestructor(unsigned int) noexcept override { return this; }

    const wchar_t* Value1() const noexcept override
    {
        return Answer(path_, [] { return Writer().CurrentPath(); });
    }

    const wchar_t* Value2() const noexcept override
    {
        return Answer(folder_, [] {
            const std::wstring& folder = Writer().Folder();
            return folder.substr(0, folder.size() - 1);
        });
    }

    int Number1() const noexcept override
    {
        try {
            return Writer().Level();
        } catch (...) {
            return 0;
        }
    }

    int Number2() const noexcept override { return 0; }

private:
    template <typename Query>
    static const wchar_t* Answer(std::wstring& kept, Query query) noexcept
    {
        try {
            kept = query();
        } catch (...) {
            kept.clear();
        }
        return kept.c_str();
    }

    mutable std::wstring path_;
    mutable std::wstring folder_;
};

class CFileLogger final : public IFileLoggerItf {
public:
    CFileLogger() { Writer().ReloadLevel(); }

    void* DeletingDestructor(unsigned int flags) noexcept override { return DeletingDestructorOf(this, flags); }

    HRESULT Init(const wchar_t* logName, const wchar_t* title, bool,
                 LogUtils::SModuleLogInit* settings) noexcept override
    {
        const ReentryGuard guard;
        if (!guard) {
            return E_FAIL;
        }
        try {
            const HRESULT result = SwitchAndReload(logName, title, settings);
            Writer().CloseSettingsKeys();
            return result;
        } catch (...) {
            return E_FAIL;
        }
    }

    void Reserved() noexcept override {}

    HRESULT Write(const wchar_t* sourceFile, int line, const wchar_t* text, int level,
                  const wchar_t* severity) noexcept override
    {
        try {
            const ReentryGuard guard;
            if (!guard || !LevelEnabled(level)) {
                return S_FALSE;
            }
            return Writer().Append(FormatRecord(severity, text, sourceFile, line));
        } catch (...) {
            return E_FAIL;
        }
    }

    void ChangeIndent(int delta) noexcept override
    {
        const long long indent = static_cast<long long>(g_indent.Get()) + delta;
        g_indent.Set(static_cast<std::intptr_t>(std::clamp<long long>(indent, 0, INT_MAX)));
    }

    bool IsEnabled(int level) noexcept override
    {
        try {
            return LevelEnabled(level);
        } catch (...) {
            return false;
        }
    }

    ILogSettings& GetSettings() noexcept override { return settings_; }

private:
    static HRESULT SwitchAndReload(const wchar_t* logName, const wchar_t* title, LogUtils::SModuleLogInit* settings)
    {
        // Every Init reads the level once: on the way out of a failure, or with the service's
        // own value once the service is set.
        LogWriter& writer = Writer();
        if (logName == nullptr || *logName == L'\0') {
            writer.ReloadLevel();
            return E_INVALIDARG;
        }
        std::uint64_t maxFileSize = kDefaultMaxFileSize;
        if (settings != nullptr) {
            const auto* data = reinterpret_cast<const LogUtils::SModuleLogInitData*>(settings);
            maxFileSize = data->maxFileSize != 0 ? data->maxFileSize : kDefaultMaxFileSize;
        }
        if (const HRESULT hr = writer.SwitchTo(logName, maxFileSize); FAILED(hr)) {
            writer.ReloadLevel();
            return hr;
        }
        writer.SetService(ServiceOfLogName(logName));
        HRESULT result = S_OK;
        if (writer.Level() >= 1) {
            const std::wstring header = L"==== " + std::wstring(title != nullptr ? title : L"") + L" (LogLevel " +
                                        std::to_wstring(writer.Level()) + L") ====";
            result = writer.Append(FormatRecord(L"INFO", header.c_str(), nullptr, 0));
        }
        // After the header, so that the new file exists and is never taken for an old one.
        writer.PruneServiceLogs();
        return result;
    }

    CLogSettings settings_;
};

} // namespace

// The log folder is found from the process's executable, so the host's instance handle is not needed.
extern "C" __declspec(dllexport) IFileLoggerItf* LoggerLibAPI_GetLogger(HINSTANCE)
{
    try {
        return new CFileLogger();
    } catch (...) {
        return nullptr;
    }
}

// The level is the process's, so every object shares the writer's word, which lives as long as the
// library stays loaded.
extern "C" __declspec(dllexport) const LoggerLevelMask* LoggerLibAPI_GetLevelMask(IFileLoggerItf* logger)
{
    try {
        return logger != nullptr ? &Writer().LevelMask() : nullptr;
    } catch (...) {
        return nullptr;
    }
}
