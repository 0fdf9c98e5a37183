#include "Common/DumpGenImpl.h"

#include <gtest/gtest.h>

#include "FakePlatform.h"
#include "RecordingLogger.h"

using namespace Qx;
using namespace Qx::Platform;
using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kDumpDirectory = L"C:\\Temp\\";

std::wstring Formatted(const std::wstring& userDump)
{
    std::wstring commandLine = L"untouched";
    if (!FormatGeneratorCommandLine(userDump, 4242, L"C:\\Temp\\x.dmp", reinterpret_cast<const void*>(0xABCDE), 77,
                                    commandLine)) {
        return L"<refused>";
    }
    return commandLine;
}

TEST(DumpGeneratorTemplateTest, DumpTypeFollowsTheMOption)
{
    EXPECT_EQ(ParseDumpType(L"QxDumpGen.exe %u %s %p %u /m 2"), 2);
    EXPECT_EQ(ParseDumpType(L"gen /m   12x"), 12);
    EXPECT_EQ(ParseDumpType(L"gen /m x"), 0);
    EXPECT_EQ(ParseDumpType(L"gen /M 2"), 0);
    EXPECT_EQ(ParseDumpType(L""), 0);
}

TEST(DumpGeneratorTemplateTest, FillsTheFourArgumentsInOrder)
{
    EXPECT_EQ(Formatted(L"QxDumpGen.exe %u \"%s\" %p %u /m 0"),
              L"QxDumpGen.exe 4242 \"C:\\Temp\\x.dmp\" 00000000000ABCDE 77 /m 0");
    EXPECT_EQ(Formatted(L"gen -p %08X -f %ls -e %I64x -t %lu 100%%"),
              L"gen -p 00001092 -f C:\\Temp\\x.dmp -e abcde -t 77 100%");
    EXPECT_EQ(Formatted(L"gen %u %ws"), L"gen 4242 C:\\Temp\\x.dmp") << "fewer conversions are fine";
    EXPECT_EQ(Formatted(L"gen"), L"gen");
}

TEST(DumpGeneratorTemplateTest, RefusesTemplatesThatWouldMisreadTheArguments)
{
    for (const wchar_t* bad : {L"gen %s %u", L"gen %u %s %p %u %u", L"gen %n", L"gen %*d", L"gen %u %hs",
                               L"gen %u %s %d", L"gen %lld", L"gen %", L"gen %u %s %p %s"}) {
        EXPECT_EQ(Formatted(bad), L"<refused>") << std::wstring(bad).size();
    }
    EXPECT_EQ(Formatted(L"gen %u %s" + std::wstring(250, L'x')), L"<refused>") << "the command line must fit 260";
}

TEST(DumpGeneratorTemplateTest, FileNamesCarryCodeAndLocalTime)
{
    EXPECT_EQ(DumpFileName(L"QxTest", 0xC0000005, LocalTime{2026, 12, 7, 9, 5, 3}),
              L"QxTest_C0000005_2026_12_07__09_05_03.dmp");
    EXPECT_EQ(DumpFileName(L"QxServiceHost", 0, LocalTime{2027, 1, 31, 23, 59, 58}),
              L"QxServiceHost_00000000_2027_01_31__23_59_58.dmp");
}

class DumpGenImplTest : public ::testing::Test {
protected:
    // With an empty registry root the product's values live directly below HKEY_LOCAL_MACHINE.
    DumpGenImplTest() { platform.registry.CreateKey(L""); }

    void SetUserDump(const std::wstring& text, std::uint32_t type = kRegSz)
    {
        platform.registry.SetString(L"", L"UserDump", text, type);
    }

    FakePlatform platform;
    RecordingLogger logger;
    ScopedLogger scopedLogger{logger};
};

TEST_F(DumpGenImplTest, WithoutAGeneratorTheDumpIsWrittenInProcess)
{
    DumpGenImpl dumps;
    EXPECT_EQ(dumps.BaseName(), L"QxServiceHost");
    EXPECT_TRUE(dumps.UserDump().empty());
    EXPECT_TRUE(dumps.CreateDump(nullptr));
    ASSERT_EQ(platform.dumps.miniDumps.size(), 1u);
    const auto& dump = platform.dumps.miniDumps[0];
    EXPECT_EQ(dump.path, std::wstring(kDumpDirectory) + L"QxServiceHost_00000000_2026_12_07__09_05_03.dmp");
    EXPECT_EQ(dump.dumpType, 0);
    EXPECT_EQ(dump.exceptionPointers, nullptr);
    EXPECT_TRUE(platform.dumps.generatorRuns.empty());

    const LoggedRecord* start = logger.Find(L"CreateDumpInt C:\\Temp\\QxServiceHost_00000000_");
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->level, 1);
    EXPECT_EQ(start->line, 162);
    EXPECT_TRUE(start->text.ends_with(L".dmp - starting"));
    const LoggedRecord* written = logger.Find(L"MinidumpWriteDump ");
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(written->text, L"MinidumpWriteDump true");
    EXPECT_EQ(written->line, 203);
    EXPECT_NE(logger.Find(L"CreateDumpInt C:\\Temp\\QxServiceHost_00000000_2026_12_07__09_05_03.dmp - succeeded ("),
              nullptr);
}

