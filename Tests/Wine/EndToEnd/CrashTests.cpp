// Crash capture, seen from outside. A service module that brings its service down leaves exactly one
// dump in the service's temporary folder: written by the product's dump generator when one is
// configured and reports success, else by the host itself, and named after the service, the
// exception code and the time. Also the generator stand-in QxDumpGen.exe on its own, and the
// first-chance record of an exception that the host throws and catches.
#include "DumpFiles.h"
#include "ServiceHarness.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <regex>

using namespace Qx::Testing;

namespace {

constexpr DWORD kAccessViolation = 0xC0000005;
constexpr DWORD kHeapCorruption = 0xC0000374;
// The codes of a C++ throw by g++'s runtime and by Microsoft's.
constexpr DWORD kGccThrow = 0x20474343;
constexpr DWORD kMsvcThrow = 0xE06D7363;
// What msvcrt's abort() ends the process with once the SIGABRT handler has returned.
constexpr DWORD kAbortExitCode = 3;
constexpr DWORD kFastFailExitCode = 0xC0000409;

// The Crash values of the test modules (Tests/Wine/TestModules/TestModule.cpp).
enum CrashValue : DWORD { kCrashAccessViolation = 1, kCrashTerminate = 2, kCrashHeapCorruption = 3 };
// The Throw value that makes a test module's SmShutdown throw.
constexpr DWORD kThrowFromShutdown = 2;

// ServiceName: any message number; the events are not looked at here.
constexpr DWORD kDisplayNameMessage = 7;

constexpr const wchar_t* kDumpGen = L"QxDumpGen.exe";
constexpr const wchar_t* kGeneratorTemplate = L"QxDumpGen.exe %u %s %p %u /m 0";

// QxDumpGen.exe's exit codes (Products/QxDumpGen/README.md).
enum DumpGenExitCode : DWORD { kDumpGenBadArguments = 1, kDumpGenProcessNotOpened = 2, kDumpGenFileNotCreated = 3 };

const std::string kExceptionRecord = "*** Exception: ";
const std::string kInitializationEntered = "Entering CServiceModule::Initialization";
const std::string kMiniDumpWritten = "MinidumpWriteDump true";
const std::string kPostMessageLoopEntered = "Entering CServiceModule::PostMessageLoop";

std::vector<const LogRecord*> RecordsStartingWith(const LogFile& log, std::string_view prefix)
{
    std::vector<const LogRecord*> found;
    for (const LogRecord& record : log.records) {
        if (record.text.starts_with(prefix)) {
            found.push_back(&record);
        }
    }
    return found;
}

// The dump was written once, on the thread that crashed: one timed scope "CreateDumpInt <path>"
// that started and succeeded, nothing else of the scope.
::testing::AssertionResult HasOneDumpScope(const LogFile& log, const std::wstring& dumpPath, DWORD threadId)
{
    const std::string name = "CreateDumpInt " + ToUtf8(dumpPath);
    const auto scope = RecordsStartingWith(log, "CreateDumpInt ");
    static const std::regex kSucceeded(R"( - succeeded \(\d+ ms\)$)");
    if (scope.size() != 2 || scope[0]->text != name + " - starting" || !scope[1]->text.starts_with(name) ||
        !std::regex_match(scope[1]->text.substr(name.size()), kSucceeded)) {
        return ::testing::AssertionFailure() << "expected \"" << name << " - starting\" and \"" << name
                                             << " - succeeded (<n> ms)\" alone" << Dump(log);
    }
    if (scope[0]->threadId != threadId || scope[1]->threadId != threadId) {
        return ::testing::AssertionFailure() << "the dump was not written on thread " << threadId << Dump(log);
    }
    return ::testing::AssertionSuccess();
}

// Exactly these records start with "DumpGen" or "MinidumpWriteDump", in this order.
::testing::AssertionResult HasDumpWayRecords(const LogFile& log, const std::vector<std::string>& expected)
{
    std::vector<std::string> found;
    for (const LogRecord& record : log.records) {
        if (record.text.starts_with("DumpGen") || record.text.starts_with("MinidumpWriteDump")) {
            found.push_back(record.text);
        }
    }
    if (found == expected) {
        return ::testing::AssertionSuccess();
    }
    auto failure = ::testing::AssertionFailure() << "expected the dump records:";
    for (const std::string& text : expected) {
        failure << "\n    " << text;
    }
    return failure << Dump(log);
}

// The dump holds the test module's write through a null pointer: a write (1) at address 0.
void ExpectNullWriteDump(const std::wstring& dumpPath, DWORD threadId)
{
    const MiniDump dump = ReadMiniDump(dumpPath);
    ASSERT_TRUE(IsWholeMiniDump(dump, true));
    const MiniDumpException& exception = *dump.exception;
    EXPECT_EQ(threadId, exception.threadId);
    EXPECT_EQ(Hex(kAccessViolation), Hex(exception.code));
    EXPECT_EQ(0u, exception.flags);
    EXPECT_NE(0u, exception.address);
    EXPECT_EQ((std::vector<std::uint64_t>{1, 0}), exception.parameters);
}

// The SCM's view of a service whose process died while the service was in state.
void ExpectCrashedStatus(const SERVICE_STATUS_PROCESS& status, DWORD state, DWORD processId)
{
    const bool stoppedAsAborted = status.dwCurrentState == SERVICE_STOPPED &&
                                  status.dwWin32ExitCode == ERROR_PROCESS_ABORTED && status.dwProcessId == 0;
    ExpectWindowsBehaviour(::testing::AssertionResult(stoppedAsAborted)
                               << "state " << status.dwCurrentState << ", exit code " << status.dwWin32ExitCode
                               << ", process " << status.dwProcessId,
                           "the SCM does not notice that the service process died and keeps reporting its "
                           "last state with the dead process; Windows reports SERVICE_STOPPED with "
                           "ERROR_PROCESS_ABORTED (1067)");
    if (RunningOnWine()) {
        EXPECT_EQ(state, status.dwCurrentState);
        EXPECT_EQ(processId, status.dwProcessId);
    }
}

class CrashCapture : public ServiceTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ServiceTest::SetUp());
        m_tempDirectory = ServiceTempDirectory();
        ASSERT_FALSE(m_tempDirectory.empty());
        DeleteDumpFilesOf(m_tempDirectory, m_service);
    }

    void TearDown() override
    {
        ServiceTest::TearDown();
        DeleteDumpFilesOf(m_tempDirectory, DumpBase());
    }

    // Installs the service from a folder of its own, beside QxDumpGen.exe, with a ProductInfo2.ini
    // whose registry root is the test's own and holds UserDump when one is given. Its one module is
    // the test module copied as "<service>.dll", told to crash as crash says.
    void InstallCrashingService(DWORD crash, const std::optional<std::wstring>& userDump = std::nullopt)
    {
        std::wstring folder;
        ASSERT_NO_FATAL_FAILURE(folder = PrepareCrashingHost(userDump));
        ASSERT_NO_FATAL_FAILURE(Install(folder));
        ASSERT_NO_FATAL_FAILURE(WriteParameters(m_service + L".dll", kDisplayNameMessage));
        ASSERT_NO_FATAL_FAILURE(SetModuleValue(m_service, L"Crash", crash));
    }

    // The host folder, module copy and product registry values of InstallCrashingService, all named after the
    // service name as it is now; returns the folder.
    std::wstring PrepareCrashingHost(const std::optional<std::wstring>& userDump)
    {
        auto files = HostFiles();
        files.emplace_back(kModuleA, m_service + L".dll");
        files.emplace_back(kDumpGen, kDumpGen);
        std::wstring folder = MakeHostFolder(L"", files);
        const std::wstring registryRoot = WriteProductInfo(folder);
        if (userDump) {
            Override(registryRoot, L"UserDump").SetString(*userDump);
        }
        return folder;
    }

    // Installs the crashing service under name, its files named as before, and lets it crash with an
    // access violation: the one dump is named after dumpBase and whole.
    void CrashAs(const std::wstring& name, const std::wstring& dumpBase)
    {
        std::wstring folder;
        ASSERT_NO_FATAL_FAILURE(folder = PrepareCrashingHost(std::nullopt));
        const std::wstring module = m_service;
        m_service = name;
        m_dumpBase = dumpBase;
        ASSERT_NO_FATAL_FAILURE(Install(folder));
        ASSERT_NO_FATAL_FAILURE(WriteParameters(module + L".dll", kDisplayNameMessage));
        ASSERT_NO_FATAL_FAILURE(SetModuleValue(module, L"Crash", kCrashAccessViolation));
        EXPECT_EQ(Hex(kAccessViolation), Hex(Crash()));
        const std::wstring dumpPath = OnlyDumpFile(kAccessViolation);
        ASSERT_FALSE(dumpPath.empty());
        EXPECT_TRUE(IsWholeMiniDump(ReadMiniDump(dumpPath), true));
    }

    // Starts the service, whose module crashes it, and returns the exit code of its process.
    DWORD Crash()
    {
        m_startedAt = LocalSecondsNow();
        const DWORD started = Start();
        EXPECT_EQ(0u, started);
        if (started != ERROR_SUCCESS) {
            return kNoExitCode;
        }
        m_processId = ProcessId();
        const DWORD exitCode = WaitForExit(kDumpTimeoutMs);
        m_endedAt = LocalSecondsNow();
        return exitCode;
    }

    // The one dump file in the service's temporary folder, named with code and a time of the run;
    // empty when there is not exactly one.
    std::wstring OnlyDumpFile(std::uint32_t code)
    {
        const std::vector<std::wstring> names = DumpFilesOf(m_tempDirectory, DumpBase());
        if (names.size() != 1) {
            ADD_FAILURE() << names.size() << " dump files " << ToUtf8(m_service) << "_*.dmp in "
                          << ToUtf8(m_tempDirectory) << ", expected one";
            return {};
        }
        EXPECT_TRUE(IsDumpFileName(names.front(), DumpBase(), code, m_startedAt, m_endedAt));
        return m_tempDirectory + names.front();
    }

    // What a crash during the initialisation left behind.
    struct InitializationCrash {
        std::wstring dumpPath;
        LogFile log;
        DWORD initializationThread = 0;
    };

    // Starts the service, whose module crashes it during the initialisation: its process ends with
    // exitCode, the SCM has noticed, and the one dump, named with dumpCode, was written once on the
    // initialising thread.
    void CrashDuringInitialization(DWORD exitCode, std::uint32_t dumpCode, InitializationCrash& crash)
    {
        EXPECT_EQ(Hex(exitCode), Hex(Crash()));
        ExpectCrashedStatus(Query(), SERVICE_START_PENDING, m_processId);
        crash.dumpPath = OnlyDumpFile(dumpCode);
        ASSERT_FALSE(crash.dumpPath.empty());
        crash.log = ReadServiceLog();
        crash.initializationThread = ThreadOf(crash.log, kInitializationEntered);
        ASSERT_NE(0u, crash.initializationThread) << Dump(crash.log);
        EXPECT_TRUE(HasOneDumpScope(crash.log, crash.dumpPath, crash.initializationThread));
    }

    // With the stand-in generator configured, the crash's one dump is the generator's.
    void ExpectOnlyTheGeneratorsDump()
    {
        ASSERT_NO_FATAL_FAILURE(InstallCrashingService(kCrashAccessViolation, kGeneratorTemplate));
        InitializationCrash crash;
        ASSERT_NO_FATAL_FAILURE(CrashDuringInitialization(kAccessViolation, kAccessViolation, crash));
        EXPECT_TRUE(HasDumpWayRecords(crash.log, {"DumpGen result 0"}));
        ExpectNullWriteDump(crash.dumpPath, crash.initializationThread);
    }

    // A generator that failed in any way is followed by the host's own dump of the crash.
    void ExpectInProcessDumpAfter(const std::string& generatorRecord)
    {
        InitializationCrash crash;
        ASSERT_NO_FATAL_FAILURE(CrashDuringInitialization(kAccessViolation, kAccessViolation, crash));
        EXPECT_TRUE(HasDumpWayRecords(crash.log, {generatorRecord, kMiniDumpWritten}));
        ExpectNullWriteDump(crash.dumpPath, crash.initializationThread);
    }

    // The one ERROR record of the crash: it starts with what and ends with the thread that crashed and
    // the dump's path. Returns that thread, 0 when the record is not so.
    static DWORD CrashRecordThread(const LogFile& log, const std::string& what, const std::wstring& dumpPath)
    {
        const auto crashes = RecordsStartingWith(log, "Crash");
        if (crashes.size() != 1) {
            ADD_FAILURE() << crashes.size() << " crash records, expected one" << Dump(log);
            return 0;
        }
        const LogRecord& record = *crashes.front();
        EXPECT_EQ("ERROR", record.severity);
        const std::string ending = " on thread " + std::to_string(record.threadId) + "; dump " + ToUtf8(dumpPath);
        if (!record.text.starts_with(what) || !record.text.ends_with(ending)) {
            ADD_FAILURE() << "expected \"" << what << "..." << ending << "\"" << Dump(log);
            return 0;
        }
        return record.threadId;
    }

    // A thread of the module's own writes through a null pointer once the module has started, after
    // the module installed its own unhandled-exception filter or not.
    void ExpectModuleThreadCrash(bool ownFilter)
    {
        ASSERT_NO_FATAL_FAILURE(InstallCrashingService(0));
        ASSERT_NO_FATAL_FAILURE(SetModuleValue(m_service, L"ThreadCrash", 1));
        ASSERT_NO_FATAL_FAILURE(SetModuleValue(m_service, L"OwnFilter", ownFilter ? 1 : 0));
        EXPECT_EQ(Hex(kAccessViolation), Hex(Crash()));
        const std::wstring dumpPath = OnlyDumpFile(kAccessViolation);
        ASSERT_FALSE(dumpPath.empty());
        const LogFile log = ReadServiceLog();
        const std::string module = ToUtf8(m_service) + ".dll";
        const DWORD thread = CrashRecordThread(log, "Crash 0xC0000005 at " + module + "+0x", dumpPath);
        ASSERT_NE(0u, thread);
        EXPECT_NE(ThreadOf(log, kInitializationEntered), thread);
        EXPECT_TRUE(HasOneDumpScope(log, dumpPath, thread));
        ExpectNullWriteDump(dumpPath, thread);
        const std::string reasserted = "The unhandled-exception filter of " + module + " had replaced the host's";
        const std::vector<TraceLine> trace = ReadTrace();
        const bool filterHadItsTurn = std::ranges::any_of(trace, [&](const TraceLine& line) {
            return line.processId == m_processId && line.event == "own filter C0000005";
        });
        EXPECT_EQ(ownFilter, filterHadItsTurn);
        const auto reassertions = RecordsStartingWith(log, reasserted);
        ASSERT_EQ(ownFilter ? 1u : 0u, reassertions.size()) << Dump(log);
        if (ownFilter) {
            EXPECT_EQ("WARN", reassertions.front()->severity);
        }
    }

    // The dump files' base name: the service name unless set.
    std::wstring DumpBase() const { return m_dumpBase.empty() ? m_service : m_dumpBase; }

    std::wstring m_dumpBase;
    std::wstring m_tempDirectory;
    std::uint64_t m_startedAt = 0;
    std::uint64_t m_endedAt = 0;
    DWORD m_processId = 0;
};

