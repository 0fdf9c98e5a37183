// VqSDD.sys, the stand-in self-defence driver, on its own: the device it creates while it runs, the
// mode it answers from its service key, and what it refuses. The stop acceptance tests rely on it.
#include "DriverHarness.h"
#include "HostHarness.h"

#include <initializer_list>

using namespace Qx::Testing;

namespace {

constexpr DWORD kDefaultMode = 1;

// Loaded, the driver answers every query with the Mode value as it is at that moment, through one
// open handle; unloaded, it leaves no device behind, and it loads again.
TEST(SelfDefenceStandIn, AnswersTheModeOfItsServiceKeyWhileItRuns)
{
    const SelfDefenceDeviceLock lock;
    ASSERT_TRUE(lock.Held());
    ASSERT_NO_FATAL_FAILURE(StandInDriver::RemoveLeftover());
    if (SelfDefenceDevice held; held.OpenStatus() != kStatusObjectNameNotFound) {
        GTEST_SKIP() << "\\Device\\VqSDD_Sys is held by another driver (open status " << Hex(held.OpenStatus()) << ")";
    }
    StandInDriver driver;
    ASSERT_NO_FATAL_FAILURE(driver.Install());
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first load" : "loaded again after a stop");
        ASSERT_EQ(0u, driver.Start());
        const SERVICE_STATUS_PROCESS running = driver.Query();
        EXPECT_EQ(static_cast<DWORD>(SERVICE_KERNEL_DRIVER), running.dwServiceType);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), running.dwCurrentState);
        ExpectWindowsBehaviour(::testing::AssertionResult(running.dwControlsAccepted == SERVICE_ACCEPT_STOP)
                                   << Hex(running.dwControlsAccepted),
                               "a running kernel driver, hosted by winedevice.exe, is reported with "
                               "SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN; Windows reports SERVICE_ACCEPT_STOP "
                               "alone for a driver with an unload routine");
        if (RunningOnWine()) {
            EXPECT_EQ(Hex(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN), Hex(running.dwControlsAccepted));
        }
        EXPECT_EQ(0u, running.dwProcessId);
        {
            const SelfDefenceDevice device;
            ASSERT_EQ(Hex(kStatusSuccess), Hex(device.OpenStatus()));

            SelfDefenceDevice::Answer answer = device.Control(kQueryModeControlCode);
            EXPECT_EQ(0u, answer.error);
            EXPECT_EQ(4u, answer.bytesReturned);
            EXPECT_EQ(kDefaultMode, answer.value) << "no Mode value: active";

            for (const DWORD mode : std::initializer_list<DWORD>{0, 2, 3, 1, 0xFFFFFFFF}) {
                SCOPED_TRACE(mode);
                ASSERT_NO_FATAL_FAILURE(driver.SetMode(mode));
                answer = device.Control(kQueryModeControlCode);
                EXPECT_EQ(0u, answer.error);
                EXPECT_EQ(4u, answer.bytesReturned);
                EXPECT_EQ(Hex(mode), Hex(answer.value));
            }
            ASSERT_NO_FATAL_FAILURE(driver.SetModeString(L"0"));
            EXPECT_EQ(kDefaultMode, device.Control(kQueryModeControlCode).value) << "a REG_SZ Mode is not read";
            ASSERT_NO_FATAL_FAILURE(driver.RemoveMode());
            EXPECT_EQ(kDefaultMode, device.Control(kQueryModeControlCode).value);

            answer = device.Control(kQueryModeControlCode, 8);
            EXPECT_EQ(0u, answer.error);
            EXPECT_EQ(4u, answer.bytesReturned) << "a larger buffer still gets four bytes";
            EXPECT_EQ(kDefaultMode, answer.value);

            answer = device.Control(kQueryModeControlCode, 2);
            EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), answer.error);
            EXPECT_EQ(Hex(SelfDefenceDevice::kUntouched), Hex(answer.value));

            // Function 2, the same function without FILE_READ_ACCESS, and another device type.
            for (const DWORD code : std::initializer_list<DWORD>{0x224008, 0x220004, 0x124004}) {
                SCOPED_TRACE(Hex(code));
                answer = device.Control(code);
                EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), answer.error);
                EXPECT_EQ(Hex(SelfDefenceDevice::kUntouched), Hex(answer.value));
            }
        }
        ASSERT_EQ(0u, driver.Stop());
        EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), driver.Query().dwCurrentState);
        EXPECT_EQ(Hex(kStatusObjectNameNotFound), Hex(SelfDefenceDevice().OpenStatus()));
    }
}

} // namespace