TEST_F(DumpGenImplTest, GeneratorThatSucceedsIsTheOnlyDump)
{
    SetUserDump(L"QxDumpGen.exe %u %s %p %u /m 2");
    DumpGenImpl dumps;
    EXPECT_EQ(dumps.DumpType(), 2);
    EXPECT_EQ(dumps.GeneratorPath(), L"C:\\Program Files\\Qx\\QxDumpGen.exe");
    dumps.SetDumpBaseName(L"QxDemo");
    ExceptionDescription crash;
    crash.code = kExceptionAccessViolation;
    crash.nativePointers = reinterpret_cast<const void*>(0x1000);
    EXPECT_TRUE(dumps.CreateDump(&crash));
    ASSERT_EQ(platform.dumps.generatorRuns.size(), 1u);
    EXPECT_EQ(platform.dumps.generatorRuns[0].application, L"C:\\Program Files\\Qx\\QxDumpGen.exe");
    EXPECT_TRUE(platform.dumps.generatorRuns[0].commandLine.starts_with(
        L"QxDumpGen.exe 4242 C:\\Temp\\QxDemo_C0000005_2026_12_07__09_05_03.dmp 0000000000001000 "));
    EXPECT_TRUE(platform.dumps.miniDumps.empty());
    const LoggedRecord* result = logger.Find(L"DumpGen result ");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->text, L"DumpGen result 0");
    EXPECT_EQ(result->line, 187);
}

TEST_F(DumpGenImplTest, FailingGeneratorIsFollowedByAnInProcessDump)
{
    SetUserDump(L"QxDumpGen.exe %u %s %p %u /m 2");
    DumpGenImpl dumps;
    platform.dumps.generatorExitCode = 1;
    EXPECT_TRUE(dumps.CreateDump(nullptr));
    EXPECT_TRUE(logger.Contains(L"DumpGen result 1"));
    ASSERT_EQ(platform.dumps.miniDumps.size(), 1u);
    EXPECT_EQ(platform.dumps.miniDumps[0].dumpType, 2) << "the fallback takes the type after /m";

    platform.dumps.launchError = 2;
    EXPECT_TRUE(dumps.CreateDump(nullptr));
    const LoggedRecord* launch = logger.Find(L"DumpGen launch failed ");
    ASSERT_NE(launch, nullptr);
    EXPECT_EQ(launch->text, L"DumpGen launch failed 2");
    EXPECT_EQ(launch->line, 191);
    ASSERT_EQ(platform.dumps.miniDumps.size(), 2u);
    EXPECT_NE(platform.dumps.miniDumps[0].path, platform.dumps.miniDumps[1].path)
        << "two dumps in the same second get a file each";
    EXPECT_TRUE(platform.dumps.miniDumps[1].path.ends_with(L"_2026_12_07__09_05_03_2.dmp"));
}

TEST_F(DumpGenImplTest, RefusedTemplateIsNeverRun)
{
    SetUserDump(L"QxDumpGen.exe %s %u /m 0");
    DumpGenImpl dumps;
    EXPECT_TRUE(dumps.CreateDump(nullptr));
    EXPECT_TRUE(platform.dumps.generatorRuns.empty());
    const LoggedRecord* refused = logger.Find(L"DumpGen template refused: ");
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->severity, L"ERROR");
    EXPECT_EQ(platform.dumps.miniDumps.size(), 1u);
}

TEST_F(DumpGenImplTest, OnlyAStringUserDumpConfiguresAGenerator)
{
    SetUserDump(L"QxDumpGen.exe %u /m 2", kRegExpandSz);
    EXPECT_TRUE(DumpGenImpl().UserDump().empty());
    SetUserDump(L"");
    EXPECT_TRUE(DumpGenImpl().UserDump().empty());
    SetUserDump(std::wstring(300, L'g'));
    EXPECT_TRUE(DumpGenImpl().UserDump().empty()) << "longer than 259 characters";

    platform.dumps.fileCanBeCreated = false;
    DumpGenImpl dumps;
    EXPECT_FALSE(dumps.CreateDump(nullptr));
    EXPECT_EQ(logger.Find(L"MinidumpWriteDump "), nullptr) << "no file, no record";
}

} // namespace