// Without UserDump the host writes the dump itself, on the faulting thread, with the exception. The
// access violation has two parameters, so the first-chance log, which wants four, passes it by.
TEST_F(CrashCapture, AccessViolationWithoutGeneratorIsDumpedInProcess)
{
    ASSERT_NO_FATAL_FAILURE(InstallCrashingService(kCrashAccessViolation));

    InitializationCrash crash;
    ASSERT_NO_FATAL_FAILURE(CrashDuringInitialization(kAccessViolation, kAccessViolation, crash));
    EXPECT_TRUE(
        HasRecordsInOrder(crash.log, {kInitializationEntered, "Loading module:" + ToUtf8(m_service) + ".dll",
                                      "Init ServiceModule " + ToUtf8(m_service) + ".dll",
                                      "CreateDumpInt " + ToUtf8(crash.dumpPath) + " - starting", kMiniDumpWritten}));
    EXPECT_TRUE(HasDumpWayRecords(crash.log, {kMiniDumpWritten}));
    EXPECT_TRUE(HasNoRecordStartingWith(crash.log, kExceptionRecord));
    EXPECT_EQ(crash.initializationThread,
              CrashRecordThread(crash.log, "Crash 0xC0000005 at " + ToUtf8(m_service) + ".dll+0x", crash.dumpPath));

    ExpectNullWriteDump(crash.dumpPath, crash.initializationThread);
}

