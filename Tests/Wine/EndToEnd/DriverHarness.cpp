#include "DriverHarness.h"

#include "HostHarness.h"
#include "PollUntil.h"

#include <winternl.h>

#include <algorithm>

namespace Qx::Testing {

namespace {

constexpr wchar_t kDeviceName[] = L"\\Device\\VqSDD_Sys";
constexpr ACCESS_MASK kGenericReadWrite = 0x12019F;
constexpr ULONG kFileOpen = 1;
constexpr DWORD kDriverStopTimeoutMs = 10000;
constexpr DWORD kDeviceLockTimeoutMs = 120000;
constexpr const wchar_t* kDeviceLockName = L"Global\\QxE2E_VqSDD_Sys";

using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                              PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

NtCreateFileFunction NtCreateFileEntry()
{
    return reinterpret_cast<NtCreateFileFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
}

SERVICE_STATUS_PROCESS QueryStatus(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    EXPECT_TRUE(QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                     &needed))
        << "QueryServiceStatusEx failed: " << GetLastError();
    return status;
}

// A driver stop is handled inside the SCM's call under Wine; on Windows it may still be pending
// when ControlService returns.
bool WaitUntilStopped(SC_HANDLE service)
{
    return PollUntil([&] { return QueryStatus(service).dwCurrentState == SERVICE_STOPPED; }, kDriverStopTimeoutMs);
}

void SetModeValue(const std::wstring& keyPath, DWORD type, const void* data, DWORD size)
{
    Qx::Platform::UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_SET_VALUE, key.out()));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), L"Mode", 0, type, static_cast<const BYTE*>(data), size));
}

} // namespace

SelfDefenceDeviceLock::SelfDefenceDeviceLock()
{
    m_mutex.reset(CreateMutexW(nullptr, FALSE, kDeviceLockName));
    if (!m_mutex) {
        ADD_FAILURE() << "CreateMutexW failed: " << GetLastError();
        return;
    }
    // An abandoned lock belonged to a run that broke off; the leftover clean-up deals with its driver.
    const DWORD wait = WaitForSingleObject(m_mutex.get(), kDeviceLockTimeoutMs);
    m_held = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (!m_held) {
        ADD_FAILURE() << "another test run kept \\Device\\VqSDD_Sys for " << kDeviceLockTimeoutMs << " ms (wait "
                      << wait << ")";
    }
}

SelfDefenceDeviceLock::~SelfDefenceDeviceLock()
{
    if (m_held) {
        ReleaseMutex(m_mutex.get());
    }
}

SelfDefenceDevice::SelfDefenceDevice()
{
    UNICODE_STRING name{static_cast<USHORT>(sizeof(kDeviceName) - sizeof(wchar_t)),
                        static_cast<USHORT>(sizeof(kDeviceName)), const_cast<PWSTR>(kDeviceName)};
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        NtCreateFileEntry()(m_handle.out(), kGenericReadWrite, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, kFileOpen, 0, nullptr, 0);
    m_openStatus = static_cast<std::uint32_t>(status);
    if (!NT_SUCCESS(status)) {
        // A failed open leaves nothing to close, whatever it wrote into the handle.
        (void)m_handle.release();
    }
}

SelfDefenceDevice::~SelfDefenceDevice() = default;

SelfDefenceDevice::Answer SelfDefenceDevice::Control(DWORD code, DWORD outputSize) const
{
    DWORD output[2] = {kUntouched, kUntouched};
    Answer answer;
    if (DeviceIoControl(m_handle.get(), code, nullptr, 0, output, std::min<DWORD>(outputSize, sizeof(output)),
                        &answer.bytesReturned, nullptr) == 0) {
        answer.error = GetLastError();
    }
    answer.value = output[0];
    return answer;
}

StandInDriver::StandInDriver() : m_keyPath(ServiceKeyPath(kDriverService))
{
    m_manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    EXPECT_TRUE(m_manager) << "OpenSCManagerW failed: " << GetLastError();
}

StandInDriver::~StandInDriver()
{
    Remove();
}

void StandInDriver::Install()
{
    ASSERT_TRUE(m_manager);
    const std::wstring binaryPath = BinDirectory() + kDriverFile;
    m_service.reset(CreateServiceW(m_manager.get(), kDriverService, kDriverService, SERVICE_ALL_ACCESS,
                                   SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                   binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(m_service) << "CreateServiceW failed: " << GetLastError();
}

DWORD StandInDriver::Start()
{
    return StartServiceW(m_service.get(), 0, nullptr) != 0 ? ERROR_SUCCESS : GetLastError();
}

DWORD StandInDriver::Stop()
{
    SERVICE_STATUS status{};
    if (ControlService(m_service.get(), SERVICE_CONTROL_STOP, &status) == 0) {
        return GetLastError();
    }
    EXPECT_TRUE(WaitUntilStopped(m_service.get()))
        << "the driver did not stop within " << kDriverStopTimeoutMs << " ms";
    return ERROR_SUCCESS;
}

SERVICE_STATUS_PROCESS StandInDriver::Query() const
{
    return QueryStatus(m_service.get());
}

void StandInDriver::Remove()
{
    if (!m_service) {
        return;
    }
    if (Query().dwCurrentState != SERVICE_STOPPED) {
        EXPECT_EQ(0u, Stop());
    }
    EXPECT_TRUE(DeleteService(m_service.get())) << "DeleteService failed: " << GetLastError();
    m_service.reset();
}

void StandInDriver::SetMode(DWORD mode)
{
    SetModeValue(m_keyPath, REG_DWORD, &mode, sizeof(mode));
}

void StandInDriver::SetModeString(const std::wstring& mode)
{
    SetModeValue(m_keyPath, REG_SZ, mode.c_str(), static_cast<DWORD>((mode.size() + 1) * sizeof(wchar_t)));
}

void StandInDriver::RemoveMode()
{
    Qx::Platform::UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_keyPath.c_str(), 0, KEY_SET_VALUE, key.out()));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key.get(), L"Mode"));
}

void StandInDriver::RemoveLeftover()
{
    const Qx::Platform::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager) << "OpenSCManagerW failed: " << GetLastError();
    const Qx::Platform::UniqueServiceHandle leftover(OpenServiceW(manager.get(), kDriverService, SERVICE_ALL_ACCESS));
    if (!leftover) {
        return;
    }
    SERVICE_STATUS status{};
    if (ControlService(leftover.get(), SERVICE_CONTROL_STOP, &status) != 0) {
        EXPECT_TRUE(WaitUntilStopped(leftover.get())) << "the leftover driver did not stop";
    }
    EXPECT_TRUE(DeleteService(leftover.get())) << "DeleteService of the leftover driver failed: " << GetLastError();
}

} // namespace Qx::Testing
