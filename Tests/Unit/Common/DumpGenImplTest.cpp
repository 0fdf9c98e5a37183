#include "Common/DumpGenImpl.h"

#include "LoggedPlatformTest.h"

using namespace Qx;
using namespace Qx::Platform;
using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kDumpDirectory = L"C:\\Temp\\";

std::wstring Formatted(const std::wstring& userDump, const wchar_t* dumpPath = L"C:\\Temp\\x.dmp")
{
    const auto checked = GeneratorTemplate::Check(userDump);
    if (!checked) {
        return L"<refused>";
    }
    wchar_t commandLine[DumpGenImpl::kBufferCharacters];
    if (!checked->Format({4242, dumpPath, reinterpret_cast<const void*>(0xABCDE), 77}, commandLine)) {
        return L"<too long>";
    }
    return commandLine;
}

TEST(DumpGeneratorTemplateTest, DumpTypeIsAnAsciiNumberOfKnownBits)
{
    EXPECT_EQ(ParseDumpType(L"QxDumpGen.exe %u %s %p %u /m 2"), 2);
    EXPECT_EQ(ParseDumpType(L"gen /m   12 -x"), 12);
    EXPECT_EQ(ParseDumpType(L"gen /m 2097151"), 0x1FFFFF);
    EXPECT_EQ(ParseDumpType(L"gen /M 2"), 0) << "no /m: the default type";
    EXPECT_EQ(ParseDumpType(L""), 0);
    for (const wchar_t* refused : {L"gen /m x", L"gen /m ", L"gen /m 12x", L"gen /m 2097152", L"gen /m 99999999999",
                                   L"gen /m 99999999999999999999", L"gen /m \xFF12", L"gen /m -1", L"gen /m +2"}) {
        EXPECT_EQ(ParseDumpType(refused), std::nullopt) << refused;
        EXPECT_EQ(Formatted(refused), L"<refused>") << refused;
    }
}

TEST(DumpGeneratorTemplateTest, FillsTheFourArgumentsInOrder)
{
    EXPECT_EQ(Formatted(L"QxDumpGen.exe %u \"%s\" %p %u /m 0"),
              L"QxDumpGen.exe 4242 \"C:\\Temp\\x.dmp\" 00000000000ABCDE 77 /m 0");
    EXPECT_EQ(Formatted(L"gen -p %#X -f %ls -e %I64x -t %+d 100%%"),
              L"gen -p 0X1092 -f \"C:\\Temp\\x.dmp\" -e abcde -t +77 100%");
    EXPECT_EQ(Formatted(L"gen %u %ws"), L"gen 4242 \"C:\\Temp\\x.dmp\"") << "fewer conversions are fine";
    EXPECT_EQ(Formatted(L"gen %u \"-o=%s\""), L"gen 4242 \"-o=C:\\Temp\\x.dmp\"") << "already inside quotes";
    EXPECT_EQ(Formatted(L"gen %u %s", L"C:\\My Temp\\My Service_x.dmp"), L"gen 4242 \"C:\\My Temp\\My Service_x.dmp\"")
        << "a path with spaces stays one argument";
    EXPECT_EQ(Formatted(L"gen"), L"gen");
}

TEST(DumpGeneratorTemplateTest, RefusesTemplatesThatWouldMisreadTheArguments)
{
    for (const wchar_t* bad :
         {L"gen %s %u", L"gen %u %s %p %u %u", L"gen %n", L"gen %*d", L"gen %u %hs", L"gen %u %s %d", L"gen %lld",
          L"gen %", L"gen %u %s %p %s", L"gen %08X", L"gen %99999999999999999999u", L"gen %.3u", L"gen %u %.5s"}) {
        EXPECT_EQ(Formatted(bad), L"<refused>") << bad;
    }
    EXPECT_EQ(Formatted(std::wstring(L"gen %\0u", 7)), L"<refused>") << "a NUL is no flag and no conversion";
    EXPECT_EQ(Formatted(std::wstring(L"gen %\0", 6)), L"<refused>");
    EXPECT_EQ(Formatted(L"gen %u /m 0 " + std::wstring(248, L'x')), L"<refused>") << "260 characters";
    EXPECT_NE(Formatted(L"gen %u /m 0 " + std::wstring(247, L'x')), L"<refused>");
    EXPECT_EQ(Formatted(L"gen %u %s" + std::wstring(240, L'x')), L"<too long>") << "the command line must fit 260";
}