// A thread of the module's own crashes after the start: one dump named after the service and the
// code, written on that thread, and one ERROR record naming the module, the thread and the dump.
TEST_F(CrashCapture, CrashOnAModuleThreadIsDumpedAndNamesTheModule)
{
    ExpectModuleThreadCrash(false);
}

// The module put its own unhandled-exception filter in place of the host's, as crash reporters do,
// and that filter ends the process: the host's is in front again, so the dump and the record are
// written as without it, and then the module's filter has its turn.
TEST_F(CrashCapture, ModulesOwnFilterNeitherLosesTheDumpNorItsTurn)
{
    ExpectModuleThreadCrash(true);
}

// A thread of the module's own throws a C++ exception that nothing catches: in either ABI the process
// ends with the exception's code, its one dump is named with that code, and the record names the
// thrown type and the module that threw it.
TEST_F(CrashCapture, UncaughtExceptionOnAModuleThreadEndsWithItsCode)
{
    ASSERT_NO_FATAL_FAILURE(InstallCrashingService(0));
    ASSERT_NO_FATAL_FAILURE(SetModuleValue(m_service, L"ThreadCrash", 2));
    const DWORD code = TestModulesBuiltInMicrosoftAbi() ? kMsvcThrow : kGccThrow;
    EXPECT_EQ(Hex(code), Hex(Crash()));
    const std::wstring dumpPath = OnlyDumpFile(code);
    ASSERT_FALSE(dumpPath.empty());
    const LogFile log = ReadServiceLog();
    const std::string what =
        "Crash " + Hex(code) + ": C++ exception " + TestModuleRuntimeErrorType() + " thrown in " + ToUtf8(m_service);
    const DWORD thread = CrashRecordThread(log, what + ".dll on thread", dumpPath);
    ASSERT_NE(0u, thread);
    EXPECT_NE(ThreadOf(log, kInitializationEntered), thread);
    EXPECT_TRUE(HasOneDumpScope(log, dumpPath, thread));
}

