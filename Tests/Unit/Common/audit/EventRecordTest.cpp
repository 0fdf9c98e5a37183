#include "Common/audit/EventRecord.h"
#include "Common/audit/EventSinks.h"

#include "LoggedPlatformTest.h"

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

TEST(EventRecordTest, UserSidIsEmptyUntilSetAndReachesLibrariesOnlyWhenWellFormed)
{
    const EventRecord event(EventRecord::kServiceStarted);
    EXPECT_FALSE(event.UserSid().IsMarkedValid());
    EXPECT_EQ(event.UserSid().LibraryArgument(), nullptr);

    // S-1-5-18 (LocalSystem): revision 1, one sub-authority, authority 5, sub-authority 18.
    const std::vector<std::uint8_t> localSystem{1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    EventRecord withSid(EventRecord::kServiceStarted);
    withSid.SetUserSid(EventUserSid(localSystem));
    ASSERT_TRUE(withSid.UserSid().IsMarkedValid());
    const auto* bytes = static_cast<const std::uint8_t*>(withSid.UserSid().LibraryArgument());
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + localSystem.size()), localSystem);

    // Fifteen sub-authorities fill the 68 bytes exactly.
    std::vector<std::uint8_t> largest(EventUserSid::kMaxBytes, 7);
    largest[0] = 1;
    largest[1] = 15;
    EXPECT_NE(EventUserSid(largest).LibraryArgument(), nullptr);

    std::vector<std::uint8_t> tooLong(EventUserSid::kMaxBytes + 4, 7);
    tooLong[0] = 1;
    tooLong[1] = 16;
    EXPECT_FALSE(EventUserSid(tooLong).IsMarkedValid());
    EXPECT_FALSE(EventUserSid(std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 5}).IsMarkedValid())
        << "shorter than the header";

    // Marked valid, yet not accepted the way IsValidSid would refuse it, or claiming more
    // sub-authorities than the bytes hold.
    const std::vector<std::vector<std::uint8_t>> malformed{
        {2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0},
        {1, 2, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0},
        {1, 16, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0},
    };
    for (const auto& sid : malformed) {
        const EventUserSid userSid(sid);
        EXPECT_TRUE(userSid.IsMarkedValid());
        EXPECT_EQ(userSid.LibraryArgument(), nullptr) << int(sid[0]) << " " << int(sid[1]);
    }
    EXPECT_NE(EventUserSid(std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 0, 5}).LibraryArgument(), nullptr)
        << "no sub-authority at all is well-formed";
}

using RawDumpReporterTest = LoggedPlatformTest;

TEST_F(RawDumpReporterTest, WritesAHeaderAndOneLinePerString)
{
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

TEST_F(RawDumpReporterTest, GapsWriteNothingEmptyStringsALineAndAlertLinesAreInfo)
{
    EventRecord event(0x80018002);
    event.SetString(2, L"");
    event.SetString(5, L"five");
    CRawDumpToLogReporter(L"Velquor Audit").Report(event, true);
    ASSERT_EQ(logger.Texts(), (std::vector<std::wstring>{
                                  L"Event: [Velquor Audit] Type=FailureAudit Category=0x01 Id=0x80018002 (ALERT)",
                                  L"       %2=", L"       %5=five"}));
    for (const auto& record : logger.records) {
        EXPECT_EQ(record.severity, L"INFO");
        EXPECT_EQ(record.level, 1);
    }

    logger.records.clear();
    logger.maxEnabledLevel = 0;
    CRawDumpToLogReporter(L"Audit").Report(event, false);
    EXPECT_TRUE(logger.records.empty()) << "level 1 disabled";
}

} // namespace
