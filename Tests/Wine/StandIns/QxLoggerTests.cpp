// QxLogger.dll as the host uses it: loaded by name, objects from LoggerLibAPI_GetLogger, files in
// the Logs folder beside this executable.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "RegistryValueOverride.h"
#include "ResKit/Logger/LoggerItf.h"
#include "TestFiles.h"
#include "TextLines.h"

namespace {

using namespace Qx::Testing;

constexpr const wchar_t* kSettingsKey = L"SOFTWARE\\Qx\\QxLogger";
constexpr const wchar_t* kServiceSettingsKey = L"SOFTWARE\\Qx\\QxLogger\\Services\\";
constexpr const char* kHeader = "==== Module log (LogLevel 3) ====";

std::wstring Pid()
{
    return std::to_wstring(GetCurrentProcessId());
}

std::wstring EarlyLogPath()
{
    const std::wstring exe = ModulePath(nullptr);
    std::wstring base = exe.substr(exe.find_last_of(L'\\') + 1);
    base = base.substr(0, base.find_last_of(L'.'));
    return LogsDirectory() + base + L"(" + Pid() + L").log";
}

std::vector<std::string> ReadLines(const std::wstring& path)
{
    return SplitCrLfLines(ReadFileBytes(path));
}

// Everything a record line holds after its 23-character timestamp.
std::string RecordTail(const std::string& severity, const std::string& body, DWORD threadId = GetCurrentThreadId())
{
    char prefix[64];
    std::snprintf(prefix, sizeof(prefix), " %6lu %6lu %-5s ", GetCurrentProcessId(), threadId, severity.c_str());
    return prefix + body;
}

void ExpectRecord(const std::string& line, const std::string& severity, const std::string& body,
                  DWORD threadId = GetCurrentThreadId())
{
    ASSERT_GE(line.size(), 23u) << line;
    EXPECT_TRUE(IsTimeStamp(line.substr(0, 23))) << line;
    EXPECT_EQ(line.substr(23), RecordTail(severity, body, threadId));
}

struct Record {
    std::string severity;
    std::string body;
};

// The lines from first on are exactly these records, all of this thread.
void ExpectRecords(const std::vector<std::string>& lines, const std::vector<Record>& records, std::size_t first = 0)
{
    ASSERT_EQ(lines.size(), first + records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        ExpectRecord(lines[first + i], records[i].severity, records[i].body);
    }
}

// Hours after 2020-01-01 00:00 UTC, as a last-write time far older than any file written now.
FILETIME HoursAfter2020(int hours)
{
    SYSTEMTIME start{};
    start.wYear = 2020;
    start.wMonth = 1;
    start.wDay = 1;
    FILETIME time{};
    EXPECT_TRUE(SystemTimeToFileTime(&start, &time));
    ULARGE_INTEGER value{};
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    value.QuadPart += static_cast<ULONGLONG>(hours) * 3600ULL * 10000000ULL;
    time.dwLowDateTime = value.LowPart;
    time.dwHighDateTime = value.HighPart;
    return time;
}

void SetLastWriteTime(const std::wstring& path, const FILETIME& time)
{
    const UniqueKernelHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(file.get(), INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &time)) << GetLastError();
}

LogUtils::SModuleLogInit* AsInitBlock(LogUtils::SModuleLogInitData& data)
{
    return reinterpret_cast<LogUtils::SModuleLogInit*>(&data);
}

// Takes a key below HKEY_LOCAL_MACHINE away, subkeys and all, and puts it back as it was.
class KeySetAside {
public:
    explicit KeySetAside(std::wstring path)
        : m_path(std::move(path)), m_copy(m_path + L" (set aside by " + Pid() + L")")
    {
        UniqueRegKey original;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, KEY_READ, original.out()) != ERROR_SUCCESS) {
            return;
        }
        UniqueRegKey copy;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_copy.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  copy.out(), nullptr),
                  ERROR_SUCCESS);
        m_saved = RegCopyTreeW(original.get(), nullptr, copy.get()) == ERROR_SUCCESS;
        EXPECT_TRUE(m_saved);
        original.reset();
        EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_path.c_str()), ERROR_SUCCESS);
    }

    ~KeySetAside()
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_path.c_str());
        if (!m_saved) {
            return;
        }
        UniqueRegKey copy;
        UniqueRegKey original;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_copy.c_str(), 0, KEY_READ, copy.out()) == ERROR_SUCCESS &&
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, original.out(),
                            nullptr) == ERROR_SUCCESS) {
            EXPECT_EQ(RegCopyTreeW(copy.get(), nullptr, original.get()), ERROR_SUCCESS);
        }
        copy.reset();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_copy.c_str());
    }

    KeySetAside(const KeySetAside&) = delete;
    KeySetAside& operator=(const KeySetAside&) = delete;