// A generator that reports success writes the only dump, with the exception that it reads from the
// crashing process through the address on its command line.
TEST_F(CrashCapture, GeneratorThatSucceedsWritesTheOnlyDump)
{
    ExpectOnlyTheGeneratorsDump();
}

// QxDumpGen is told to write into a folder that does not exist and exits with 3.
TEST_F(CrashCapture, GeneratorThatFailsIsFollowedByAnInProcessDump)
{
    ASSERT_NO_FATAL_FAILURE(
        InstallCrashingService(kCrashAccessViolation, std::wstring(L"QxDumpGen.exe %u \"%s\\absent.dmp\" %p %u /m 0")));
    ExpectInProcessDumpAfter("DumpGen result " + std::to_string(kDumpGenFileNotCreated));
}

TEST_F(CrashCapture, MissingGeneratorIsFollowedByAnInProcessDump)
{
    ASSERT_NO_FATAL_FAILURE(
        InstallCrashingService(kCrashAccessViolation, std::wstring(L"QxDumpGenAbsent.exe %u %s %p %u /m 0")));
    ExpectInProcessDumpAfter("DumpGen launch failed " + std::to_string(ERROR_FILE_NOT_FOUND));
}

// The generator is run from the host's folder only: one named by a path that leads out of it is
// refused, even when the program there would have worked.
TEST_F(CrashCapture, GeneratorOutsideTheHostFolderIsRefused)
{
    const std::wstring outside = L"..\\QxDumpGen.exe %u %s %p %u /m 0";
    ASSERT_NO_FATAL_FAILURE(InstallCrashingService(kCrashAccessViolation, outside));
    ExpectInProcessDumpAfter("DumpGen template refused: " + ToUtf8(outside));
}

// A generator that exits with 0 but wrote its dump elsewhere: the host finds no dump at the path it
// gave, says so and writes the dump itself.
TEST_F(CrashCapture, GeneratorThatWritesNoDumpIsFollowedByAnInProcessDump)
{
    ASSERT_NO_FATAL_FAILURE(
        InstallCrashingService(kCrashAccessViolation, std::wstring(L"QxDumpGen.exe %u \"%s.elsewhere\" %p %u /m 0")));
    InitializationCrash crash;
    ASSERT_NO_FATAL_FAILURE(CrashDuringInitialization(kAccessViolation, kAccessViolation, crash));
    DeleteFileW((crash.dumpPath + L".elsewhere").c_str());
    EXPECT_TRUE(HasDumpWayRecords(
        crash.log, {"DumpGen result 0", "DumpGen wrote no dump: " + ToUtf8(crash.dumpPath), kMiniDumpWritten}));
    ExpectNullWriteDump(crash.dumpPath, crash.initializationThread);
}

// The path in place of the process id would be read as a number: the template is never run.
TEST_F(CrashCapture, RefusedTemplateIsFollowedByAnInProcessDump)
{
    const std::wstring misordered = L"QxDumpGen.exe %s %u %p %u /m 0";
    ASSERT_NO_FATAL_FAILURE(InstallCrashingService(kCrashAccessViolation, misordered));
    ExpectInProcessDumpAfter("DumpGen template refused: " + ToUtf8(misordered));
    const LogFile log = ReadServiceLog();
    const auto refused = RecordsStartingWith(log, "DumpGen template refused: ");
    ASSERT_EQ(1u, refused.size());
    EXPECT_EQ("ERROR", refused.front()->severity);
}

