#include "DumpFiles.h"

#include "HostHarness.h"

#include <algorithm>
#include <regex>

namespace Qx::Testing {

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
    const Qx::Platform::UniqueFindHandle search(
        FindFirstFileW((folder + std::wstring(baseName) + L"_*.dmp").c_str(), &found));
    if (!search) {
        return names;
    }
    do {
        names.emplace_back(found.cFileName);
    } while (FindNextFileW(search.get(), &found) != 0);
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
    if (SystemTimeToFileTime(&time, &file) == 0) {
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

} // namespace Qx::Testing