private:
    std::wstring m_path;
    std::wstring m_copy;
    bool m_saved = false;
};

// Each test loads its own copy of the library, so the process-wide writer starts in its initial state
// (no Init yet) every time.
class QxLoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_logLevel.Remove();
        DeleteLogs(EarlyLogPath());
        m_module = LoadLibraryW(kLoggerLibraryFileName);
        ASSERT_NE(m_module, nullptr) << "LoadLibraryW failed with " << GetLastError();
        m_getLogger = reinterpret_cast<LoggerLibGetLoggerFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(m_module, kLoggerLibGetLoggerExport)));
        ASSERT_NE(m_getLogger, nullptr);
        m_getLevelMask = reinterpret_cast<LoggerLibGetLevelMaskFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(m_module, kLoggerLibGetLevelMaskExport)));
        ASSERT_NE(m_getLevelMask, nullptr);
    }

    void TearDown() override
    {
        m_loggers.clear();
        if (m_module != nullptr) {
            EXPECT_TRUE(FreeLibrary(m_module));
            EXPECT_EQ(GetModuleHandleW(kLoggerLibraryFileName), nullptr) << "QxLogger.dll stayed loaded";
        }
        DeleteLogs(EarlyLogPath());
        for (const std::wstring& path : m_logPaths) {
            DeleteLogs(path);
        }
    }

    IFileLoggerItf& NewLogger()
    {
        IFileLoggerItf* logger = m_getLogger(nullptr);
        EXPECT_NE(logger, nullptr);
        m_loggers.emplace_back(logger);
        return *logger;
    }

    // The bits of the mask word the library publishes for logger.
    std::uint32_t PublishedMask(IFileLoggerItf& logger)
    {
        const LoggerLevelMask* word = m_getLevelMask(&logger);
        EXPECT_NE(word, nullptr);
        return word != nullptr ? word->load() : 0;
    }

    // A log name unique to this process; the file and its rotations are removed before and after.
    std::wstring LogName(const std::wstring& purpose)
    {
        std::wstring name = L"StandIns-" + purpose + L"(" + Pid() + L").log";
        m_logPaths.push_back(LogsDirectory() + name);
        DeleteLogs(m_logPaths.back());
        return name;
    }

    // A log file left by an earlier run, last written the given number of hours after 2020 began;
    // removed after the test.
    void WriteOldLog(const std::wstring& fileName, int hours)
    {
        const std::wstring path = LogsDirectory() + fileName;
        m_logPaths.push_back(path);
        CreateDirectoryW(LogsDirectory().c_str(), nullptr);
        WriteFileBytes(path, "old run\r\n");
        SetLastWriteTime(path, HoursAfter2020(hours));
    }

    // The early log an earlier process with this process's id left; returns what it holds.
    static std::string LeaveAnotherRunsEarlyLog()
    {
        std::string leftover = "another run's record\r\n";
        CreateDirectoryW(LogsDirectory().c_str(), nullptr);
        WriteFileBytes(EarlyLogPath(), leftover);
        return leftover;
    }

    // Removes the file and every "<stem>.<n>.log" beside it.
    static void DeleteLogs(const std::wstring& path)
    {
        DeleteFileW(path.c_str());
        const std::wstring stem = path.substr(0, path.size() - 4);
        WIN32_FIND_DATAW found{};
        const Qx::Platform::UniqueFindHandle search(FindFirstFileW((stem + L".*.log").c_str(), &found));
        if (!search) {
            return;
        }
        do {
            DeleteFileW((LogsDirectory() + found.cFileName).c_str());
        } while (FindNextFileW(search.get(), &found) != 0);
    }

    RegistryValueOverride m_logLevel{kSettingsKey, L"LogLevel"};
    HMODULE m_module = nullptr;
    LoggerLibGetLoggerFunction m_getLogger = nullptr;
    LoggerLibGetLevelMaskFunction m_getLevelMask = nullptr;
    struct DestroyThroughSlot0 {
        void operator()(IFileLoggerItf* logger) const { DestroyInterfaceObject(logger); }
    };
    std::vector<std::unique_ptr<IFileLoggerItf, DestroyThroughSlot0>> m_loggers;
    std::vector<std::wstring> m_logPaths;
};