// Templates the host refuses before it runs anything: a width (which once made the formatting throw
// inside the crash handler, so that no dump was written at all), a template longer than the command
// line, and dump types that are no MINIDUMP_TYPE (which once made the fallback write a full-memory
// dump). Each is named in the log, and the host writes the default dump itself.
TEST_F(CrashCapture, WidthInTemplateIsRefusedAndDumpedInProcess)
{
    const std::wstring width = L"QxDumpGen.exe %99999999999999999999u %s %p %u /m 0";
    ASSERT_NO_FATAL_FAILURE(InstallCrashingService(kCrashAccessViolation, width));
    ExpectInProcessDumpAfter("DumpGen template refused: " + ToUtf8(width));
}

TEST_F(CrashCapture, OverlongTemplateIsRefusedAndDumpedInProcess)
{
    const std::wstring overlong = L"QxDumpGen.exe %u %s %p %u /m 0 " + std::wstring(300, L'x');
    ASSERT_NO_FATAL_FAILURE(InstallCrashingService(kCrashAccessViolation, overlong));
    ExpectInProcessDumpAfter("DumpGen template refused: " + ToUtf8(overlong));
}

TEST_F(CrashCapture, UnknownDumpTypeIsRefusedAndTheDefaultTypeDumped)
{
    const std::wstring fullWidthTwo = L"QxDumpGen.exe %u %s %p %u /m \xFF12";
    ASSERT_NO_FATAL_FAILURE(InstallCrashingService(kCrashAccessViolation, fullWidthTwo));
    ExpectInProcessDumpAfter("DumpGen template refused: " + ToUtf8(fullWidthTwo));
    // A small dump of this process is well under a megabyte; a full-memory one is about 100 MB.
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    ASSERT_TRUE(GetFileAttributesExW(OnlyDumpFile(kAccessViolation).c_str(), GetFileExInfoStandard, &attributes));
    EXPECT_EQ(0u, attributes.nFileSizeHigh);
    EXPECT_LT(attributes.nFileSizeLow, 16u * 1024 * 1024);
}

// A service name with a space once reached the generator as two arguments, and it refused them.
// The host now quotes the dump path it puts in.
TEST_F(CrashCapture, GeneratorGetsAPathWithSpacesAsOneArgument)
{
    m_service += L" With Space";
    ExpectOnlyTheGeneratorsDump();
}

// Service names that a dump file's name cannot hold as they are: the longest one does not fit a path
// beside the time stamp and is cut, and characters that file names refuse become "_". The module log
// of such a name cannot be created, so only the dump tells.
TEST_F(CrashCapture, LongestServiceNameStillGetsItsDump)
{
    const std::size_t room =
        MAX_PATH - 1 - m_tempDirectory.size() - std::wstring_view(L"_C0000005_2026_12_08__01_02_03.dmp").size();
    const std::wstring longest = m_service + L"_" + std::wstring(255 - m_service.size() - 1, L'n');
    ASSERT_LT(room, longest.size());
    ASSERT_NO_FATAL_FAILURE(CrashAs(longest, longest.substr(0, room)));
    EXPECT_EQ(static_cast<std::size_t>(MAX_PATH - 1),
              (m_tempDirectory + DumpFilesOf(m_tempDirectory, DumpBase()).at(0)).size());
}

// Its files are named with "_" for each character: the module log, which could not be created
// before, as well as the dump.
TEST_F(CrashCapture, NameWithCharactersFileNamesRefuseStillGetsItsDump)
{
    const std::wstring fileName = m_service + L"_____";
    ASSERT_NO_FATAL_FAILURE(CrashAs(m_service + L"*?|<>", fileName));
    EXPECT_TRUE(Qx::Testing::FileExists(LogPath(fileName, m_processId, m_folder)));
}

// "NUL.<name>(<pid>).log" and "NUL.<name>_C0000005_<time>.dmp" would be the null device, which
// swallows them: the files of such a name are named "NUL_.<name>".
TEST_F(CrashCapture, DeviceNameBeforeADotGetsItsLogAndOneDump)
{
    const std::wstring fileName = L"NUL_." + m_service;
    ASSERT_NO_FATAL_FAILURE(CrashAs(L"NUL." + m_service, fileName));
    EXPECT_TRUE(Qx::Testing::FileExists(LogPath(fileName, m_processId, m_folder)));
}

// std::terminate() in a module runs the module's own C++ runtime, which aborts; the host's SIGABRT
// handler writes a dump without exception information, and nothing writes a second one. A module
// built in Microsoft's ABI aborts in ucrtbase.dll, where the host has set its handler too.
TEST_F(CrashCapture, TerminateGivesOneDumpWithoutException)
{
    ASSERT_NO_FATAL_FAILURE(InstallCrashingService(kCrashTerminate));
    DWORD exitCode = kAbortExitCode;
    if (TestModulesBuiltInMicrosoftAbi() && RunningOnWine()) {
        ExplainWineDifference("Windows' ucrtbase.dll ends abort() with __fastfail (0xC0000409) once the SIGABRT "
                              "handler returns; Wine's exits with 3");
    } else if (TestModulesBuiltInMicrosoftAbi()) {
        exitCode = kFastFailExitCode;
    }

    InitializationCrash crash;
    ASSERT_NO_FATAL_FAILURE(CrashDuringInitialization(exitCode, 0, crash));
    EXPECT_TRUE(HasDumpWayRecords(crash.log, {kMiniDumpWritten}));
    EXPECT_TRUE(HasNoRecordStartingWith(crash.log, kExceptionRecord));

    EXPECT_TRUE(IsWholeMiniDump(ReadMiniDump(crash.dumpPath), false));
}

