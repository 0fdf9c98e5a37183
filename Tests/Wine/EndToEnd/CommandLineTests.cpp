// The host run by hand with an argument string: the service-name parameter, the registration
// switches, and the exit codes and log records they lead to.
#include "HostHarness.h"

using namespace Qx::Testing;

namespace {

using HostCommandLine = HostTest;

const std::string kLoadEntered = "Entering CServiceConfigurationImpl::Load";
const std::string kLoadExited = "Exiting CServiceConfigurationImpl::Load";
const std::string kLoadFailed = "*** EXCEPTION " + kLoadExited;

// -name with nothing usable after it stops the process before any service work. A value of spaces
// only counts as missing. No module log is named, so every record stays in the early log.
TEST_F(HostCommandLine, NameWithoutValueFailsWithInvalidArg)
{
    struct Case {
        std::wstring arguments;
        std::string parameter;
    };
    for (const Case& test :
         {Case{L"-name=", "name="}, Case{L"-name", "name"}, Case{L"-name=   ", "name=   "}, Case{L"-NAME ", "NAME "}}) {
        SCOPED_TRACE(ToUtf8(test.arguments));
        const HostRun run = Run(test.arguments);
        EXPECT_EQ(Hex(kEInvalidArg), Hex(run.exitCode));
        const LogFile log = ReadLog(EarlyLogPath(run.processId));
        EXPECT_TRUE(HasRecordsInOrder(log, {"cmdLine: " + ToUtf8(test.arguments), "CmdLine Param: " + test.parameter,
                                            "Param 'name' found", "param value: empty"}));
        EXPECT_TRUE(HasWinMainFailure(log, kEInvalidArg));
        EXPECT_TRUE(HasNoRecordStartingWith(log, kLoadEntered));
    }
}

// The service name holds 255 characters; a longer value is refused before anything uses it. The
// limit applies to the trimmed value.
TEST_F(HostCommandLine, NameOver255CharactersFailsWithInvalidArg)
{
    HostRun run = Run(L"-name=" + std::wstring(256, L'a'));
    EXPECT_EQ(Hex(kEInvalidArg), Hex(run.exitCode));
    const LogFile log = ReadLog(EarlyLogPath(run.processId));
    EXPECT_TRUE(HasRecordsInOrder(log, {"Param 'name' found", "param value: too long: 256"}));
    EXPECT_TRUE(HasWinMainFailure(log, kEInvalidArg));
    EXPECT_TRUE(HasNoRecordStartingWith(log, kLoadEntered));

    // 255 characters pass, and the host goes on to look for the (missing) service key.
    for (const std::wstring& arguments :
         {L"-name=" + std::wstring(255, L'a'), L"-name=  " + std::wstring(255, L'a') + L"  "}) {
        SCOPED_TRACE(arguments.size());
        run = Run(arguments);
        EXPECT_EQ(Hex(kFileNotFound), Hex(run.exitCode));
    }
}

// The service name becomes part of the log and dump paths, so a name that could lead them out of
// their folders is refused before any path is built from it; the log says which character.
TEST_F(HostCommandLine, NameThatCouldLeaveItsFoldersFailsWithInvalidArg)
{
    const std::wstring escapee = L"QxE2E_Escapee_" + std::to_wstring(GetCurrentProcessId());
    struct Case {
        std::wstring name;
        std::string character;
    };
    for (const Case& test : {Case{L"..\\..\\" + escapee, "U+005C"}, Case{L"../../" + escapee, "U+002F"},
                             Case{L"C:" + escapee, "U+003A"}, Case{escapee + L"\x01", "U+0001"}}) {
        SCOPED_TRACE(test.character);
        const HostRun run = Run(L"-name=" + test.name);
        EXPECT_EQ(Hex(kEInvalidArg), Hex(run.exitCode));
        const LogFile log = ReadLog(EarlyLogPath(run.processId));
        EXPECT_TRUE(
            HasRecordsInOrder(log, {"Param 'name' found", "param value: invalid character: " + test.character}));
        EXPECT_TRUE(HasWinMainFailure(log, kEInvalidArg));
        EXPECT_TRUE(HasNoRecordStartingWith(log, kLoadEntered));
        const std::wstring logName = escapee + L"(" + std::to_wstring(run.processId) + L").log";
        for (const std::wstring& folder : {BinDirectory(), BinDirectory() + L"..\\", BinDirectory() + L"..\\..\\"}) {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + logName).c_str())) << ToUtf8(folder);
            DeleteFileW((folder + logName).c_str());
        }
    }
}

