// Runs QxServiceCtl.exe as an operator would and cleans up the services the tests install. Each
// test works on a service named after itself, so the tests could run beside other suites.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "PollUntil.h"
#include "TestFiles.h"
#include "TextLines.h"
#include "WineDifferences.h"

namespace Qx::Testing {

// Bounds a run that hangs; a healthy one takes well under a second.
inline constexpr DWORD kCtlHangGuardMs = 120000;
inline constexpr DWORD kStateGuardMs = 15000;
inline constexpr const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";
inline constexpr const wchar_t* kEventSourcesKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

struct CtlResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::vector<std::string> out;
    std::vector<std::string> err;
};

inline std::wstring BinFolder()
{
    return Qx::Testing::ExecutableDirectory();
}

// Test paths and names are ASCII.
inline std::wstring ToWide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

inline std::wstring Quote(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    return L"\"" + argument + L"\"";
}

inline UniqueKernelHandle CreateOutputFile(const std::wstring& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    return UniqueKernelHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Runs QxServiceCtl.exe from folder with the arguments, standard output and error each into a file
// of their own.
inline CtlResult RunCtlIn(const std::wstring& folder, const std::vector<std::wstring>& arguments)
{
    static int runs = 0;
    const std::wstring stem =
        BinFolder() + L"QxServiceCtlTest" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++runs);
    CtlResult result;
    {
        const UniqueKernelHandle out = CreateOutputFile(stem + L".out");
        const UniqueKernelHandle err = CreateOutputFile(stem + L".err");
        EXPECT_TRUE(out && err);
        std::wstring commandLine = Quote(folder + L"QxServiceCtl.exe");
        for (const auto& argument : arguments) {
            commandLine += L" " + Quote(argument);
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        PROCESS_INFORMATION process{};
        if (!LaunchedDespiteWineInternalError([&] {
                return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                      &startup, &process) != 0;
            })) {
            ADD_FAILURE() << "QxServiceCtl.exe cannot be started: " << GetLastError();
            return result;
        }
        const UniqueKernelHandle processHandle(process.hProcess);
        const UniqueKernelHandle threadHandle(process.hThread);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, kCtlHangGuardMs)) << ToUtf8(commandLine);
        GetExitCodeProcess(process.hProcess, &result.exitCode);
    }
    result.out = Qx::Testing::SplitCrLfLines(Qx::Testing::ReadWholeFile(stem + L".out").value_or(""));
    result.err = Qx::Testing::SplitCrLfLines(Qx::Testing::ReadWholeFile(stem + L".err").value_or(""));
    DeleteFileW((stem + L".out").c_str());
    DeleteFileW((stem + L".err").c_str());
    return result;
}

// Runs the QxServiceCtl.exe of the binaries' folder.
inline CtlResult RunCtl(const std::vector<std::wstring>& arguments)
{
    return RunCtlIn(BinFolder(), arguments);
}