// A C++ exception out of SmShutdown is not caught: the modules' shut-down cannot throw, so the
// runtime calls std::terminate on the thread that shuts the modules down, and the host's terminate
// handler writes the one dump there, without exception information, after the first-chance record
// has named the thrown type. The process ends with abort()'s code before the host reports
// SERVICE_STOPPED: the SCM is left with the state of the moment. The module listed before the
// throwing one gets no SmShutdown, and no stopped or start-failed event is reported.
class ShutdownException : public CrashCapture {
protected:
    // Installs the service from the crashing host's folder with the test module A from the bin
    // folder, then the service's own copy, whose SmShutdown throws, then the modules in after.
    void InstallWithThrowingShutdown(const std::wstring& after)
    {
        std::wstring folder;
        ASSERT_NO_FATAL_FAILURE(folder = PrepareCrashingHost(std::nullopt));
        ASSERT_NO_FATAL_FAILURE(Install(folder));
        ASSERT_NO_FATAL_FAILURE(WriteParameters(ModuleA() + L";" + Throwing() + after, kDisplayNameMessage));
        ASSERT_NO_FATAL_FAILURE(SetModuleValue(m_service, L"Throw", kThrowFromShutdown));
    }

    // Waits for the process of the service, left in state, to end as described above, the modules
    // having been shut down on the thread that wrote the first record reading threadRecord;
    // trace: the calls into the modules, the throwing SmShutdown last.
    void ExpectTerminated(DWORD state, const std::string& threadRecord,
                          const std::vector<std::pair<std::string, std::string>>& trace)
    {
        EXPECT_EQ(Hex(kAbortExitCode), Hex(WaitForExit(kDumpTimeoutMs)));
        m_endedAt = LocalSecondsNow();
        ExpectCrashedStatus(Query(), state, m_processId);

        const std::wstring dumpPath = OnlyDumpFile(0);
        ASSERT_FALSE(dumpPath.empty());
        EXPECT_TRUE(IsWholeMiniDump(ReadMiniDump(dumpPath), false));

        const LogFile log = ReadServiceLog();
        const DWORD thread = ThreadOf(log, threadRecord);
        ASSERT_NE(0u, thread) << Dump(log);
        const auto thrown = RecordsStartingWith(log, kExceptionRecord + "Unknown type of exception object: " +
                                                         TestModuleRuntimeErrorType() + " in module: ");
        ASSERT_EQ(1u, thrown.size()) << Dump(log);
        EXPECT_EQ(thread, thrown.front()->threadId);
        EXPECT_TRUE(
            HasRecordsInOrder(log, {threadRecord, "Shutting down ServiceModule " + ToUtf8(Throwing()),
                                    thrown.front()->text, "CreateDumpInt " + ToUtf8(dumpPath) + " - starting"}));
        EXPECT_TRUE(HasOneDumpScope(log, dumpPath, thread));
        EXPECT_TRUE(HasDumpWayRecords(log, {kMiniDumpWritten}));
        EXPECT_TRUE(HasNoRecordStartingWith(log, "Shutting down ServiceModule " + ToUtf8(ModuleA())));
        EXPECT_TRUE(HasNoRecordStartingWith(log, "Event: [] Type=Information Category=0x01 Id=0x40010102"));
        EXPECT_TRUE(HasNoRecordStartingWith(log, "Event: [] Type=Error Category=0x01 Id=0xC0010103"));
        EXPECT_TRUE(HasNoRecordStartingWith(log, "LogEvent: Service stopped"));

        const std::vector<TraceLine> lines = ReadTrace();
        ASSERT_TRUE(HasTraceLines(lines, m_processId, trace));
        EXPECT_EQ(thread, lines.back().threadId);
    }

    static std::wstring ModuleA() { return BinDirectory() + kModuleA; }
    std::wstring Throwing() const { return m_service + L".dll"; }
};

// At the stop, on the service thread.
TEST_F(ShutdownException, AtTheStopTerminatesWithOneDumpAndNoStoppedReport)
{
    ASSERT_NO_FATAL_FAILURE(InstallWithThrowingShutdown(L""));
    m_startedAt = LocalSecondsNow();
    m_processId = StartRunning();
    ASSERT_NE(0u, m_processId);
    ExpectRunningStatus(Query(), m_processId);
    ASSERT_EQ(0u, Control(SERVICE_CONTROL_STOP));
    ExpectTerminated(SERVICE_STOP_PENDING, kPostMessageLoopEntered,
                     {{"QxTestModuleA", "SmInitialize flags=non-null"},
                      {ToUtf8(m_service), "SmInitialize flags=non-null"},
                      {ToUtf8(m_service), "SmShutdown"}});
}

// After a failed start, on the initialisation thread: B, listed last, fails its SmInitialize.
TEST_F(ShutdownException, AfterAFailedStartTerminatesWithOneDumpAndNoStoppedReport)
{
    ASSERT_NO_FATAL_FAILURE(InstallWithThrowingShutdown(L";" + BinDirectory() + kModuleB));
    ASSERT_NO_FATAL_FAILURE(SetModuleValue(L"QxTestModuleB", L"Result", static_cast<DWORD>(E_FAIL)));
    m_startedAt = LocalSecondsNow();
    ASSERT_EQ(0u, Start());
    m_processId = ProcessId();
    ASSERT_NE(0u, m_processId);
    ExpectTerminated(SERVICE_START_PENDING, kInitializationEntered,
                     {{"QxTestModuleA", "SmInitialize flags=non-null"},
                      {ToUtf8(m_service), "SmInitialize flags=non-null"},
                      {"QxTestModuleB", "SmInitialize flags=non-null"},
                      {ToUtf8(m_service), "SmShutdown"}});
}