// The generator is a file of the host's folder: a name that leads elsewhere, or none, is refused.
TEST(DumpGeneratorTemplateTest, RefusesAGeneratorNameThatIsNoBareFileName)
{
    for (const wchar_t* elsewhere : {L"..\\tools\\gen.exe %u %s %p %u /m 0", L"../gen.exe %u", L"\\gen.exe %u",
                                     L"C:gen.exe %u", L"sub\\gen.exe %u", L"   ", L" gen.exe %u", L"\"gen.exe\" %u",
                                     L"CON %u", L"NUL.exe %u", L".. %u", L"gen|x %u"}) {
        EXPECT_EQ(Formatted(elsewhere), L"<refused>") << elsewhere;
    }
    EXPECT_EQ(Formatted(L"QxDumpGen.exe %u"), L"QxDumpGen.exe 4242");
}

TEST(DumpGeneratorTemplateTest, FileNamesCarryCodeAndLocalTimeAndFitTheirBuffer)
{
    const auto name = [](std::wstring_view base, std::uint32_t code, const LocalTime& time, unsigned sequence,
                         std::size_t capacity) -> std::wstring {
        std::vector<wchar_t> buffer(capacity, L'#');
        return FormatDumpFileName(base, code, time, sequence, buffer) ? buffer.data() : L"<none>";
    };
    EXPECT_EQ(name(L"QxTest", 0xC0000005, {2026, 12, 7, 9, 5, 3}, 0, 260), L"QxTest_C0000005_2026_12_07__09_05_03.dmp");
    EXPECT_EQ(name(L"QxServiceHost", 0, {2027, 1, 31, 23, 59, 58}, 3, 260),
              L"QxServiceHost_00000000_2027_01_31__23_59_58_3.dmp");
    EXPECT_EQ(name(L"LongName", 0, {2027, 1, 31, 23, 59, 58}, 0, 39), L"Long_00000000_2027_01_31__23_59_58.dmp");
    EXPECT_EQ(name(L"LongName", 0, {2027, 1, 31, 23, 59, 58}, 0, 35), L"<none>") << "not one character of the name";
}

class DumpGenImplTest : public LoggedPlatformTest {
protected:
    // With an empty registry root the product's values live directly below HKEY_LOCAL_MACHINE.
    DumpGenImplTest() { platform.registry.CreateKey(L""); }

    void SetUserDump(const std::wstring& text, std::uint32_t type = kRegSz)
    {
        platform.registry.SetString(L"", L"UserDump", text, type);
    }
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
    EXPECT_TRUE(start->text.ends_with(L".dmp - starting"));
    const LoggedRecord* written = logger.Find(L"MinidumpWriteDump ");
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(written->text, L"MinidumpWriteDump true");
    EXPECT_NE(logger.Find(L"CreateDumpInt C:\\Temp\\QxServiceHost_00000000_2026_12_07__09_05_03.dmp - succeeded ("),
              nullptr);
}