TEST_F(QxLoggerTest, EarlyRecordsMoveToTheTopOfTheNamedLog)
{
    IFileLoggerItf& logger = NewLogger();
    const std::wstring early = EarlyLogPath();
    EXPECT_EQ(logger.GetSettings().Value1(), early);
    EXPECT_EQ(logger.GetSettings().Value2(), LogsDirectory().substr(0, LogsDirectory().size() - 1));
    EXPECT_EQ(logger.GetSettings().Number1(), 3);
    EXPECT_EQ(logger.GetSettings().Number2(), 0);
    EXPECT_FALSE(FileExists(early)) << "nothing logged yet, so no file";

    EXPECT_EQ(logger.Write(L"C:\\src\\Host\\WinMain.cpp", 12, L"Command line: -Svc", 1, L"INFO"), S_OK);
    EXPECT_EQ(logger.Write(nullptr, 0, L"second early record", 2, L"DBG"), S_OK);
    const std::string earlyContent = ReadFileBytes(early);
    ExpectRecords(SplitCrLfLines(earlyContent),
                  {{"INFO", "Command line: -Svc  [WinMain.cpp:12]"}, {"DBG", "second early record"}});

    const std::wstring name = LogName(L"Early");
    const std::wstring named = LogsDirectory() + name;
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    EXPECT_FALSE(FileExists(early));
    EXPECT_EQ(logger.GetSettings().Value1(), named);
    EXPECT_EQ(logger.Write(nullptr, 0, L"after Init", 1, L"INFO"), S_OK);

    const std::string namedContent = ReadFileBytes(named);
    EXPECT_EQ(namedContent.substr(0, earlyContent.size()), earlyContent);
    ExpectRecords(SplitCrLfLines(namedContent), {{"INFO", kHeader}, {"INFO", "after Init"}}, 2);

    // A later Init switches files and leaves the first one as it was.
    const std::wstring otherName = LogName(L"EarlyOther");
    EXPECT_EQ(logger.Init(otherName.c_str(), L"Module log", true, nullptr), S_OK);
    EXPECT_EQ(logger.GetSettings().Value1(), LogsDirectory() + otherName);
    EXPECT_EQ(logger.Write(nullptr, 0, L"in the other file", 3, L"DBG"), S_OK);
    EXPECT_EQ(ReadFileBytes(named), namedContent);
    ExpectRecords(ReadLines(LogsDirectory() + otherName), {{"INFO", kHeader}, {"DBG", "in the other file"}});
    EXPECT_FALSE(FileExists(early));
}

// An earlier process with this process's id left its early log: this run neither continues it nor
// carries its records into the named log, whether or not it logged early itself. The old file is
// kept under the next rotation name once this run writes an early file of its own.
TEST_F(QxLoggerTest, AnotherRunsEarlyLogIsNeverAdopted)
{
    const std::wstring early = EarlyLogPath();
    const std::string leftover = LeaveAnotherRunsEarlyLog();
    IFileLoggerItf& logger = NewLogger();
    EXPECT_EQ(logger.Write(nullptr, 0, L"this run's record", 1, L"INFO"), S_OK);
    EXPECT_EQ(ReadFileBytes(early.substr(0, early.size() - 4) + L".1.log"), leftover);

    const std::wstring name = LogName(L"AdoptsNothing");
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    ExpectRecords(ReadLines(LogsDirectory() + name), {{"INFO", "this run's record"}, {"INFO", kHeader}});
}

TEST_F(QxLoggerTest, AnotherRunsEarlyLogStaysWhenThisRunLoggedNothingEarly)
{
    const std::string leftover = LeaveAnotherRunsEarlyLog();
    IFileLoggerItf& logger = NewLogger();
    const std::wstring name = LogName(L"AdoptsNothingUnlogged");
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    ExpectRecords(ReadLines(LogsDirectory() + name), {{"INFO", kHeader}});
    EXPECT_EQ(ReadFileBytes(EarlyLogPath()), leftover);
}

// A named file that is there already is an earlier process's of the same id: it is kept under the
// next rotation name, and the named log holds this run alone, whether this run logged early or not.
TEST_F(QxLoggerTest, ANamedLogAnEarlierProcessLeftIsSetAside)
{
    for (const bool loggedEarly : {true, false}) {
        SCOPED_TRACE(loggedEarly ? "logged early" : "nothing early");
        const std::wstring name = LogName(loggedEarly ? L"EarlyExisting" : L"EarlyExistingUnlogged");
        const std::wstring named = LogsDirectory() + name;
        CreateDirectoryW(LogsDirectory().c_str(), nullptr);
        WriteFileBytes(named, "old run\r\n");
        IFileLoggerItf& logger = NewLogger();
        if (loggedEarly) {
            EXPECT_EQ(logger.Write(nullptr, 0, L"early record", 1, L"INFO"), S_OK);
        }
        EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
        EXPECT_FALSE(FileExists(EarlyLogPath()));
        EXPECT_EQ(ReadFileBytes(named.substr(0, named.size() - 4) + L".1.log"), "old run\r\n");
        const std::vector<std::string> lines = ReadLines(named);
        ASSERT_EQ(lines.size(), loggedEarly ? 2u : 1u);
        if (loggedEarly) {
            ExpectRecord(lines[0], "INFO", "early record");
        }
        ExpectRecord(lines.back(), "INFO", kHeader);
    }
}

