#include <stdexcept>

#include "Common/UiLanguage.h"
#include "LoggedPlatformTest.h"
#include "ResKit/Logger/LogModuleInfo.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

using TraceScopeTest = LoggedPlatformTest;

TEST_F(TraceScopeTest, FunctionTraceIndentsBetweenEntryAndExit)
{
    {
        QX_FUNCTION_TRACE(L"CServiceModule::PreMessageLoop");
        QX_LOG(2, L"inside");
    }
    ASSERT_EQ(logger.records.size(), 3u);
    EXPECT_EQ(logger.records[0].text, L"Entering CServiceModule::PreMessageLoop");
    EXPECT_EQ(logger.records[0].severity, L"DBG");
    EXPECT_EQ(logger.records[0].level, 2);
    EXPECT_EQ(logger.records[0].indent, 0);
    EXPECT_EQ(logger.records[1].indent, 1);
    EXPECT_EQ(logger.records[2].text, L"Exiting CServiceModule::PreMessageLoop");
    EXPECT_EQ(logger.records[2].indent, 0) << "the exit record sits at the depth of the entry record";
    EXPECT_EQ(logger.records[2].line, logger.records[0].line);
    EXPECT_EQ(logger.indentChanges, (std::vector<int>{+1, -1}));
}

TEST_F(TraceScopeTest, FunctionTraceSeesAnExceptionLeavingTheBlock)
{
    try {
        QX_FUNCTION_TRACE(static_cast<const wchar_t*>(nullptr));
        throw std::runtime_error("leave");
    } catch (const std::runtime_error&) {
    }
    ASSERT_EQ(logger.records.size(), 2u);
    EXPECT_EQ(logger.records[0].text, L"Entering <NULL>");
    EXPECT_EQ(logger.records[1].text, L"*** EXCEPTION Exiting <NULL>");
    EXPECT_EQ(logger.indent, 0);
}

TEST_F(TraceScopeTest, FunctionTraceWithLevelTwoDisabledIsSilent)
{
    logger.maxEnabledLevel = 1;
    {
        QX_FUNCTION_TRACE(L"Quiet");
    }
    EXPECT_TRUE(logger.records.empty());
    EXPECT_TRUE(logger.indentChanges.empty());

    LoggerLevelMask levelOne{0b10u};
    const ScopedLogger published(logger, &levelOne);
    const int callsBefore = logger.isEnabledCalls;
    {
        QX_FUNCTION_TRACE(L"Quiet");
    }
    EXPECT_EQ(logger.isEnabledCalls, callsBefore) << "a published mask without level 2 asks nothing";
    EXPECT_TRUE(logger.records.empty());
}

TEST_F(TraceScopeTest, TimedTraceReportsElapsedMilliseconds)
{
    {
        QX_TIMED_TRACE(3, L"InternalState::Initialize");
        platform.process.tickCount += 1234;
    }
    {
        QX_TIMED_TRACE(3, "CreateDumpInt ", L"C:\\Temp\\x.dmp");
    }
    ASSERT_EQ(logger.records.size(), 4u);
    EXPECT_EQ(logger.records[0].text, L"InternalState::Initialize - starting");
    EXPECT_EQ(logger.records[0].severity, L"DBG") << "timed scopes carry the second attribute, never set";
    EXPECT_EQ(logger.records[0].level, 3);
    EXPECT_EQ(logger.records[1].text, L"InternalState::Initialize - succeeded (1234 ms)");
    EXPECT_EQ(logger.records[3].text, L"CreateDumpInt C:\\Temp\\x.dmp - succeeded (0 ms)");
    EXPECT_EQ(logger.indentChanges, (std::vector<int>{+1, -1, +1, -1}));
}