TEST_F(DumpGenImplTest, GeneratorThatSucceedsIsTheOnlyDump)
{
    SetUserDump(L"QxDumpGen.exe %u %s %p %u /m 2");
    DumpGenImpl dumps;
    EXPECT_EQ(dumps.DumpType(), 2);
    EXPECT_EQ(std::wstring(dumps.GeneratorPath()), L"C:\\Program Files\\Qx\\QxDumpGen.exe");
    dumps.SetDumpBaseName(L"QxDemo");
    ExceptionDescription crash;
    crash.code = kExceptionAccessViolation;
    crash.nativePointers = reinterpret_cast<const void*>(0x1000);
    EXPECT_TRUE(dumps.CreateDump(&crash));
    ASSERT_EQ(platform.dumps.generatorRuns.size(), 1u);
    EXPECT_EQ(platform.dumps.generatorRuns[0].application, L"C:\\Program Files\\Qx\\QxDumpGen.exe");
    EXPECT_TRUE(platform.dumps.generatorRuns[0].commandLine.starts_with(
        L"QxDumpGen.exe 4242 \"C:\\Temp\\QxDemo_C0000005_2026_12_07__09_05_03.dmp\" 0000000000001000 "));
    EXPECT_TRUE(platform.dumps.miniDumps.empty());
    const LoggedRecord* result = logger.Find(L"DumpGen result ");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->text, L"DumpGen result 0");
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
    ASSERT_EQ(platform.dumps.miniDumps.size(), 2u);
    EXPECT_NE(platform.dumps.miniDumps[0].path, platform.dumps.miniDumps[1].path)
        << "two dumps in the same second get a file each";
    EXPECT_TRUE(platform.dumps.miniDumps[1].path.ends_with(L"_2026_12_07__09_05_03_2.dmp"));
}

// Beside a temporary folder of 224 characters only the first name of a second fits: the second dump
// of that second fails rather than overwrite the first.
TEST_F(DumpGenImplTest, ANumberedNameThatDoesNotFitOverwritesNoDump)
{
    platform.dumps.tempPath = L"C:\\" + std::wstring(220, L't') + L"\\";
    DumpGenImpl dumps;
    EXPECT_TRUE(dumps.CreateDump(nullptr));
    EXPECT_FALSE(dumps.CreateDump(nullptr));
    EXPECT_EQ(std::wstring(dumps.LastFailure()), L"the dump path does not fit its buffer");
    ASSERT_EQ(platform.dumps.miniDumps.size(), 1u);
    EXPECT_EQ(platform.dumps.miniDumps[0].path.size(), DumpGenImpl::kBufferCharacters - 1);
}

TEST_F(DumpGenImplTest, OnlyAStringUserDumpConfiguresAGenerator)
{
    SetUserDump(L"");
    EXPECT_TRUE(DumpGenImpl().UserDump().empty());

    platform.dumps.fileCanBeCreated = false;
    DumpGenImpl dumps;
    EXPECT_FALSE(dumps.CreateDump(nullptr));
    EXPECT_EQ(logger.Find(L"MinidumpWriteDump "), nullptr) << "no file, no record";
    const LoggedRecord* failed = logger.Find(L"CreateDumpInt C:\\Temp\\QxServiceHost_00000000_");
    ASSERT_NE(failed, nullptr);
    EXPECT_NE(logger.Find(L"CreateDumpInt C:\\Temp\\QxServiceHost_00000000_2026_12_07__09_05_03.dmp - failed"), nullptr)
        << "a dump that was not written is not reported as written";
}

