#include <cstring>

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

} // namespace
