#include "HostHarness.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iostream>
#include <regex>

namespace Qx::Testing {

namespace {

constexpr const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr std::string_view kWinMainFailed = "WinMain failed: ";

using Qx::Platform::UniqueKernelHandle;
using Qx::Platform::UniqueRegKey;

LSTATUS SetParameter(std::wstring_view service, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    return SetVolatileValue(ParametersKeyPath(service), name, type, data, size);
}

// This process's environment block, with folder in front of PATH unless it is empty.
std::vector<wchar_t> EnvironmentWithPathFirst(const std::wstring& folder)
{
    std::vector<wchar_t> block;
    wchar_t* const strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
        std::wstring variable = entry;
        if (!folder.empty() && _wcsnicmp(entry, L"PATH=", 5) == 0) {
            variable.insert(5, folder + L";");
        }
        block.insert(block.end(), variable.c_str(), variable.c_str() + variable.size() + 1);
    }
    FreeEnvironmentStringsW(strings);
    block.push_back(L'\0');
    return block;
}

// Windows paths compare without regard to case.
bool EqualIgnoringCase(const std::string& left, const std::string& right)
{
    return Qx::Win32Support::EqualIgnoringCase(Wide(left), Wide(right));
}

// "YYYY-MM-DD HH:MM:SS.mmm    PID    TID SEVER text  [File.cpp:42]": the severity is padded to five
// characters and followed by one space, then come the indentation and the text.
LogRecord ParseRecord(std::string line)
{
    static const std::regex kRecord(
        R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} +(\d+) +(\d+) (\S+) +(.*?)(?:  \[[^\[\]]+:\d+\])?$)");
    LogRecord record;
    std::smatch match;
    if (std::regex_match(line, match, kRecord)) {
        record.processId = static_cast<DWORD>(std::stoul(match[1]));
        record.threadId = static_cast<DWORD>(std::stoul(match[2]));
        record.severity = match[3];
        record.text = match[4];
        const auto severityStart = static_cast<std::size_t>(match.position(3));
        const std::size_t textColumn = severityStart + std::max<std::size_t>(record.severity.size(), 5) + 1;
        const auto textEnd = static_cast<std::size_t>(match.position(4) + match.length(4));
        record.indentedText = textEnd > textColumn ? line.substr(textColumn, textEnd - textColumn) : "";
    } else {
        record.text = line;
        record.indentedText = line;
    }
    record.line = std::move(line);
    return record;
}

} // namespace

std::string Dump(const LogFile& log)
{
    if (!log.exists) {
        return "\n  (the log file does not exist)";
    }
    std::string dump = "\n  log:";
    for (const auto& record : log.records) {
        dump += "\n  | " + record.line;
    }
    return dump;
}

std::wstring Wide(std::string_view utf8)
{
    if (utf8.empty()) {
        return {};
    }
    const int length = static_cast<int>(utf8.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), size);
    return wide;
}

std::string Hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

void WriteNewFile(const std::wstring& path, const std::string& text)
{
    const UniqueKernelHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << ToUtf8(path) << ": " << GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    EXPECT_EQ(text.size(), written);
}

bool TestModulesBuiltInMicrosoftAbi()
{
    char abi[16] = {};
    const DWORD length = GetEnvironmentVariableA("QX_TEST_MODULES_ABI", abi, sizeof(abi));
    return std::string_view(abi, length < sizeof(abi) ? length : 0) == "msvc";
}

std::string TestModuleRuntimeErrorType()
{
    return TestModulesBuiltInMicrosoftAbi() ? ".?AVruntime_error@std@@" : "St13runtime_error";
}

std::wstring BinDirectory()
{
    return Qx::Testing::ExecutableDirectory();
}

std::wstring HostPath()
{
    return BinDirectory() + L"QxServiceHost.exe";
}

HostRun RunHost(std::wstring_view arguments, DWORD timeoutMs)
{
    return RunHost(arguments, HostLaunch{}, timeoutMs);
}

HostRun RunHost(std::wstring_view arguments, const HostLaunch& launch, DWORD timeoutMs)
{
    const std::wstring host = launch.hostFolder + L"QxServiceHost.exe";
    std::wstring commandLine = L"\"" + host + L"\"";
    if (!arguments.empty()) {
        commandLine += L" ";
        commandLine += arguments;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    HostRun run;
    const ULONGLONG started = GetTickCount64();
    std::vector<wchar_t> environment = EnvironmentWithPathFirst(launch.pathFolder);
    const auto create = [&] {
        return CreateProcessW(host.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                              environment.data(), launch.currentFolder.c_str(), &startup, &info) != 0;
    };
    if (!LaunchedDespiteWineInternalError(create)) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return run;
    }
    const UniqueKernelHandle process(info.hProcess);
    const UniqueKernelHandle thread(info.hThread);
    run.processId = info.dwProcessId;
    const DWORD wait = WaitForSingleObject(process.get(), timeoutMs);
    if (wait != WAIT_OBJECT_0) {
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), wait) << "waiting for the host failed: " << GetLastError();
        TerminateProcess(process.get(), kNoExitCode);
        WaitForSingleObject(process.get(), 5000);
        run.timedOut = true;
    }
    run.elapsedMs = GetTickCount64() - started;
    EXPECT_TRUE(GetExitCodeProcess(process.get(), &run.exitCode)) << GetLastError();
    EXPECT_FALSE(run.timedOut) << "the host did not end within " << timeoutMs << " ms and was killed";
    return run;
}

