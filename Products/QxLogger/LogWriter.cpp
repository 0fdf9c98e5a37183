#include "LogWriter.h"

#include <algorithm>
#include <optional>

#include "LogFiles.h"
#include "Win32Support/ModuleFiles.h"
#include "Win32Support/WholeFile.h"
#include "Win32Support/WideText.h"

namespace QxLogger {

namespace {

using Qx::Win32Support::EqualIgnoringCase;
using Qx::Win32Support::FileExists;
using Qx::Win32Support::ReadWholeFile;

HRESULT LastErrorResult()
{
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

void AppendNumber(std::wstring& out, unsigned long value, std::size_t width, wchar_t fill)
{
    const std::wstring digits = std::to_wstring(value);
    out.append(width > digits.size() ? width - digits.size() : 0, fill);
    out += digits;
}

} // namespace

std::string FormatRecord(const wchar_t* severity, const wchar_t* text, const wchar_t* sourceFile, int line,
                         std::size_t indent)
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
    record.append(2 * indent, L' ');
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

LogWriter::LogWriter()
{
    const std::wstring exe = Qx::Win32Support::ModulePath(nullptr);
    const std::size_t slash = exe.find_last_of(L'\\');
    folder_ = (slash == std::wstring::npos ? std::wstring() : exe.substr(0, slash + 1)) + L"Logs\\";
    std::wstring base = slash == std::wstring::npos ? exe : exe.substr(slash + 1);
    earlyBase_ = base.substr(0, base.find_last_of(L'.'));
    path_ = folder_ + earlyBase_ + L'(' + std::to_wstring(GetCurrentProcessId()) + L").log";
}

HRESULT LogWriter::Append(const std::string& record)
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

HRESULT LogWriter::SwitchTo(const std::wstring& logName, std::uint64_t maxFileSize)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    maxFileSize_ = maxFileSize;
    const std::wstring target = folder_ + logName;
    if (EqualIgnoringCase(target, path_)) {
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
    // Only this run's early records move: a file another run left under the early name stays. Early
    // records that cannot be read stay where they are, and so does the log.
    std::string carried;
    if (earlyFileOpened) {
        std::optional<std::string> content = ReadWholeFile(previous);
        if (!content) {
            path_ = previous;
            return LastErrorResult();
        }
        carried = std::move(*content);
    }
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

std::wstring LogWriter::CurrentPath() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

void LogWriter::ReloadLevel()
{
    const int level = settings_.LogLevel();
    const std::lock_guard<std::mutex> lock(levelMutex_);
    level_.store(level);
    levelMask_.store(LevelMaskOf(level));
}

void LogWriter::SetService(std::wstring service)
{
    settings_.SetService(std::move(service));
    ReloadLevel();
}

void LogWriter::PruneServiceLogs()
{
    if (!EqualIgnoringCase(settings_.Service(), earlyBase_)) {
        PruneLogs(folder_, settings_.Service(), CurrentPath(), settings_.KeptLogFiles());
    }
}

HRESULT LogWriter::OpenFile()
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

void LogWriter::Rotate()
{
    file_.reset();
    MoveFileExW(path_.c_str(), FreeRotationPath(path_).c_str(), 0);
    OpenFile();
}

HRESULT LogWriter::WriteRaw(const std::string& bytes)
{
    DWORD written = 0;
    const BOOL ok = WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    size_ += written;
    return ok != 0 ? S_OK : LastErrorResult();
}

// Built when the library is loaded rather than at its first use: the thread-safe guard of a
// function-local static sets up the threads library's one-time machinery at the first call, a few
// round trips to the system for nothing, since the first call comes right after the load anyway.
namespace {
LogWriter g_writer;
} // namespace

LogWriter& Writer()
{
    return g_writer;
}

} // namespace QxLogger