TEST_F(QxLoggerTest, RecordLinesHaveFixedColumns)
{
    IFileLoggerItf& logger = NewLogger();
    const std::wstring name = LogName(L"Format");
    const std::string before = LocalTimeStamp();
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    EXPECT_EQ(logger.Write(L"C:\\work\\src\\Service.cpp", 42, L"debug text", 2, L"DBG"), S_OK);
    EXPECT_EQ(logger.Write(L"src/unix/Trace.cpp", 7, L"info text", 1, L"INFO"), S_OK);
    EXPECT_EQ(logger.Write(L"", 9, L"warning text", 1, L"WARN"), S_OK);
    EXPECT_EQ(logger.Write(nullptr, 0, L"error text", 1, L"ERROR"), S_OK);
    EXPECT_EQ(logger.Write(nullptr, 0, L"fatal text", 1, L"FATAL"), S_OK);
    EXPECT_EQ(logger.Write(nullptr, 0, L"first\r\nsecond\nthird", 1, L"INFO"), S_OK);
    EXPECT_EQ(logger.Write(nullptr, 0, L"Gr\u00FC\u00DFe \u2713", 1, L"INFO"), S_OK);
    EXPECT_EQ(logger.Write(nullptr, 7, nullptr, 1, nullptr), S_OK);
    logger.Reserved();
    const std::string after = LocalTimeStamp();

    const std::vector<std::string> lines = ReadLines(LogsDirectory() + name);
    const std::string greetingUtf8 = "Gr\xC3\xBC\xC3\x9F"
                                     "e \xE2\x9C\x93";
    ExpectRecords(lines, {{"INFO", kHeader},
                          {"DBG", "debug text  [Service.cpp:42]"},
                          {"INFO", "info text  [Trace.cpp:7]"},
                          {"WARN", "warning text"},
                          {"ERROR", "error text"},
                          {"FATAL", "fatal text"},
                          {"INFO", "first  second third"},
                          {"INFO", greetingUtf8},
                          {"", ""}});
    for (const std::string& line : lines) {
        EXPECT_LE(before, line.substr(0, 23));
        EXPECT_GE(after, line.substr(0, 23));
    }

    EXPECT_EQ(logger.Init(nullptr, L"Module log", true, nullptr), E_INVALIDARG);
    EXPECT_EQ(logger.GetSettings().Value1(), LogsDirectory() + name);
}