// The heap-corruption handler dumps the exception as it is raised. Nothing handles it, so it ends the
// process with its code, and the unhandled filter it passes on the way adds no second dump.
TEST_F(CrashCapture, HeapCorruptionIsDumpedOnce)
{
    // Only an explanation: the test module raises the exception itself on every system, so the
    // test never sees whether a heap raises it.
    if (RunningOnWine()) {
        ExplainWineDifference("Wine's heap never raises 0xC0000374; the test module raises it itself");
    }
    ASSERT_NO_FATAL_FAILURE(InstallCrashingService(kCrashHeapCorruption));

    InitializationCrash crash;
    ASSERT_NO_FATAL_FAILURE(CrashDuringInitialization(kHeapCorruption, kHeapCorruption, crash));
    EXPECT_TRUE(HasDumpWayRecords(crash.log, {kMiniDumpWritten}));
    EXPECT_TRUE(HasNoRecordStartingWith(crash.log, kExceptionRecord));

    const MiniDump dump = ReadMiniDump(crash.dumpPath);
    ASSERT_TRUE(IsWholeMiniDump(dump, true));
    EXPECT_EQ(crash.initializationThread, dump.exception->threadId);
    EXPECT_EQ(Hex(kHeapCorruption), Hex(dump.exception->code));
    EXPECT_EQ(static_cast<DWORD>(EXCEPTION_NONCONTINUABLE), dump.exception->flags);
    EXPECT_TRUE(dump.exception->parameters.empty());
}

// SizeOfImage from the PE header of an image file, 0 when it cannot be read.
std::uint64_t ImageSize(const std::wstring& path)
{
    const Qx::Platform::UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return 0;
    }
    char header[4096] = {};
    DWORD read = 0;
    const BOOL ok = ReadFile(file.get(), header, sizeof(header), &read, nullptr);
    IMAGE_DOS_HEADER dos{};
    if ((ok == 0) || read < sizeof(dos)) {
        return 0;
    }
    std::memcpy(&dos, header, sizeof(dos));
    IMAGE_NT_HEADERS64 nt{};
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 ||
        static_cast<std::size_t>(dos.e_lfanew) + sizeof(nt) > read) {
        return 0;
    }
    std::memcpy(&nt, header + dos.e_lfanew, sizeof(nt));
    return nt.Signature == IMAGE_NT_SIGNATURE ? nt.OptionalHeader.SizeOfImage : 0;
}

using HostExceptionLog = HostTest;

// Without a Parameters key the configuration raises HRXEx 0x80070002, which WinMain catches and
// logs. The first-chance handler has logged the throw before: once, with the same exception text,
// and with the host's image as the module that threw it.
TEST_F(HostExceptionLog, CaughtHrxExIsLoggedOnceWhenThrown)
{
    const HostRun run = Run(L"-name=" + m_service);
    EXPECT_EQ(Hex(kFileNotFound), Hex(run.exitCode));

    const LogFile log = ReadLog(LogPath(m_service, run.processId));
    ASSERT_TRUE(HasWinMainFailure(log, kFileNotFound));
    const auto thrown = RecordsStartingWith(log, kExceptionRecord);
    ASSERT_EQ(1u, thrown.size()) << Dump(log);
    const auto failure = RecordsStartingWith(log, "WinMain failed: ");
    ASSERT_EQ(1u, failure.size()) << Dump(log);
    EXPECT_LT(thrown.front(), failure.front()) << "the throw is logged before it is caught" << Dump(log);

    const std::string exceptionText = failure.front()->text.substr(std::string("WinMain failed: ").size());
    const std::string& text = thrown.front()->text;
    EXPECT_EQ("DBG", thrown.front()->severity);
    EXPECT_TRUE(thrown.front()->line.ends_with("  [LogUtils:261]")) << thrown.front()->line;
    static const std::regex kEnd(R"(\[EIP: .* 0x80070002 in module: 0x[0-9A-F]{16}$)");
    EXPECT_TRUE(std::regex_search(text, kEnd)) << text;
    const std::string head = kExceptionRecord + exceptionText + " in module: 0x";
    ASSERT_TRUE(text.starts_with(head)) << "expected \"" << head << "<module>\", got \"" << text << "\"";
    const std::string module = text.substr(head.size());

    // The place of the throw lies in the module: its first return address is inside the image.
    static const std::regex kFirstAddress(R"(\[EIP: 0x([0-9A-F]{16}))");
    std::smatch first;
    ASSERT_TRUE(std::regex_search(exceptionText, first, kFirstAddress)) << exceptionText;
    const std::uint64_t base = std::stoull(module, nullptr, 16);
    const std::uint64_t address = std::stoull(first[1], nullptr, 16);
    const std::uint64_t size = ImageSize(HostPath());
    ASSERT_NE(0u, size);
    EXPECT_LE(base, address);
    EXPECT_LT(address, base + size);
}

// QxDumpGen.exe started the way the host starts it, with the template's first word as the program
// name; its exit code, kNoExitCode when it could not be run or did not end in time.
DWORD RunDumpGen(const std::wstring& arguments)
{
    const std::wstring application = BinDirectory() + kDumpGen;
    std::wstring commandLine = std::wstring(kDumpGen) + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &process) == 0) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return kNoExitCode;
    }
    const Qx::Platform::UniqueKernelHandle child(process.hProcess);
    const Qx::Platform::UniqueKernelHandle thread(process.hThread);
    DWORD exitCode = kNoExitCode;
    if (WaitForSingleObject(process.hProcess, kDumpTimeoutMs) == WAIT_OBJECT_0) {
        EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &exitCode)) << GetLastError();
    } else {
        ADD_FAILURE() << "QxDumpGen.exe did not end within " << kDumpTimeoutMs << " ms";
        TerminateProcess(process.hProcess, kNoExitCode);
    }
    return exitCode;
}

