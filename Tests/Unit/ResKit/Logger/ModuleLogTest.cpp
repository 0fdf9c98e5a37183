#include <cstdint>
#include <cstring>
#include <initializer_list>

#include <gtest/gtest.h>

#include "FakePlatform.h"
#include "RecordingLogger.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

// The installed logger lives once per process, so this test has a process of its own.
TEST(ModuleLogTest, InitialiserFillsTheBlockAndTheLastOneRemovesTheLogger)
{
    FakePlatform platform;
    LogUtils::ExchangeLogger(nullptr);
    int destroyed = 0;
    g_fakeLoggerFactory = [&destroyed] { return new RecordingLogger(3, &destroyed); };
    auto first = std::make_unique<LogUtils::SModuleLogInit>(L"Foo(1).log");
    auto& installed = dynamic_cast<RecordingLogger&>(LogUtils::GetLogger());
    ASSERT_EQ(installed.inits.size(), 1u);
    const auto& call = installed.inits[0];
    EXPECT_EQ(call.logName, L"Foo(1).log");
    EXPECT_EQ(call.blockAddress, static_cast<const void*>(first.get()));
    const auto* bytes = reinterpret_cast<const unsigned char*>(first.get());
    std::uint64_t maxSize = 0;
    void* instance = nullptr;
    std::memcpy(&maxSize, bytes + 16, sizeof(maxSize));
    std::memcpy(&instance, bytes + 32, sizeof(instance));
    EXPECT_EQ(maxSize, 104857600u);
    EXPECT_EQ(instance, platform.process.hostInstance);
    for (std::size_t offset : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 14, 15, 24}) {
        EXPECT_EQ(bytes[offset], 0) << offset;
    }
    EXPECT_EQ(destroyed, 0);
    const int askedBefore = installed.isEnabledCalls;
    QX_LOG(4, L"off");
    QX_LOG(3, L"on");
    EXPECT_EQ(installed.isEnabledCalls - askedBefore, 2) << "a library without a level mask is asked every time";
    EXPECT_EQ(installed.Texts(), std::vector<std::wstring>{L"on"});
    ASSERT_EQ(platform.crashHandling.vectoredHandlers.size(), 1u) << "the exception log is registered";
    std::memcpy(&instance, bytes + 40, sizeof(instance));
    EXPECT_NE(instance, nullptr) << "its registration is kept in the block";

    auto second = std::make_unique<LogUtils::SModuleLogInit>(L"Bar(1).log");
    EXPECT_EQ(destroyed, 1) << "the surplus logger is destroyed";
    EXPECT_EQ(installed.inits.size(), 2u) << "the installed logger is initialised again";
    first.reset();
    EXPECT_EQ(&LogUtils::GetLogger(), &installed);
    second.reset();
    EXPECT_TRUE(platform.crashHandling.vectoredHandlers.empty()) << "each block removes its registration";
    EXPECT_EQ(destroyed, 2) << "the last initialiser destroys the installed logger";
    EXPECT_EQ(&LogUtils::GetLogger(), &LogUtils::DevNullLogger());
    EXPECT_FALSE(LogUtils::GetLogger().IsEnabled(1));

    g_fakeLoggerFactory = [] { return new RecordingLogger(); };
    const LogUtils::SModuleLogInit afterRemoval(L"Late(1).log");
    EXPECT_EQ(&LogUtils::GetLogger(), &LogUtils::DevNullLogger()) << "a removed logger stays removed";
    g_fakeLoggerFactory = nullptr;
    LogUtils::ExchangeLogger(nullptr);
}

constexpr std::uint32_t LevelBits(std::initializer_list<unsigned> levels)
{
    std::uint32_t bits = 0;
    for (const unsigned level : levels) {
        bits |= 1u << level;
    }
    return bits;
}

// A library that publishes the logger's level mask: a cleared bit answers for the logger, a set
// bit asks it, a change of the word counts from the next statement on, and the logger's removal
// leaves the word of no levels.
TEST(ModuleLogTest, PublishedLevelMaskAnswersForClearedBits)
{
    FakePlatform platform;
    AddFakeLoggerLibrary(platform.libraries, FakeLevelMask::Exported);
    LogUtils::ExchangeLogger(nullptr);
    g_fakeLoggerFactory = [] {
        auto* logger = new RecordingLogger(3);
        logger->publishedMask.store(LevelBits({1, 2, 3}));
        return logger;
    };
    auto log = std::make_unique<LogUtils::SModuleLogInit>(L"Masked(1).log");
    auto& installed = dynamic_cast<RecordingLogger&>(LogUtils::GetLogger());
    installed.maxEnabledLevel = 2;
    installed.publishedMask.store(LevelBits({1, 2}));
    int asked = installed.isEnabledCalls;
    int formatted = 0;
    auto operand = [&formatted] {
        ++formatted;
        return L"text";
    };
    QX_LOG(3, operand());
    LogUtils::WriteRecordAt(3, LogUtils::kSeverityDbg, L"File.cpp", 1, L"at a fixed place");
    EXPECT_EQ(installed.isEnabledCalls, asked) << "a cleared bit asks nothing";
    EXPECT_EQ(formatted, 0);
    EXPECT_TRUE(installed.records.empty());

    QX_LOG(2, L"set");
    EXPECT_EQ(installed.isEnabledCalls - asked, 1) << "a set bit asks the logger";
    EXPECT_EQ(installed.Texts(), std::vector<std::wstring>{L"set"});

    installed.maxEnabledLevel = 3;
    installed.publishedMask.store(LevelBits({1, 3}));
    asked = installed.isEnabledCalls;
    {
        QX_FUNCTION_TRACE(L"Masked");
        QX_LOG(3, L"inside");
        installed.publishedMask.store(LevelBits({1, 2, 3}));
    }
    EXPECT_EQ(installed.isEnabledCalls - asked, 2) << "the inner record and the exit record";
    EXPECT_EQ(installed.Texts(), (std::vector<std::wstring>{L"set", L"inside", L"Exiting Masked"}))
        << "the word changed inside the scope counts at its exit";
    EXPECT_TRUE(installed.indentChanges.empty());

    log.reset();
    for (int level = 0; level < 32; ++level) {
        EXPECT_FALSE(LogUtils::LevelMayBeEnabled(level)) << level;
    }
    EXPECT_TRUE(LogUtils::LevelMayBeEnabled(32)) << "a level without a bit is the logger's to answer";
    EXPECT_TRUE(LogUtils::LevelMayBeEnabled(-1));
    g_fakeLoggerFactory = nullptr;
    LogUtils::ExchangeLogger(nullptr);
}

} // namespace
