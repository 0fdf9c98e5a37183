#include "ResKit/Logger/ExceptionHandlers.h"

#include <stdexcept>

#include "LoggedPlatformTest.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;
using namespace Qx::Testing;

namespace {

class ExceptionLogTest : public LoggedPlatformTest {
protected:
    static ExceptionDescription Exception(std::uint32_t code)
    {
        ExceptionDescription exception;
        exception.code = code;
        exception.address = reinterpret_cast<const void*>(0x7FF612345678);
        exception.module = reinterpret_cast<const void*>(0x7FF612340000);
        return exception;
    }
};

TEST_F(ExceptionLogTest, RecordTextNamesTheExceptionAndItsModule)
{
    auto violation = Exception(kExceptionAccessViolation);
    EXPECT_EQ(LogUtils::ExceptionRecordText(violation),
              L"ACCESS_VIOLATION at 0x00007FF612345678 in module: 0x00007FF612340000");

    auto heap = Exception(kExceptionHeapCorruption);
    EXPECT_EQ(LogUtils::ExceptionRecordText(heap),
              L"(0xC0000374) Address: 0x00007FF612345678 in module: 0x00007FF612340000");

    const std::runtime_error other("x");
    auto thrown = Exception(kExceptionGccThrow);
    thrown.thrownType = &typeid(other);
    thrown.thrownObject = &other;
    EXPECT_EQ(LogUtils::ExceptionRecordText(thrown),
              L"Unknown type of exception object: St13runtime_error in module: 0x00007FF612340000");

    auto foreign = Exception(kExceptionMsvcThrow);
    foreign.foreignThrownType = ".?AVruntime_error@std@@";
    EXPECT_EQ(LogUtils::ExceptionRecordText(foreign),
              L"Unknown type of exception object: .?AVruntime_error@std@@ in module: 0x00007FF612340000");

    const HRXEx hostError(kEFail, {reinterpret_cast<void*>(0x10)}, HostErrorInfo(L"Broken"));
    thrown.thrownType = &typeid(HRXEx);
    thrown.thrownObject = &hostError;
    EXPECT_EQ(LogUtils::ExceptionRecordText(thrown),
              L"Broken\x7F[EIP: 0x0000000000000010] 0x80004005 in module: 0x00007FF612340000");
}

TEST_F(ExceptionLogTest, HandlerLogsThrownObjectsAndFullyDescribedExceptionsOnly)
{
    const HRXEx hostError(kEFail, {}, HostErrorInfo(L"Broken"));
    auto thrown = Exception(kExceptionGccThrow);
    thrown.thrownType = &typeid(HRXEx);
    thrown.thrownObject = &hostError;
    EXPECT_EQ(LogUtils::LogExceptionHandler(thrown), kExceptionContinueSearch);
    ASSERT_EQ(logger.records.size(), 1u);
    EXPECT_EQ(logger.records[0].text, L"*** Exception: Broken\x7F[EIP: ] 0x80004005 in module: 0x00007FF612340000");
    EXPECT_EQ(logger.records[0].severity, L"DBG");
    EXPECT_EQ(logger.records[0].level, 1);

    auto readViolation = Exception(kExceptionAccessViolation);
    readViolation.parameters[1] = 0x8;
    EXPECT_EQ(LogUtils::LogExceptionHandler(readViolation), kExceptionContinueSearch);
    EXPECT_EQ(logger.records.size(), 1u) << "a read access violation has a zero parameter";

    auto described = Exception(0xE0000001);
    for (auto& parameter : described.parameters) {
        parameter = 1;
    }
    LogUtils::LogExceptionHandler(described);
    ASSERT_EQ(logger.records.size(), 2u);
    EXPECT_TRUE(logger.records[1].text.starts_with(L"*** Exception: (0xE0000001) Address: "));

    logger.maxEnabledLevel = 0;
    const int calls = logger.isEnabledCalls;
    LogUtils::LogExceptionHandler(thrown);
    EXPECT_EQ(logger.records.size(), 2u);
    EXPECT_EQ(logger.isEnabledCalls - calls, 1) << "a disabled log costs one IsEnabled call";
}

} // namespace