std::wstring Decimal(DWORD value)
{
    return std::to_wstring(value);
}

std::wstring Address(const void* pointer)
{
    wchar_t text[32];
    std::swprintf(text, std::size(text), L"0x%016llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer)));
    return text;
}

class DumpGenerator : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = ServiceTempDirectory() + L"QxE2E dumps " + Decimal(GetCurrentProcessId()) + L"\\";
        RemoveFolder();
    }

    void TearDown() override { RemoveFolder(); }

    void RemoveFolder()
    {
        DeleteFileW((m_folder + kDumpName).c_str());
        RemoveDirectoryW(m_folder.c_str());
    }

    static constexpr const wchar_t* kDumpName = L"QxDumpGen test.dmp";
    // A folder with a space in its name, below the temporary folder.
    std::wstring m_folder;
};

// Every malformed command line ends with 1 before anything is opened. The process and the folder are
// valid, so a command line taken for a good one would end with 0 or 3 instead.
TEST_F(DumpGenerator, RefusesMalformedCommandLines)
{
    const std::wstring pid = Decimal(GetCurrentProcessId());
    const std::wstring path = L"\"" + m_folder + kDumpName + L"\"";
    ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr)) << GetLastError();
    // A bad process id or dump path, then the rest after a good process id and dump path.
    std::vector<std::wstring> malformed = {L"",
                                           L"12a " + path + L" 0 1 /m 0",
                                           L"4294967296 " + path + L" 0 1 /m 0",
                                           pid + L" \"\" 0 1 /m 0",
                                           pid + L" " + path.substr(0, path.size() - 1) + L" 0 1 /m 0",
                                           pid + L" " + m_folder + kDumpName + L" 0 1 /m 0"};
    // A quote that opens inside a word, which CommandLineToArgvW would take for the whole path.
    std::wstring openedInsideAWord = m_folder + kDumpName + L"\"";
    openedInsideAWord.insert(openedInsideAWord.find(L" dumps"), L"\"");
    malformed.push_back(pid + L" " + openedInsideAWord + L" 0 1 /m 0");
    const std::wstring goodStart = pid + L" " + path;
    for (const wchar_t* rest :
         {L" 0 1", L" 0 1 /m", L" 0 1 /m 2x", L" 0 1 /m 0 /m 0", L" 0 /m 0", L" 0 1 2 /m 0", L" 0x 1 /m 0",
          L" 00000000000000000 1 /m 0", L" 0g 1 /m 0", L" 0 -1 /m 0", L"x 0 1 /m 0", L" 0 1 /m 99999999999",
          L" 0 1 /m 2097152", L" 0 1 /m \uFF12", L" 0 1 /m -1", L" 0 1 /m +2", L" 0 1 /m \"0"}) {
        malformed.push_back(goodStart + rest);
    }
    for (const std::wstring& arguments : malformed) {
        EXPECT_EQ(kDumpGenBadArguments, RunDumpGen(arguments)) << ToUtf8(arguments);
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((m_folder + kDumpName).c_str()));
}

// Process id 0 names no process that can be opened.
TEST_F(DumpGenerator, ExitsWithACodeOfItsOwnForEachFailure)
{
    const std::wstring path = L"\"" + m_folder + kDumpName + L"\"";
    EXPECT_EQ(kDumpGenProcessNotOpened, RunDumpGen(L"0 " + path + L" 0 1 /m 0"));
    EXPECT_EQ(kDumpGenFileNotCreated, RunDumpGen(Decimal(GetCurrentProcessId()) + L" " + path + L" 0 1 /m 0"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(m_folder.c_str()));
}

// The dump of this test process, into a quoted path with spaces: without exception pointers there
// is no exception stream; with them, the exception stream holds the record they point to in this
// process and the thread given. "/m" may come first, and the address may carry "0x".
TEST_F(DumpGenerator, WritesTheDumpOfTheProcessItIsGiven)
{
    const std::wstring pid = Decimal(GetCurrentProcessId());
    const std::wstring dumpPath = m_folder + kDumpName;
    ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr)) << GetLastError();

    ASSERT_EQ(0u, RunDumpGen(L"/m 0 " + pid + L" \"" + dumpPath + L"\" 0 0"));
    EXPECT_TRUE(IsWholeMiniDump(ReadMiniDump(dumpPath), false));

    static EXCEPTION_RECORD record{};
    static CONTEXT context{};
    static EXCEPTION_POINTERS pointers{&record, &context};
    RtlCaptureContext(&context);
    record.ExceptionCode = 0xE0514445;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    record.ExceptionAddress = reinterpret_cast<void*>(&RunDumpGen);
    record.NumberParameters = 3;
    record.ExceptionInformation[0] = 0x11;
    record.ExceptionInformation[1] = 0x2222;
    record.ExceptionInformation[2] = 0x333333;
    const DWORD threadId = GetCurrentThreadId();
    ASSERT_EQ(0u,
              RunDumpGen(pid + L" \"" + dumpPath + L"\" " + Address(&pointers) + L" " + Decimal(threadId) + L" /m 0"));
    const MiniDump dump = ReadMiniDump(dumpPath);
    ASSERT_TRUE(IsWholeMiniDump(dump, true));
    EXPECT_EQ(threadId, dump.exception->threadId);
    EXPECT_EQ(Hex(0xE0514445), Hex(dump.exception->code));
    EXPECT_EQ(static_cast<DWORD>(EXCEPTION_NONCONTINUABLE), dump.exception->flags);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&RunDumpGen), dump.exception->address);
    EXPECT_EQ((std::vector<std::uint64_t>{0x11, 0x2222, 0x333333}), dump.exception->parameters);
}

} // namespace