TEST_F(TraceScopeTest, TimedTraceFailsOnlyWhenAnExceptionStartsInsideIt)
{
    try {
        QX_TIMED_TRACE(3, L"Failing");
        throw std::runtime_error("leave");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(logger.records.back().text, L"*** EXCEPTION: Failing - failed");

    struct CreatesScopeWhileUnwinding {
        ~CreatesScopeWhileUnwinding() { QX_TIMED_TRACE(3, L"DuringUnwind"); }
    };
    try {
        CreatesScopeWhileUnwinding guard;
        throw std::runtime_error("leave");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(logger.records.back().text, L"DuringUnwind - succeeded (0 ms)");
}

TEST_F(TraceScopeTest, TimedTraceAtADisabledLevelStillIndents)
{
    {
        QX_TIMED_TRACE(5, L"InternalState::UpdateInternalState");
        QX_LOG(2, L"inside");
    }
    ASSERT_EQ(logger.records.size(), 1u);
    EXPECT_EQ(logger.records[0].indent, 1);
    EXPECT_EQ(logger.indentChanges, (std::vector<int>{+1, -1}));

    logger.alsoEnabled = {5};
    {
        QX_TIMED_TRACE(5, L"InternalState::UpdateInternalState");
    }
    EXPECT_EQ(logger.records.back().text, L"InternalState::UpdateInternalState - succeeded (0 ms)");
    EXPECT_EQ(logger.records.back().level, 5);

    // A published mask without level 5 answers for it; level 2 still asks the logger and indents.
    LoggerLevelMask levelsOneToThree{0b1110u};
    const ScopedLogger published(logger, &levelsOneToThree);
    logger.records.clear();
    logger.indentChanges.clear();
    const int callsBefore = logger.isEnabledCalls;
    {
        QX_TIMED_TRACE(5, L"InternalState::UpdateInternalState");
    }
    EXPECT_TRUE(logger.records.empty());
    EXPECT_EQ(logger.indentChanges, (std::vector<int>{+1, -1}));
    EXPECT_EQ(logger.isEnabledCalls - callsBefore, 1) << "level 2 only, for the indentation";
}

class ModuleInfoTest : public TraceScopeTest {
protected:
    ModuleInfoTest()
    {
        auto& block = platform.files.versionBlocks[FakeProcess::kExecutablePath];
        block.translation = std::make_pair(std::uint16_t{0x0407}, std::uint16_t{0x04E4});
        block.strings[L"\\StringFileInfo\\040704e4\\FileVersion"] = L"1.2.3.4";
    }

    std::vector<std::wstring> Lines() const
    {
        std::vector<std::wstring> lines;
        for (const auto& record : logger.records) {
            lines.push_back(record.text);
            EXPECT_EQ(record.level, 3);
            EXPECT_EQ(record.severity, L"DBG");
            EXPECT_TRUE(record.sourceFile.ends_with(L"LogModuleInfo.cpp"));
        }
        return lines;
    }
};

TEST_F(ModuleInfoTest, WritesModuleVersionAndProcess)
{
    LogUtils::LogModuleInfo(&ReadVersionInProductLanguage);
    const std::wstring path = FakeProcess::kExecutablePath;
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"*", L"** Module name:" + path, L"** Module version:1.2.3.4",
                                                  L"** Process:" + path, L"*"}));
    EXPECT_EQ(platform.files.versionNeutralRequests, std::vector<bool>{false});

    logger.records.clear();
    logger.maxEnabledLevel = 2;
    LogUtils::LogModuleInfo(&ReadVersionInProductLanguage);
    EXPECT_TRUE(logger.records.empty());
    EXPECT_EQ(platform.files.versionNeutralRequests.size(), 1u) << "no version resource is read for a dropped record";
}

TEST_F(ModuleInfoTest, VersionVariants)
{
    auto& block = platform.files.versionBlocks[FakeProcess::kExecutablePath];
    block.translation.reset();
    block.strings[L"\\StringFileInfo\\040904B0\\FileVersion"] = std::nullopt;
    platform.text.setLanguagesSucceeds = false;
    LogUtils::LogModuleInfo(&ReadVersionInProductLanguage);
    EXPECT_EQ(Lines().at(2), L"** Module version:<NULL>") << "no translation table: key 040904B0";
    EXPECT_EQ(platform.files.versionNeutralRequests, std::vector<bool>{true})
        << "without the product UI language the neutral resource is read";

    logger.records.clear();
    block.strings.clear();
    LogUtils::LogModuleInfo(&ReadVersionInProductLanguage);
    EXPECT_EQ(Lines().at(2), L"** Module version:") << "a failed query appends nothing";

    logger.records.clear();
    platform.files.versionFailure = HResultFromWin32(1812);
    LogUtils::LogModuleInfo(&ReadVersionInProductLanguage);
    ASSERT_EQ(Lines().size(), 4u);
    EXPECT_EQ(Lines().at(2).substr(0, 11), L"** Process:") << "no version line without a resource";
}

} // namespace
