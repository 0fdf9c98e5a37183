#include "DumpFiles.h"

#include "HostHarness.h"

#include <dbghelp.h>

#include <algorithm>
#include <cstring>
#include <regex>

namespace QxE2E {

namespace {

// "MDMP" read as a little-endian number; dbghelp.h spells it as a multi-character constant.
constexpr std::uint32_t kMiniDumpSignature = 0x504D444D;

std::string ReadWholeFile(const std::wstring& path, bool& opened)
{
    std::string content;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    opened = file != INVALID_HANDLE_VALUE;
    if (!opened) {
        return content;
    }
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read != 0) {
        content.append(chunk, read);
    }
    CloseHandle(file);
    return content;
}

// The structure of type T at offset, if the file holds all of it.
template <typename T>
std::optional<T> At(const std::string& content, std::uint64_t offset)
{
    if (offset > content.size() || content.size() - offset < sizeof(T)) {
        return std::nullopt;
    }
    T value;
    std::memcpy(&value, content.data() + offset, sizeof(T));
    return value;
}

const char* StreamName(std::uint32_t type)
{
    switch (type) {
    case ThreadListStream:
        return "ThreadList";
    case ModuleListStream:
        return "ModuleList";
    case MemoryListStream:
        return "MemoryList";
    case ExceptionStream:
        return "Exception";
    case SystemInfoStream:
        return "SystemInfo";
    case MiscInfoStream:
        return "MiscInfo";
    default:
        return nullptr;
    }
}

std::string Describe(const MiniDump& dump)
{
    std::string text = "\n  streams:";
    for (const std::uint32_t type : dump.streamTypes) {
        const char* name = StreamName(type);
        text += ' ';
        text += name != nullptr ? std::string(name) : std::to_string(type);
    }
    return text;
}

} // namespace

std::wstring ServiceTempDirectory()
{
    if (RunningOnWine()) {
        wchar_t path[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathW(MAX_PATH, path);
        return std::wstring(path, length <= MAX_PATH ? length : 0);
    }
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows, length < MAX_PATH ? length : 0) + L"\\Temp\\";
}

std::vector<std::wstring> DumpFilesOf(const std::wstring& folder, std::wstring_view baseName)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + std::wstring(baseName) + L"_*.dmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        names.emplace_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void DeleteDumpFilesOf(const std::wstring& folder, std::wstring_view baseName)
{
    for (const std::wstring& name : DumpFilesOf(folder, baseName)) {
        EXPECT_TRUE(DeleteFileW((folder + name).c_str())) << ToUtf8(folder + name) << ": " << GetLastError();
    }
}

std::uint64_t SecondsOf(const SYSTEMTIME& time)
{
    FILETIME file{};
    if (!SystemTimeToFileTime(&time, &file)) {
        return 0;
    }
    return ((static_cast<std::uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime) / 10000000;
}

std::uint64_t LocalSecondsNow()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return SecondsOf(now);
}

::testing::AssertionResult IsDumpFileName(const std::wstring& name, std::wstring_view baseName, std::uint32_t code,
                                          std::uint64_t notBefore, std::uint64_t notAfter)
{
    const std::string expectedStart = ToUtf8(baseName) + "_" + Hex(code).substr(2) + "_";
    const std::string text = ToUtf8(name);
    static const std::regex kStamp(R"(^(\d{4})_(\d{2})_(\d{2})__(\d{2})_(\d{2})_(\d{2})\.dmp$)");
    std::smatch stamp;
    const std::string rest = text.starts_with(expectedStart) ? text.substr(expectedStart.size()) : std::string();
    if (!std::regex_match(rest, stamp, kStamp)) {
        return ::testing::AssertionFailure()
               << "\"" << text << "\" is not \"" << expectedStart << "yyyy_mm_dd__hh_mm_ss.dmp\"";
    }
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(std::stoi(stamp[1]));
    time.wMonth = static_cast<WORD>(std::stoi(stamp[2]));
    time.wDay = static_cast<WORD>(std::stoi(stamp[3]));
    time.wHour = static_cast<WORD>(std::stoi(stamp[4]));
    time.wMinute = static_cast<WORD>(std::stoi(stamp[5]));
    time.wSecond = static_cast<WORD>(std::stoi(stamp[6]));
    const std::uint64_t seconds = SecondsOf(time);
    if (seconds < notBefore || seconds > notAfter) {
        return ::testing::AssertionFailure()
               << "\"" << text << "\" names a time outside the run ("
               << (seconds < notBefore ? notBefore - seconds : seconds - notAfter) << " s off)";
    }
    return ::testing::AssertionSuccess();
}

bool MiniDump::HasStream(std::uint32_t type) const
{
    return std::find(streamTypes.begin(), streamTypes.end(), type) != streamTypes.end();
}

MiniDump ReadMiniDump(const std::wstring& path)
{
    MiniDump dump;
    bool opened = false;
    const std::string content = ReadWholeFile(path, opened);
    if (!opened) {
        dump.problem = "cannot open " + ToUtf8(path) + ": " + std::to_string(GetLastError());
        return dump;
    }
    const auto header = At<MINIDUMP_HEADER>(content, 0);
    if (!header || header->Signature != kMiniDumpSignature || LOWORD(header->Version) != MINIDUMP_VERSION) {
        dump.problem = "no minidump header (" + std::to_string(content.size()) + " bytes)";
        return dump;
    }
    for (ULONG32 i = 0; i < header->NumberOfStreams; ++i) {
        const auto entry =
            At<MINIDUMP_DIRECTORY>(content, header->StreamDirectoryRva + std::uint64_t{i} * sizeof(MINIDUMP_DIRECTORY));
        if (!entry) {
            dump.problem = "the stream directory runs past the end of the file";
            return dump;
        }
        if (entry->StreamType == UnusedStream) {
            continue;
        }
        if (std::uint64_t{entry->Location.Rva} + entry->Location.DataSize > content.size()) {
            dump.problem = "stream " + std::to_string(entry->StreamType) + " runs past the end of the file";
            return dump;
        }
        dump.streamTypes.push_back(entry->StreamType);
        if (entry->StreamType == ExceptionStream) {
            const auto stream = At<MINIDUMP_EXCEPTION_STREAM>(content, entry->Location.Rva);
            if (!stream || stream->ExceptionRecord.NumberParameters > EXCEPTION_MAXIMUM_PARAMETERS) {
                dump.problem = "malformed exception stream";
                return dump;
            }
            const MINIDUMP_EXCEPTION& record = stream->ExceptionRecord;
            dump.exception =
                MiniDumpException{stream->ThreadId,
                                  record.ExceptionCode,
                                  record.ExceptionFlags,
                                  record.ExceptionAddress,
                                  {record.ExceptionInformation, record.ExceptionInformation + record.NumberParameters}};
        }
    }
    dump.valid = true;
    return dump;
}

::testing::AssertionResult IsWholeMiniDump(const MiniDump& dump, bool withException)
{
    if (!dump.valid) {
        return ::testing::AssertionFailure() << dump.problem;
    }
    for (const std::uint32_t type : {ThreadListStream, ModuleListStream, SystemInfoStream}) {
        if (!dump.HasStream(type)) {
            return ::testing::AssertionFailure() << "no " << StreamName(type) << " stream" << Describe(dump);
        }
    }
    if (dump.exception.has_value() != withException) {
        return ::testing::AssertionFailure()
               << (withException ? "no exception stream" : "an exception stream") << Describe(dump);
    }
    return ::testing::AssertionSuccess();
}

} // namespace QxE2E
