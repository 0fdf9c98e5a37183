#include "Common/audit/EventReporters.h"

#include <gtest/gtest.h>

#include "FakePlatform.h"
#include "RecordingLogger.h"

using namespace Qx::Testing;

namespace {

TEST(EventRecordTest, TypeAndCategoryComeFromTheIdentifier)
{
    const auto check = [](std::uint32_t id, std::uint16_t type, std::uint16_t category) {
        const EventRecord event(id);
        EXPECT_EQ(event.Type(), type) << std::hex << id;
        EXPECT_EQ(event.Category(), category) << std::hex << id;
        EXPECT_EQ(event.ExtraParam(), 0xFFFFFFFFu);
    };
    check(0x40010101, 4, 0x0001);
    check(0xC0010103, 1, 0x0001);
    check(0x80020001, 2, 0x0002);
    check(0x00010001, 0, 0x0001);
    check(0x00018001, 8, 0x0001);
    check(0xC0018001, 16, 0x0001);
    check(0x4FFF0000, 4, 0x0EFF);
}

TEST(EventRecordTest, StringsBecomeADenseArray)
{
    EventRecord event(EventRecord::kServiceStartFailed);
    EXPECT_TRUE(event.StringArray().empty());
    event.SetString(6, L"six");
    event.SetString(4, L"first");
    event.SetString(4, L"four");
    const auto strings = event.StringArray();
    ASSERT_EQ(strings.size(), 6u);
    for (std::size_t gap : {0, 1, 2, 4}) {
        EXPECT_EQ(strings[gap], nullptr) << gap;
    }
    EXPECT_STREQ(strings[3], L"four");
    EXPECT_STREQ(strings[5], L"six");

    EventRecord empty(EventRecord::kServiceStarted);
    empty.SetString(2, L"");
    const auto emptyStrings = empty.StringArray();
    ASSERT_EQ(emptyStrings.size(), 2u);
    EXPECT_EQ(emptyStrings[0], nullptr);
    ASSERT_NE(emptyStrings[1], nullptr);
    EXPECT_STREQ(emptyStrings[1], L"");
}

TEST(RawDumpReporterTest, WritesAHeaderAndOneLinePerString)
{
    FakePlatform platform;
    RecordingLogger logger;
    ScopedLogger scoped(logger);
    EventRecord event(EventRecord::kServiceStarted);
    event.SetString(4, L"ready");
    CRawDumpToLogReporter(L"Audit").Report(event, false);
    ASSERT_EQ(logger.records.size(), 2u);
    EXPECT_EQ(logger.records[0].text, L"Event: [Audit] Type=Information Category=0x01 Id=0x40010101");
    EXPECT_EQ(logger.records[0].severity, L"DBG");
    EXPECT_EQ(logger.records[0].level, 1);
    EXPECT_EQ(logger.records[1].text, L"       %4=ready");
    EXPECT_EQ(logger.records[1].severity, L"DBG");

    logger.records.clear();
    EventRecord alert(0xC0010103);
    CRawDumpToLogReporter(L"").Report(alert, true);
    ASSERT_EQ(logger.records.size(), 1u);
    EXPECT_EQ(logger.records[0].text, L"Event: [] Type=Error Category=0x01 Id=0xC0010103 (ALERT)");
    EXPECT_EQ(logger.records[0].severity, L"INFO");
}

} // namespace