// Hosts log between a failing call and their GetLastError; the logger must not answer in between.
TEST_F(QxLoggerTest, LoggingKeepsTheCallersLastError)
{
    IFileLoggerItf& logger = NewLogger();
    const std::wstring name = LogName(L"LastError");
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    SetLastError(ERROR_FILE_NOT_FOUND);
    logger.ChangeIndent(1);
    logger.Write(nullptr, 0, L"record", 1, L"INFO");
    EXPECT_TRUE(logger.IsEnabled(1));
    logger.ChangeIndent(-1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(QxLoggerTest, IndentationIsKeptPerThreadAndNeverNegative)
{
    IFileLoggerItf& logger = NewLogger();
    const std::wstring name = LogName(L"Indent");
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);

    logger.ChangeIndent(2);
    logger.Write(nullptr, 0, L"main at two", 1, L"INFO");
    DWORD workerId = 0;
    std::thread worker([&] {
        workerId = GetCurrentThreadId();
        logger.Write(nullptr, 0, L"worker at zero", 1, L"INFO");
        logger.ChangeIndent(1);
        logger.Write(nullptr, 0, L"worker at one", 1, L"INFO");
        logger.ChangeIndent(-5);
        logger.Write(nullptr, 0, L"worker clamped", 1, L"INFO");
        logger.ChangeIndent(1);
        logger.Write(nullptr, 0, L"worker back at one", 1, L"INFO");
    });
    worker.join();
    logger.Write(nullptr, 0, L"main still at two", 1, L"INFO");
    logger.ChangeIndent(-2);
    logger.Write(nullptr, 0, L"main at zero", 1, L"INFO");

    const std::vector<std::string> lines = ReadLines(LogsDirectory() + name);
    ASSERT_EQ(lines.size(), 8u);
    ExpectRecord(lines[1], "INFO", "    main at two");
    ExpectRecord(lines[2], "INFO", "worker at zero", workerId);
    ExpectRecord(lines[3], "INFO", "  worker at one", workerId);
    ExpectRecord(lines[4], "INFO", "worker clamped", workerId);
    ExpectRecord(lines[5], "INFO", "  worker back at one", workerId);
    ExpectRecord(lines[6], "INFO", "    main still at two");
    ExpectRecord(lines[7], "INFO", "main at zero");
}

TEST_F(QxLoggerTest, LogLevelComesFromTheRegistry)
{
    IFileLoggerItf& first = NewLogger();
    for (const int level : {INT_MIN, -1, 0, 4, 5, INT_MAX}) {
        EXPECT_FALSE(first.IsEnabled(level)) << level;
    }
    for (const int level : {1, 2, 3}) {
        EXPECT_TRUE(first.IsEnabled(level)) << level;
    }
    EXPECT_EQ(PublishedMask(first), 0b1110u) << "the mask word holds the levels 1 to 3";
    EXPECT_EQ(m_getLevelMask(nullptr), nullptr);
    const std::wstring name = LogName(L"Level");
    EXPECT_EQ(first.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    first.Write(nullptr, 0, L"level 4 is dropped", 4, L"DBG");
    first.Write(nullptr, 0, L"level 0 is dropped", 0, L"INFO");
    first.Write(nullptr, 0, L"level 3 is kept", 3, L"DBG");
    std::vector<std::string> lines = ReadLines(LogsDirectory() + name);
    ASSERT_EQ(lines.size(), 2u);
    ExpectRecord(lines[1], "DBG", "level 3 is kept");

    // Read when an object is created; the level belongs to the process, so every object sees it.
    m_logLevel.SetDword(5);
    EXPECT_FALSE(first.IsEnabled(5)) << "not read again before a new object or Init";
    EXPECT_EQ(PublishedMask(first), 0b1110u);
    IFileLoggerItf& second = NewLogger();
    EXPECT_TRUE(second.IsEnabled(5));
    EXPECT_TRUE(first.IsEnabled(5));
    EXPECT_FALSE(second.IsEnabled(6));
    EXPECT_EQ(second.GetSettings().Number1(), 5);
    EXPECT_EQ(m_getLevelMask(&first), m_getLevelMask(&second)) << "the level is the process's: one word";
    EXPECT_EQ(PublishedMask(first), 0b111110u) << "the word follows the level at once";

    // Read again at Init.
    m_logLevel.SetDword(1);
    const std::wstring quietName = LogName(L"LevelOne");
    EXPECT_EQ(first.Init(quietName.c_str(), L"Module log", true, nullptr), S_OK);
    EXPECT_TRUE(first.IsEnabled(1));
    EXPECT_FALSE(first.IsEnabled(2));
    EXPECT_EQ(PublishedMask(first), 0b10u);
    first.Write(nullptr, 0, L"level 2 is dropped", 2, L"DBG");
    lines = ReadLines(LogsDirectory() + quietName);
    ASSERT_EQ(lines.size(), 1u);
    ExpectRecord(lines[0], "INFO", "==== Module log (LogLevel 1) ====");

    m_logLevel.SetDword(0xFFFFFFFF);
    NewLogger();
    EXPECT_TRUE(first.IsEnabled(INT_MAX));
    EXPECT_FALSE(first.IsEnabled(0));
    EXPECT_EQ(PublishedMask(first), 0xFFFFFFFEu) << "every level from 1 that has a bit";

    // Values of another type fall back to the default.
    m_logLevel.SetString(L"5");
    NewLogger();
    EXPECT_TRUE(first.IsEnabled(3));
    EXPECT_FALSE(first.IsEnabled(4));
    m_logLevel.SetQword(5);
    NewLogger();
    EXPECT_TRUE(first.IsEnabled(3));
    EXPECT_FALSE(first.IsEnabled(4));
    EXPECT_EQ(PublishedMask(first), 0b1110u);

    // 0 turns logging off: no records, and Init creates no file.
    m_logLevel.SetDword(0);
    const std::wstring offName = LogName(L"LevelOff");
    EXPECT_EQ(first.Init(offName.c_str(), L"Module log", true, nullptr), S_OK);
    for (const int level : {1, 2, 3}) {
        EXPECT_FALSE(first.IsEnabled(level)) << level;
    }
    EXPECT_EQ(PublishedMask(first), 0u);
    first.Write(nullptr, 0, L"dropped", 1, L"INFO");
    EXPECT_FALSE(FileExists(LogsDirectory() + offName));
}

TEST_F(QxLoggerTest, FullFileRotatesToTheSmallestFreeNumber)
{
    IFileLoggerItf& logger = NewLogger();
    const std::wstring name = LogName(L"Rotate");
    const std::wstring stem = LogsDirectory() + name.substr(0, name.size() - 4);
    ASSERT_TRUE(CreateDirectoryW(LogsDirectory().c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    WriteFileBytes(stem + L".1.log", "occupied\r\n");

    constexpr std::uint64_t kMaxFileSize = 300;
    LogUtils::SModuleLogInitData data;
    data.maxFileSize = kMaxFileSize;
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, AsInitBlock(data)), S_OK);
    std::vector<std::string> expected = {RecordTail("INFO", kHeader)};
    for (int i = 0; i < 12; ++i) {
        const std::wstring text = L"rotation record " + std::to_wstring(i);
        logger.Write(nullptr, 0, text.c_str(), 1, L"INFO");
        expected.push_back(RecordTail("INFO", ToUtf8(text)));
        if (i == 5) {
            // Larger than the limit on its own: it gets a file to itself.
            const std::string big(kMaxFileSize, 'x');
            logger.Write(nullptr, 0, std::wstring(big.begin(), big.end()).c_str(), 1, L"INFO");
            expected.push_back(RecordTail("INFO", big));
        }
    }

    EXPECT_EQ(ReadFileBytes(stem + L".1.log"), "occupied\r\n");
    std::vector<std::wstring> files;
    for (int n = 2; FileExists(stem + L"." + std::to_wstring(n) + L".log"); ++n) {
        files.push_back(stem + L"." + std::to_wstring(n) + L".log");
    }
    files.push_back(LogsDirectory() + name);
    ASSERT_GE(files.size(), 4u) << "300 bytes hold about four records";

    std::vector<std::string> tails;
    std::vector<std::string> firstLines;
    for (const std::wstring& file : files) {
        const std::string content = ReadFileBytes(file);
        const std::vector<std::string> lines = SplitCrLfLines(content);
        ASSERT_FALSE(lines.empty());
        const bool holdsTheBigRecord = lines.size() == 1 && content.size() > kMaxFileSize;
        EXPECT_TRUE(content.size() <= kMaxFileSize || holdsTheBigRecord) << content.size();
        firstLines.push_back(lines.front());
        for (const std::string& line : lines) {
            EXPECT_TRUE(IsTimeStamp(line.substr(0, 23))) << line;
            tails.push_back(line.substr(23));
        }
    }
    EXPECT_EQ(tails, expected);
    // A file was closed only because the next record would not fit.
    for (std::size_t i = 0; i + 1 < files.size(); ++i) {
        EXPECT_GT(ReadFileBytes(files[i]).size() + firstLines[i + 1].size() + 2, kMaxFileSize);
    }
}

TEST_F(QxLoggerTest, ConcurrentWritersProduceWholeLines)
{
    IFileLoggerItf& logger = NewLogger();
    const std::wstring name = LogName(L"Concurrent");
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);

    constexpr int kWriters = 4;
    constexpr int kRecords = 500;
    const std::wstring padding(120, L'.');
    std::vector<DWORD> threadIds(kWriters);
    std::atomic<int> ready{0};
    std::vector<std::thread> writers;
    writers.reserve(kWriters);
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            threadIds[w] = GetCurrentThreadId();
            ++ready;
            while (ready.load() < kWriters) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kRecords; ++i) {
                const std::wstring text =
                    L"writer " + std::to_wstring(w) + L" record " + std::to_wstring(i) + L" " + padding;
                logger.Write(nullptr, 0, text.c_str(), 2, L"DBG");
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }

    const std::vector<std::string> lines = ReadLines(LogsDirectory() + name);
    ASSERT_EQ(lines.size(), 1u + kWriters * kRecords);
    ExpectRecord(lines[0], "INFO", kHeader);
    std::vector<int> next(kWriters, 0);
    for (std::size_t l = 1; l < lines.size(); ++l) {
        const std::string tail = lines[l].substr(23);
        int writer = -1;
        int record = -1;
        const std::size_t text = tail.find("writer ");
        ASSERT_NE(text, std::string::npos) << lines[l];
        ASSERT_EQ(std::sscanf(tail.c_str() + text, "writer %d record %d", &writer, &record), 2) << lines[l];
        ASSERT_TRUE(writer >= 0 && writer < kWriters) << lines[l];
        EXPECT_EQ(record, next[writer]) << "records of one thread keep their order";
        next[writer] = record + 1;
        ExpectRecord(lines[l], "DBG",
                     "writer " + std::to_string(writer) + " record " + std::to_string(record) + " " + ToUtf8(padding),
                     threadIds[writer]);
    }
    EXPECT_EQ(next, std::vector<int>(kWriters, kRecords));
}