// Without a Parameters key the configuration cannot be loaded. By then the module log is named
// after the service and holds the whole run, including the records written before it was named.
TEST_F(HostCommandLine, UnknownServiceFailsWithFileNotFound)
{
    const std::string name = ToUtf8(m_service);
    const HostRun run = Run(L"-name=" + m_service);
    EXPECT_EQ(Hex(kFileNotFound), Hex(run.exitCode));
    const LogFile log = ReadLog(LogPath(m_service, run.processId));
    EXPECT_TRUE(HasRecordsInOrder(log, {"cmdLine: -name=" + name, "CmdLine Param: name=" + name, "Param 'name' found",
                                        "*", "param value: " + name, kLoadEntered, kLoadFailed}));
    EXPECT_TRUE(HasModuleInfoBlock(log, HostPath(), "1.0.0.0"));
    EXPECT_TRUE(HasWinMainFailure(log, kFileNotFound));
}

// A registration switch ends the process with 0 once the name is processed and the configuration
// loaded. Switches follow "-" or "/", anywhere on the command line, in any case.
TEST_F(HostCommandLine, RegistrationSwitchExitsWithZero)
{
    ASSERT_NO_FATAL_FAILURE(WriteMinimalParameters());
    const std::string name = ToUtf8(m_service);
    for (const std::wstring& arguments :
         {L"-name=" + m_service + L" -RegServer", L"/UnregServerPerUser -name=" + m_service,
          L"-name=" + m_service + L" -unregserver", L"-REGSERVERPERUSER -name=" + m_service}) {
        SCOPED_TRACE(ToUtf8(arguments));
        const HostRun run = Run(arguments);
        EXPECT_EQ(Hex(S_OK), Hex(run.exitCode));
        const LogFile log = ReadLog(LogPath(m_service, run.processId));
        EXPECT_TRUE(HasRecordsInOrder(log, {"param value: " + name, kLoadEntered, kLoadExited}));
        EXPECT_TRUE(HasNoRecordStartingWith(log, "*** EXCEPTION"));
        EXPECT_TRUE(HasNoRecordStartingWith(log, "WinMain failed: "));
    }

    // Only "-" separates parameters: a "/" switch behind the value becomes part of the service
    // name, which a name may not hold.
    const HostRun run = Run(L"-name=" + m_service + L" /UnregServerPerUser");
    EXPECT_EQ(Hex(kEInvalidArg), Hex(run.exitCode));
    EXPECT_TRUE(HasRecordsInOrder(ReadLog(EarlyLogPath(run.processId)), {"param value: invalid character: U+002F"}));
}

// A word that only starts like a switch is none: the host hands the main thread to the service
// dispatcher, which fails when the process was not started by the Service Control Manager.
TEST_F(HostCommandLine, UnknownSwitchStartsTheDispatcher)
{
    ASSERT_NO_FATAL_FAILURE(WriteMinimalParameters());
    const HostRun run = Run(L"-name=" + m_service + L" -RegServerX");
    NoteSlowHandRun(run);
    EXPECT_EQ(Hex(kFailedServiceControllerConnect), Hex(run.exitCode));
    const LogFile log = ReadLog(LogPath(m_service, run.processId));
    EXPECT_TRUE(
        HasRecordsInOrder(log, {"param value: " + ToUtf8(m_service), kLoadExited, "CmdLine Param: RegServerX"}));
    EXPECT_TRUE(HasNoRecordStartingWith(log, "WinMain failed: "));
}

// Without arguments the host runs as "QxServiceHost" with the default configuration and goes
// straight to the dispatcher.
TEST_F(HostCommandLine, PlainStartFailsToConnectToTheServiceController)
{
    const HostRun run = Run(L"");
    NoteSlowHandRun(run);
    EXPECT_EQ(Hex(kFailedServiceControllerConnect), Hex(run.exitCode));
    const LogFile log = ReadLog(EarlyLogPath(run.processId));
    EXPECT_TRUE(HasRecordsInOrder(log, {"cmdLine: "}));
    EXPECT_TRUE(HasNoRecordStartingWith(log, "CmdLine Param: "));
    EXPECT_TRUE(HasNoRecordStartingWith(log, kLoadEntered));
}

} // namespace