// The run ended with exitCode, and standard error holds this one line.
inline ::testing::AssertionResult EndedWith(const CtlResult& result, DWORD exitCode, const std::string& errorLine)
{
    if (result.exitCode == exitCode && result.err == std::vector<std::string>{errorLine}) {
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << "exit code " << result.exitCode << ", expected " << exitCode << "; standard error:";
    for (const std::string& line : result.err) {
        failure << "\n  " << line;
    }
    return failure << "\nexpected only:\n  " << errorLine;
}

// FormatMessageW of a code without inserts and trailing CR LF; source null for the system.
inline std::string MessageText(DWORD code, HMODULE source)
{
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                        (source != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    const DWORD length = FormatMessageW(flags, source, code, 0x0409, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text != nullptr ? text : L"", length);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
        message.pop_back();
    }
    return ToUtf8(message);
}

inline UniqueServiceHandle OpenManager()
{
    return UniqueServiceHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

inline bool ServiceExists(const std::wstring& name)
{
    const UniqueServiceHandle manager = OpenManager();
    return static_cast<bool>(UniqueServiceHandle(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS)));
}

inline DWORD ServiceState(SC_HANDLE service)
{
    SERVICE_STATUS status{};
    return QueryServiceStatus(service, &status) != 0 ? status.dwCurrentState : 0;
}

inline ::testing::AssertionResult WaitForState(SC_HANDLE service, DWORD state)
{
    if (PollUntil([&] { return ServiceState(service) == state; }, kStateGuardMs)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "state " << ServiceState(service) << ", waited for " << state;
}

// Starts the service and waits until it runs.
inline ::testing::AssertionResult StartService(const std::wstring& name)
{
    const UniqueServiceHandle manager = OpenManager();
    const UniqueServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
    if (!service || (::StartServiceW(service.get(), 0, nullptr) == 0)) {
        return ::testing::AssertionFailure() << "StartServiceW: " << GetLastError();
    }
    return WaitForState(service.get(), SERVICE_RUNNING);
}

// Stops and deletes the service and removes its keys, whatever a test left.
inline void RemoveServiceAndKeys(const std::wstring& name)
{
    const UniqueServiceHandle manager = OpenManager();
    if (const UniqueServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS)); service) {
        SERVICE_STATUS status{};
        if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status) != 0) {
            EXPECT_TRUE(WaitForState(service.get(), SERVICE_STOPPED));
        }
        DeleteService(service.get());
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kServicesKey + name).c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kEventSourcesKey + name).c_str());
}

// Writes a value exactly as given, bytes and type.
inline void SetRawValue(const std::wstring& keyPath, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                             key.out(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size));
}

inline void SetDword(const std::wstring& keyPath, const wchar_t* name, DWORD value)
{
    SetRawValue(keyPath, name, REG_DWORD, &value, sizeof(value));
}

inline void SetString(const std::wstring& keyPath, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ)
{
    SetRawValue(keyPath, name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// Files of the binaries' folder copied into a folder of the test's own, so that what the tool
// writes beside itself (a product root) stays the test's; the folder goes with everything in it.
class FolderCopy {
public:
    FolderCopy(std::wstring folder, const std::vector<const wchar_t*>& files) : m_folder(std::move(folder))
    {
        CreateDirectoryW(m_folder.c_str(), nullptr);
        for (const wchar_t* file : files) {
            EXPECT_TRUE(CopyFileW((BinFolder() + file).c_str(), (m_folder + file).c_str(), FALSE)) << GetLastError();
        }
    }
    ~FolderCopy()
    {
        WIN32_FIND_DATAW found{};
        if (const UniqueFindHandle find(FindFirstFileW((m_folder + L"*").c_str(), &found)); find) {
            do {
                DeleteFileW((m_folder + found.cFileName).c_str());
            } while (FindNextFileW(find.get(), &found) != 0);
        }
        RemoveDirectoryW(m_folder.c_str());
    }
    FolderCopy(const FolderCopy&) = delete;
    FolderCopy& operator=(const FolderCopy&) = delete;

    [[nodiscard]] const std::wstring& Folder() const { return m_folder; }

private:
    std::wstring m_folder;
};

// A fixture whose service is named after the test and removed before and after it.
class CtlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        service = L"QxCtl" + std::wstring(name.begin(), name.end());
        RemoveServiceAndKeys(service);
    }
    void TearDown() override { RemoveServiceAndKeys(service); }

    [[nodiscard]] std::wstring ParametersKey() const { return kServicesKey + service + L"\\Parameters"; }
    [[nodiscard]] std::string Service() const { return ToUtf8(service); }

    CtlResult Install(std::vector<std::wstring> options)
    {
        options.insert(options.begin(), {L"install", service});
        return RunCtl(options);
    }

    // command on the service, which is not installed: the tool ends with exitCode and says so.
    void ExpectNoSuchService(const wchar_t* command, DWORD exitCode, const std::vector<std::wstring>& options = {})
    {
        std::vector<std::wstring> arguments{command, service};
        arguments.insert(arguments.end(), options.begin(), options.end());
        EXPECT_TRUE(EndedWith(RunCtl(arguments), exitCode,
                              "QxServiceCtl " + ToUtf8(command) + ": service \"" + Service() + "\" does not exist"));
    }

    std::wstring service;
};

} // namespace Qx::Testing
