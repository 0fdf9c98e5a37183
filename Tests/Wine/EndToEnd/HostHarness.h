// Drives QxServiceHost.exe from outside, as an administrator would: hand-runs with an argument
// string, the service's Parameters key in the registry, and the log files the run leaves behind.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "TestFiles.h"
#include "WineDifferences.h"

namespace Qx::Testing {

// A hand-run normally ends within a second; 1063 can take 10 s under Wine (see NoteSlowHandRun).
inline constexpr DWORD kHostTimeoutMs = 30000;
// Reported for a host that could not be started or had to be killed: no code the host returns.
inline constexpr DWORD kNoExitCode = 0xDEADDEAD;

inline constexpr HRESULT kEInvalidArg = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);
inline constexpr HRESULT kInvalidData = static_cast<HRESULT>(0x8007000D);
inline constexpr HRESULT kMoreData = static_cast<HRESULT>(0x800700EA);
inline constexpr DWORD kFailedServiceControllerConnect = 1063;

struct HostRun {
    DWORD exitCode = kNoExitCode;
    DWORD processId = 0;
    ULONGLONG elapsedMs = 0;
    bool timedOut = false;
};

// Folder of this test executable, which is also the host's.
std::wstring BinDirectory();
// True with QX_TEST_MODULES_ABI=msvc: the windows-msabi preset runs the tests against test modules
// (and stand-ins) built in Microsoft's ABI.
bool TestModulesBuiltInMicrosoftAbi();
// How the first-chance exception record names the type of the std::runtime_error a test module
// throws: as g++ mangles it, or as Microsoft's runtime decorates it.
std::string TestModuleRuntimeErrorType();
std::wstring HostPath();

// Where a hand-run starts: the folder of the host, its current folder, and a folder put in front of
// its PATH (none when empty).
struct HostLaunch {
    std::wstring hostFolder = BinDirectory();
    std::wstring currentFolder = BinDirectory();
    std::wstring pathFolder;
};

// Starts the host from its own folder with the argument string and waits for it to end. After
// timeoutMs the host is killed and the run reports timedOut with kNoExitCode.
HostRun RunHost(std::wstring_view arguments, DWORD timeoutMs = kHostTimeoutMs);
// RunHost started as launch says.
HostRun RunHost(std::wstring_view arguments, const HostLaunch& launch, DWORD timeoutMs = kHostTimeoutMs);

// Under Wine a hand-run waits up to 10 s on the control pipe of the most recently started service
// while that one still runs, before it fails with 1063. Reports such a run without failing.
void NoteSlowHandRun(const HostRun& run);

// "QxE2E_<test>_<pid of this process>": unique per test and per test run.
std::wstring UniqueServiceName(std::string_view test);

// The service's registry keys under HKEY_LOCAL_MACHINE. They are created volatile, so whatever a
// broken run leaves behind vanishes with the wineserver.
std::wstring ServiceKeyPath(std::wstring_view service);
std::wstring ParametersKeyPath(std::wstring_view service);
// Where the test modules the service loads take their settings from (see
// Tests/Wine/TestModules/TestTrace.h).
std::wstring TestModulesKeyPath(std::wstring_view service);
// The volatile key the host keeps under the service's key while its process runs.
std::wstring WatchDogGuardPath(std::wstring_view service);
// RegOpenKeyExW's answer for a key under HKEY_LOCAL_MACHINE: ERROR_SUCCESS when it exists.
LSTATUS OpenKeyStatus(const std::wstring& path);

// Typed values under the Parameters key, created on demand. Strings are written with their NUL.
LSTATUS SetParameterString(std::wstring_view service, const wchar_t* name, std::wstring_view value,
                           DWORD type = REG_SZ);