// A value that is no template the check accepts, or no readable REG_SZ at all, is refused, read
// in full and named in the record, and never run: the in-process dump then takes the default type
// whatever the value said.
TEST_F(DumpGenImplTest, RefusedUserDumpIsNamedAndTheDefaultTypeIsDumped)
{
    struct Case {
        std::uint32_t type;
        std::vector<std::uint8_t> data;
        std::wstring named;
    };
    const auto text = [](const std::wstring& userDump) { return Case{kRegSz, Utf16Bytes(userDump, true), userDump}; };
    const Case cases[] = {
        text(L"QxDumpGen.exe %s %u /m 0"),
        text(L"QxDumpGen.exe %u %s %p %u /m 2 " + std::wstring(300, L'g')),
        text(L"QxDumpGen.exe %99999999999999999999u %s /m 2"),
        text(L"QxDumpGen.exe %u %s %p %u /m 99999999999"),
        text(L"QxDumpGen.exe %u %s %p %u /m \xFF12"),
        {kRegSz, {'g', 0, 'e', 0, 'n', 0, 0}, L"(no REG_SZ of whole characters ending in NUL: type 1)"},
        {kRegSz, {'g', 0, 'e', 0, 'n', 0}, L"(no REG_SZ of whole characters ending in NUL: type 1)"},
        {kRegExpandSz, {'g', 0, 0, 0}, L"(no REG_SZ of whole characters ending in NUL: type 2)"},
    };
    for (const auto& [type, data, named] : cases) {
        SCOPED_TRACE(named);
        platform.registry.SetRaw(L"", L"UserDump", type, data);
        logger.records.clear();
        platform.dumps.miniDumps.clear();
        DumpGenImpl dumps;
        EXPECT_EQ(dumps.UserDump(), named);
        EXPECT_FALSE(dumps.GeneratorConfigured());
        EXPECT_EQ(dumps.DumpType(), 0);
        EXPECT_TRUE(dumps.CreateDump(nullptr));
        EXPECT_TRUE(logger.Contains(L"DumpGen template refused: " + named));
        const LoggedRecord* refused = logger.Find(L"DumpGen template refused: ");
        ASSERT_NE(refused, nullptr);
        EXPECT_EQ(refused->severity, L"ERROR");
        EXPECT_TRUE(platform.dumps.generatorRuns.empty());
        ASSERT_EQ(platform.dumps.miniDumps.size(), 1u);
        EXPECT_EQ(platform.dumps.miniDumps[0].dumpType, 0);
    }
}

// A generator that says it wrote the dump but left no file: the host writes it.
TEST_F(DumpGenImplTest, GeneratorThatWritesNoDumpIsFollowedByAnInProcessDump)
{
    SetUserDump(L"QxDumpGen.exe %u %s %p %u /m 2");
    DumpGenImpl dumps;
    platform.dumps.generatorWritesDump = false;
    EXPECT_TRUE(dumps.CreateDump(nullptr));
    EXPECT_EQ(logger.Texts(), (std::vector<std::wstring>{
                                  L"CreateDumpInt C:\\Temp\\QxServiceHost_00000000_2026_12_07__09_05_03.dmp - starting",
                                  L"DumpGen result 0",
                                  L"DumpGen wrote no dump: C:\\Temp\\QxServiceHost_00000000_2026_12_07__09_05_03.dmp",
                                  L"MinidumpWriteDump true", logger.Texts().back()}));
    ASSERT_EQ(platform.dumps.miniDumps.size(), 1u);
    EXPECT_EQ(platform.dumps.miniDumps[0].dumpType, 2);
}

// The service name names the dump file, but a file name cannot hold every character a service
// name can, nor any length: the dump is written all the same.
TEST_F(DumpGenImplTest, DumpFileNameFitsWhateverTheServiceName)
{
    DumpGenImpl dumps;
    dumps.SetDumpBaseName(L"a*b?c\"d<e>f|g");
    EXPECT_TRUE(dumps.CreateDump(nullptr));
    dumps.SetDumpBaseName(std::wstring(255, L'n'));
    EXPECT_TRUE(dumps.CreateDump(nullptr));
    ASSERT_EQ(platform.dumps.miniDumps.size(), 2u);
    EXPECT_EQ(platform.dumps.miniDumps[0].path, L"C:\\Temp\\a_b_c_d_e_f_g_00000000_2026_12_07__09_05_03.dmp");
    const std::wstring& longPath = platform.dumps.miniDumps[1].path;
    EXPECT_EQ(longPath.size(), DumpGenImpl::kBufferCharacters - 1);
    EXPECT_TRUE(longPath.starts_with(L"C:\\Temp\\nnnnnnnn")) << longPath;
    EXPECT_TRUE(longPath.ends_with(L"n_00000000_2026_12_07__09_05_03.dmp")) << longPath;
}

} // namespace