void NoteSlowHandRun(const HostRun& run)
{
    if (run.elapsedMs > 5000) {
        std::cout << "[   WINE   ] the hand-run took " << run.elapsedMs
                  << " ms: Wine waits on a running service's control pipe before 1063 (not a failure)\n";
    }
}

std::wstring UniqueServiceName(std::string_view test)
{
    return L"QxE2E_" + std::wstring(test.begin(), test.end()) + L"_" + std::to_wstring(GetCurrentProcessId());
}

std::wstring ServiceKeyPath(std::wstring_view service)
{
    return kServicesKey + std::wstring(service);
}

std::wstring ParametersKeyPath(std::wstring_view service)
{
    return ServiceKeyPath(service) + L"\\Parameters";
}

std::wstring TestModulesKeyPath(std::wstring_view service)
{
    return ServiceKeyPath(service) + L"\\TestModules";
}

std::wstring WatchDogGuardPath(std::wstring_view service)
{
    return ServiceKeyPath(service) + L"\\WatchDogGuard";
}

LSTATUS OpenKeyStatus(const std::wstring& path)
{
    UniqueRegKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.out());
}

LSTATUS SetParameterString(std::wstring_view service, const wchar_t* name, std::wstring_view value, DWORD type)
{
    const std::wstring terminated(value);
    return SetParameter(service, name, type, terminated.c_str(),
                        static_cast<DWORD>((terminated.size() + 1) * sizeof(wchar_t)));
}

LSTATUS SetParameterDword(std::wstring_view service, const wchar_t* name, DWORD value)
{
    return SetParameter(service, name, REG_DWORD, &value, sizeof(value));
}

LSTATUS SetParameterQword(std::wstring_view service, const wchar_t* name, ULONGLONG value)
{
    return SetParameter(service, name, REG_QWORD, &value, sizeof(value));
}

LSTATUS SetParameterRaw(std::wstring_view service, const wchar_t* name, DWORD type, const std::vector<BYTE>& data)
{
    // For string types RegSetValueExW adds a NUL of its own when the data does not end in one but
    // the unit just past it is one. Non-NUL bytes behind the data keep the value exactly as given.
    std::vector<BYTE> buffer(data);
    buffer.insert(buffer.end(), 4, 0xFF);
    return SetParameter(service, name, type, buffer.data(), static_cast<DWORD>(data.size()));
}

LSTATUS DeleteParameter(std::wstring_view service, const wchar_t* name)
{
    UniqueRegKey key;
    const LSTATUS status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, ParametersKeyPath(service).c_str(), 0, KEY_SET_VALUE, key.out());
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return RegDeleteValueW(key.get(), name);
}

LSTATUS SetVolatileValue(const std::wstring& keyPath, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    UniqueRegKey key;
    const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                           KEY_SET_VALUE, nullptr, key.out(), nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

LSTATUS DeleteServiceKey(std::wstring_view service)
{
    return RegDeleteTreeW(HKEY_LOCAL_MACHINE, ServiceKeyPath(service).c_str());
}

std::wstring LogPath(std::wstring_view logBase, DWORD processId, const std::wstring& folder)
{
    return folder + L"Logs\\" + std::wstring(logBase) + L"(" + std::to_wstring(processId) + L").log";
}

std::wstring EarlyLogPath(DWORD processId)
{
    return LogPath(L"QxServiceHost", processId);
}

void DeleteLogsOf(const std::wstring& folder, DWORD processId)
{
    const std::wstring logs = folder + L"Logs\\";
    WIN32_FIND_DATAW found{};
    const Qx::Platform::UniqueFindHandle search(
        FindFirstFileW((logs + L"*(" + std::to_wstring(processId) + L")*.log").c_str(), &found));
    if (!search) {
        return;
    }
    do {
        DeleteFileW((logs + found.cFileName).c_str());
    } while (FindNextFileW(search.get(), &found) != 0);
}

LogFile ReadLog(const std::wstring& path)
{
    LogFile log;
    std::optional<std::string> read = Qx::Testing::ReadWholeFile(path);
    if (!read) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError()) << "cannot open " << ToUtf8(path);
        return log;
    }
    log.exists = true;
    std::string content = std::move(*read);
    if (content.starts_with("\xEF\xBB\xBF")) {
        content.erase(0, 3);
    }
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        std::string line = content.substr(start, end - start);
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        log.records.push_back(ParseRecord(std::move(line)));
        start = end + 1;
    }
    return log;
}