LSTATUS SetParameterDword(std::wstring_view service, const wchar_t* name, DWORD value);
LSTATUS SetParameterQword(std::wstring_view service, const wchar_t* name, ULONGLONG value);
// Exactly these bytes with this type, for odd sizes and unterminated strings.
LSTATUS SetParameterRaw(std::wstring_view service, const wchar_t* name, DWORD type, const std::vector<BYTE>& data);
LSTATUS DeleteParameter(std::wstring_view service, const wchar_t* name);
// A value under keyPath (below HKEY_LOCAL_MACHINE), whose missing keys are created volatile.
LSTATUS SetVolatileValue(const std::wstring& keyPath, const wchar_t* name, DWORD type, const void* data, DWORD size);
// Removes Services\<service> with everything below it.
LSTATUS DeleteServiceKey(std::wstring_view service);

// Logs\<logBase>(<pid>).log beside the host in folder (with its trailing backslash). Records
// written before a module log is named go to the early log, named after the executable.
std::wstring LogPath(std::wstring_view logBase, DWORD processId, const std::wstring& folder = BinDirectory());
std::wstring EarlyLogPath(DWORD processId);
// Deletes every log in folder's Logs that processId wrote, whatever it was named after.
void DeleteLogsOf(const std::wstring& folder, DWORD processId);

// One line of a log file. The logger writes time, pid, tid, severity, the indentation and the
// text, and may close the line with the source location "  [File.cpp:42]"; text has neither the
// indentation nor that location, indentedText keeps the indentation.
struct LogRecord {
    std::string line;
    DWORD processId = 0;
    DWORD threadId = 0;
    std::string severity;
    std::string indentedText;
    std::string text;
};

struct LogFile {
    bool exists = false;
    std::vector<LogRecord> records;
};

// Reads a UTF-8 log file into records.
LogFile ReadLog(const std::wstring& path);
// The whole log, one indented line per record, for failure messages.
std::string Dump(const LogFile& log);

// Each text appears as a whole record text, in this order (other records may lie between).
::testing::AssertionResult HasRecordsInOrder(const LogFile& log, const std::vector<std::string>& texts);
// No record text starts with prefix.
::testing::AssertionResult HasNoRecordStartingWith(const LogFile& log, std::string_view prefix);
// The last record starting with context (a text ending in ": ") is an ERROR with the exception text
// of hr: its description (by default the text of hr), U+007F, "[EIP: " with one to five return
// addresses, "]" and " 0x%X".
::testing::AssertionResult HasExceptionRecord(const LogFile& log, std::string_view context, HRESULT hr,
                                              const std::optional<std::string>& description = std::nullopt);
// HasExceptionRecord for "WinMain failed: ".
::testing::AssertionResult HasWinMainFailure(const LogFile& log, HRESULT hr);
// The module information block: "*", module name, version, process, "*", one after the other.
::testing::AssertionResult HasModuleInfoBlock(const LogFile& log, const std::wstring& hostPath,
                                              std::string_view version);

// The system's English text for code without its closing CR LF, "<Unknown error>" when there is
// none: what the host describes an exception with when no product message matches.
std::string ErrorDescription(HRESULT hr);

// Creates the file, which must not exist yet, with text as its content.
void WriteNewFile(const std::wstring& path, const std::string& text);

std::wstring Wide(std::string_view utf8);
// "0x%08X": exit codes and HRESULTs read best in hexadecimal when an expectation fails.
std::string Hex(std::uint32_t value);

// Where Wine differs from Windows, tests check what Windows does as a condition Wine must still fail,
// beside a strict check of what Wine does now.

// A test that owns one service name: its registry key and the logs of every run are removed at the
// end, whatever the outcome.
//
// Its hand-runs must not overlap a service start in the same Wine prefix. A host that gets as far as
// StartServiceCtrlDispatcherW connects under Wine to the control pipe of the service the SCM started
// last; while that service is still starting, the hand-run takes its pipe, so that the service's own
// process fails with 1063 and the hand-run waits for a start message that never comes.
class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // RunHost, remembering the run for the clean-up.
    HostRun Run(std::wstring_view arguments);
    // Writes ServiceModules "" and ServiceName 1: a configuration that loads without a module.
    void WriteMinimalParameters();

    std::wstring m_service;

private:
    std::vector<DWORD> m_processIds;
};

} // namespace Qx::Testing
