// The one file writer of the process and the records it writes.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "LoggerSettings.h"
#include "Platform/Win32/UniqueWin32Handles.h"
#include "ResKit/Logger/LoggerItf.h"

namespace QxLogger {

// One line: "YYYY-MM-DD HH:MM:SS.mmm    PID    TID SEVER indent+text  [File.cpp:42]", CR LF, the
// text indented by two spaces for each step of indent.
std::string FormatRecord(const wchar_t* severity, const wchar_t* text, const wchar_t* sourceFile, int line,
                         std::size_t indent);

// Shared by every logger object. Files are opened lazily, at the first record that needs them, so a
// run that logs nothing leaves no empty file behind.
class LogWriter {
public:
    LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    HRESULT Append(const std::string& record);

    // The records written before the first switch, in the file named after the executable, move to
    // the new file so that one file holds the whole run. A file there already under the new name is
    // an earlier process's of the same id (ids are reused): it is kept under the next rotation name,
    // never continued, so that each file holds one process and the service's files are counted right.
    HRESULT SwitchTo(const std::wstring& logName, std::uint64_t maxFileSize);

    std::wstring CurrentPath() const;
    const std::wstring& Folder() const { return folder_; }
    int Level() const { return level_.load(); }
    const LoggerLevelMask& LevelMask() const { return levelMask_; }

    // The level and its mask change together, so that no reload leaves a mask of another level.
    void ReloadLevel();

    // From the first Init on, the service's own settings apply to the whole process.
    void SetService(std::wstring service);

    // A service named like the executable has logs named like every run's early log, which are no
    // service's to delete: its logs are then all kept.
    void PruneServiceLogs();

    void CloseSettingsKeys() { settings_.CloseKeys(); }

private:
    HRESULT OpenFile();
    // When the rename fails the current file is simply reopened and grows; the next record tries again.
    void Rotate();
    HRESULT WriteRaw(const std::string& bytes);

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

LogWriter& Writer();

} // namespace QxLogger