::testing::AssertionResult HasRecordsInOrder(const LogFile& log, const std::vector<std::string>& texts)
{
    auto record = log.records.begin();
    for (const auto& text : texts) {
        while (record != log.records.end() && record->text != text) {
            ++record;
        }
        if (record == log.records.end()) {
            return ::testing::AssertionFailure() << "no record \"" << text << "\" (in this order)" << Dump(log);
        }
        ++record;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult HasNoRecordStartingWith(const LogFile& log, std::string_view prefix)
{
    if (!log.exists) {
        return ::testing::AssertionFailure() << Dump(log);
    }
    for (const auto& record : log.records) {
        if (record.text.starts_with(prefix)) {
            return ::testing::AssertionFailure() << "unexpected record \"" << record.text << "\"" << Dump(log);
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult HasExceptionRecord(const LogFile& log, std::string_view context, HRESULT hr,
                                              const std::optional<std::string>& description)
{
    const LogRecord* failure = nullptr;
    for (const auto& record : log.records) {
        if (record.text.starts_with(context)) {
            failure = &record;
        }
    }
    if (failure == nullptr) {
        return ::testing::AssertionFailure() << "no record \"" << context << "...\"" << Dump(log);
    }
    char code[16];
    std::snprintf(code, sizeof(code), " 0x%lX", static_cast<unsigned long>(hr));
    const std::string head = std::string(context) + description.value_or(ErrorDescription(hr)) + "\x7F[EIP: ";
    const std::string tail = std::string("]") + code;
    static const std::regex kAddresses(R"(^(0x[0-9A-F]{16},){0,4}0x[0-9A-F]{16}$)");
    const std::string& text = failure->text;
    if (failure->severity != "ERROR" || !text.starts_with(head) || !text.ends_with(tail) ||
        text.size() < head.size() + tail.size() ||
        !std::regex_match(text.substr(head.size(), text.size() - head.size() - tail.size()), kAddresses)) {
        return ::testing::AssertionFailure() << "expected an ERROR record \"" << head << "<addresses>" << tail
                                             << "\", got \"" << failure->line << "\"" << Dump(log);
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult HasWinMainFailure(const LogFile& log, HRESULT hr)
{
    return HasExceptionRecord(log, kWinMainFailed, hr);
}

::testing::AssertionResult HasModuleInfoBlock(const LogFile& log, const std::wstring& hostPath,
                                              std::string_view version)
{
    const std::string path = ToUtf8(hostPath);
    const auto& records = log.records;
    for (std::size_t i = 0; i + 4 < records.size(); ++i) {
        if (records[i].text != "*" || !records[i + 1].text.starts_with("** Module name:")) {
            continue;
        }
        const bool matches = EqualIgnoringCase(records[i + 1].text, "** Module name:" + path) &&
                             records[i + 2].text == "** Module version:" + std::string(version) &&
                             EqualIgnoringCase(records[i + 3].text, "** Process:" + path) && records[i + 4].text == "*";
        if (matches) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "module information block differs from *, ** Module name:" << path
               << ", ** Module version:" << version << ", ** Process:" << path << ", *" << Dump(log);
    }
    return ::testing::AssertionFailure() << "no module information block" << Dump(log);
}

std::string ErrorDescription(HRESULT hr)
{
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                       reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer != nullptr ? buffer : L"", length);
    LocalFree(buffer);
    if (text.size() > 1 && text.ends_with(L"\r\n")) {
        text.resize(text.size() - 2);
    }
    return text.empty() ? "<Unknown error>" : ToUtf8(text);
}

void HostTest::SetUp()
{
    m_service = UniqueServiceName(::testing::UnitTest::GetInstance()->current_test_info()->name());
    DeleteServiceKey(m_service);
}

void HostTest::TearDown()
{
    const LSTATUS deleted = DeleteServiceKey(m_service);
    EXPECT_TRUE(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) << deleted;
    for (const DWORD processId : m_processIds) {
        DeleteLogsOf(BinDirectory(), processId);
    }
}

HostRun HostTest::Run(std::wstring_view arguments)
{
    const HostRun run = RunHost(arguments);
    m_processIds.push_back(run.processId);
    return run;
}

void HostTest::WriteMinimalParameters()
{
    ASSERT_EQ(ERROR_SUCCESS, SetParameterString(m_service, L"ServiceModules", L""));
    ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"ServiceName", 1));
}

} // namespace Qx::Testing