TEST_F(QxLoggerTest, ObjectsShareOneWriterAndAreDestroyedThroughSlot0)
{
    IFileLoggerItf* first = m_getLogger(nullptr);
    IFileLoggerItf* second = m_getLogger(nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    const std::wstring name = LogName(L"Shared");
    EXPECT_EQ(first->Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    EXPECT_EQ(second->GetSettings().Value1(), LogsDirectory() + name);

    second->Write(nullptr, 0, L"from the second object", 1, L"INFO");
    first->Write(nullptr, 0, L"from the first object", 1, L"INFO");
    DestroyInterfaceObject(second);
    first->Write(nullptr, 0, L"after deleting the second", 1, L"INFO");
    DestroyInterfaceObject(first);
    IFileLoggerItf* third = m_getLogger(nullptr);
    ASSERT_NE(third, nullptr);
    third->Write(nullptr, 0, L"from a later object", 1, L"INFO");
    EXPECT_EQ(third->GetSettings().Value1(), LogsDirectory() + name);
    DestroyInterfaceObject(third);

    ExpectRecords(ReadLines(LogsDirectory() + name), {{"INFO", kHeader},
                                                      {"INFO", "from the second object"},
                                                      {"INFO", "from the first object"},
                                                      {"INFO", "after deleting the second"},
                                                      {"INFO", "from a later object"}});
}

// The logger keeps its settings keys open between reads. A key deleted and created again meanwhile is
// opened again, so that its new values count.
TEST_F(QxLoggerTest, ASettingsKeyCreatedAgainIsOpenedAgain)
{
    m_logLevel.SetDword(2);
    IFileLoggerItf& logger = NewLogger();
    EXPECT_FALSE(logger.IsEnabled(3));
    const KeySetAside away(kSettingsKey);
    NewLogger();
    EXPECT_TRUE(logger.IsEnabled(3)) << "no key: the default level";
    EXPECT_FALSE(logger.IsEnabled(4));
    m_logLevel.SetDword(5);
    NewLogger();
    EXPECT_TRUE(logger.IsEnabled(5));
    EXPECT_FALSE(logger.IsEnabled(6));
}

TEST_F(QxLoggerTest, ServiceLogLevelOverridesTheGlobalOne)
{
    m_logLevel.SetDword(2);
    RegistryValueOverride ownLevel(std::wstring(kServiceSettingsKey) + L"StandIns-OwnLevel", L"LogLevel");
    ownLevel.SetDword(4);
    IFileLoggerItf& logger = NewLogger();
    EXPECT_TRUE(logger.IsEnabled(2)) << "before Init the service is unknown: the global level";
    EXPECT_FALSE(logger.IsEnabled(3));

    const std::wstring name = LogName(L"OwnLevel");
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    EXPECT_TRUE(logger.IsEnabled(4));
    EXPECT_FALSE(logger.IsEnabled(5));
    EXPECT_EQ(PublishedMask(logger), 0b11110u) << "the service's own level";
    EXPECT_EQ(logger.GetSettings().Number1(), 4);
    logger.Write(nullptr, 0, L"level 4 is kept", 4, L"DBG");
    std::vector<std::string> lines = ReadLines(LogsDirectory() + name);
    ASSERT_EQ(lines.size(), 2u);
    ExpectRecord(lines[0], "INFO", "==== Module log (LogLevel 4) ====");
    ExpectRecord(lines[1], "DBG", "level 4 is kept");
    EXPECT_TRUE(NewLogger().IsEnabled(4)) << "an object created later reads the service's level too";

    // A service without a value of its own logs at the global level.
    const std::wstring otherName = LogName(L"OtherLevel");
    EXPECT_EQ(logger.Init(otherName.c_str(), L"Module log", true, nullptr), S_OK);
    EXPECT_TRUE(logger.IsEnabled(2));
    EXPECT_FALSE(logger.IsEnabled(3));

    // A value of another type counts as none.
    ownLevel.SetString(L"4");
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    EXPECT_TRUE(logger.IsEnabled(2));
    EXPECT_FALSE(logger.IsEnabled(3));

    // 0 switches the service's logging off while the global level stays on.
    const std::wstring offName = LogName(L"OwnLevelOff");
    RegistryValueOverride offLevel(std::wstring(kServiceSettingsKey) + L"StandIns-OwnLevelOff", L"LogLevel");
    offLevel.SetDword(0);
    EXPECT_EQ(logger.Init(offName.c_str(), L"Module log", true, nullptr), S_OK);
    EXPECT_FALSE(logger.IsEnabled(1));
    logger.Write(nullptr, 0, L"dropped", 1, L"INFO");
    EXPECT_FALSE(FileExists(LogsDirectory() + offName));
}

// A service named like the executable: every run's early log has the form of its logs, and none of
// them is the service's to delete.
TEST_F(QxLoggerTest, AServiceNamedLikeTheExecutableDeletesNoEarlyLog)
{
    const std::wstring early = EarlyLogPath();
    const std::wstring base =
        early.substr(early.find_last_of(L'\\') + 1, early.find_last_of(L'(') - early.find_last_of(L'\\') - 1);
    std::vector<std::wstring> otherRuns;
    for (int i = 0; i < 12; ++i) {
        otherRuns.push_back(base + L"(" + std::to_wstring(99990 + i) + L").log");
        WriteOldLog(otherRuns.back(), i);
    }
    IFileLoggerItf& logger = NewLogger();
    const std::wstring name = early.substr(early.find_last_of(L'\\') + 1);
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    for (const std::wstring& fileName : otherRuns) {
        EXPECT_TRUE(FileExists(LogsDirectory() + fileName)) << ToUtf8(fileName);
    }
}

TEST_F(QxLoggerTest, InitKeepsTheNewestLogFilesOfTheService)
{
    RegistryValueOverride keepGlobal(kSettingsKey, L"KeepLogFiles");
    keepGlobal.Remove();
    RegistryValueOverride keepOwn(std::wstring(kServiceSettingsKey) + L"StandIns-Keep", L"KeepLogFiles");
    keepOwn.Remove();
    // Twelve runs of the service, one of them rotated, the oldest first.
    std::vector<std::wstring> runs;
    for (int i = 0; i < 12; ++i) {
        runs.push_back(L"StandIns-Keep(" + std::to_wstring(99990 + i) + L").log");
        WriteOldLog(runs.back(), 10 + i);
    }
    const std::wstring rotated = L"StandIns-Keep(99980).1.log";
    WriteOldLog(rotated, 1);
    const std::wstring otherCase = L"standins-keep(99981).log";
    WriteOldLog(otherCase, 2);
    // Files of other services, and names the service's log never has, stay whatever their age.
    const std::vector<std::wstring> foreign = {L"StandIns-KeepOther(99970).log", L"StandIns-Keep(99971)(5).log",
                                               L"StandIns-Keep(x).log",          L"StandIns-Keep.log",
                                               L"StandIns-Keep(99972).1.2.log",  L"StandIns-Keep(99973).txt.log"};
    for (const std::wstring& fileName : foreign) {
        WriteOldLog(fileName, 0);
    }

    // The default keeps ten: the new file and the nine newest before it.
    IFileLoggerItf& logger = NewLogger();
    const std::wstring name = LogName(L"Keep");
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    EXPECT_TRUE(FileExists(LogsDirectory() + name));
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(FileExists(LogsDirectory() + runs[i]), i >= 3) << ToUtf8(runs[i]);
    }
    EXPECT_FALSE(FileExists(LogsDirectory() + rotated));
    EXPECT_FALSE(FileExists(LogsDirectory() + otherCase));
    for (const std::wstring& fileName : foreign) {
        EXPECT_TRUE(FileExists(LogsDirectory() + fileName)) << ToUtf8(fileName);
    }

    // The global value sets the number, and every Init prunes.
    keepGlobal.SetDword(3);
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(FileExists(LogsDirectory() + runs[i]), i >= 10) << ToUtf8(runs[i]);
    }

    // The service's own value wins; values of another type count as none.
    keepOwn.SetString(L"1");
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    EXPECT_TRUE(FileExists(LogsDirectory() + runs[10]));
    keepOwn.SetDword(1);
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    EXPECT_FALSE(FileExists(LogsDirectory() + runs[10]));
    EXPECT_FALSE(FileExists(LogsDirectory() + runs[11]));
    EXPECT_TRUE(FileExists(LogsDirectory() + name)) << "the current file always stays";

    // 0 keeps every file.
    keepOwn.SetDword(0);
    for (int i = 0; i < 12; ++i) {
        WriteOldLog(runs[i], 10 + i);
    }
    EXPECT_EQ(logger.Init(name.c_str(), L"Module log", true, nullptr), S_OK);
    for (const std::wstring& fileName : runs) {
        EXPECT_TRUE(FileExists(LogsDirectory() + fileName)) << ToUtf8(fileName);
    }
    for (const std::wstring& fileName : foreign) {
        EXPECT_TRUE(FileExists(LogsDirectory() + fileName)) << ToUtf8(fileName);
    }
}

} // namespace
