// QxLogger.dll: the file logger the host reaches through IFileLoggerItf. Record format, file
// location, rotation and level configuration are described in README.md beside this file. This file
// holds the logger objects and the exports; the settings, the log files and the writer have their own.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "LogFiles.h"
#include "LogWriter.h"
#include "ResKit/Logger/LoggerItf.h"
#include "ThreadNumber.h"

using namespace QxLogger;

namespace {

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
            return Writer().Append(
                FormatRecord(severity, text, sourceFile, line, static_cast<std::size_t>(g_indent.Get())));
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
            result = writer.Append(FormatRecord(L"INFO", header.c_str(), nullptr, 0, 0));
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
