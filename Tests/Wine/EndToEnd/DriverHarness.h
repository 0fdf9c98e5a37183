// The stand-in self-defence driver VqSDD.sys (Products/VqSDD) for the tests: installed and started
// as a kernel driver service of the tests' own, told its mode through the registry, and its device
// opened and queried the way the host does it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "Platform/Win32/UniqueWin32Handles.h"

namespace Qx::Testing {

inline constexpr const wchar_t* kDriverFile = L"VqSDD.sys";
// One name for every run: the device name is fixed, so only one instance can run at a time, and a
// driver left behind by a broken run is found under this name and removed.
inline constexpr const wchar_t* kDriverService = L"QxE2E_VqSDD";
inline constexpr DWORD kQueryModeControlCode = 0x224004;

// Native statuses of opening \Device\VqSDD_Sys, as unsigned values, which read best in hexadecimal.
inline constexpr std::uint32_t kStatusSuccess = 0;
inline constexpr std::uint32_t kStatusObjectNameNotFound = 0xC0000034;

// Whoever uses the stand-in driver, or needs its device to be absent, holds this lock: the device
// name is one for the whole machine (under Wine, the whole prefix), and test runs of several
// processes may share it. Waits up to two minutes for another holder.
class SelfDefenceDeviceLock {
public:
    SelfDefenceDeviceLock();
    ~SelfDefenceDeviceLock();
    SelfDefenceDeviceLock(const SelfDefenceDeviceLock&) = delete;
    SelfDefenceDeviceLock& operator=(const SelfDefenceDeviceLock&) = delete;

    bool Held() const { return m_held; }

private:
    Qx::Platform::UniqueKernelHandle m_mutex;
    bool m_held = false;
};

// \Device\VqSDD_Sys opened with the host's NtCreateFile parameters (access 0x12019F, case
// insensitive, FILE_ATTRIBUTE_NORMAL, share read and write, FILE_OPEN, no options).
class SelfDefenceDevice {
public:
    SelfDefenceDevice();
    ~SelfDefenceDevice();
    SelfDefenceDevice(const SelfDefenceDevice&) = delete;
    SelfDefenceDevice& operator=(const SelfDefenceDevice&) = delete;

    // What NtCreateFile returned.
    std::uint32_t OpenStatus() const { return m_openStatus; }

    struct Answer {
        // DeviceIoControl's last error, 0 when it succeeded.
        DWORD error = 0;
        DWORD bytesReturned = 0;
        // The first four bytes of the output buffer, which starts filled with kUntouched.
        DWORD value = 0;
    };
    static constexpr DWORD kUntouched = 0xA5A5A5A5;

    // DeviceIoControl without input and with an output buffer of outputSize bytes (at most 8).
    Answer Control(DWORD code, DWORD outputSize = sizeof(DWORD)) const;

private:
    Qx::Platform::UniqueKernelHandle m_handle;
    std::uint32_t m_openStatus = kStatusSuccess;
};

// The driver service kDriverService with binary path <bin folder>VqSDD.sys. The destructor stops
// and deletes the service, which takes its key and the Mode value with it.
class StandInDriver {
public:
    // Stops and deletes a kDriverService that a broken run left behind.
    static void RemoveLeftover();

    StandInDriver();
    ~StandInDriver();
    StandInDriver(const StandInDriver&) = delete;
    StandInDriver& operator=(const StandInDriver&) = delete;

    // CreateServiceW: SERVICE_KERNEL_DRIVER, demand start.
    void Install();
    // StartServiceW: its Win32 error, 0 on success.
    DWORD Start();
    // ControlService(SERVICE_CONTROL_STOP): its Win32 error, 0 on success.
    DWORD Stop();
    SERVICE_STATUS_PROCESS Query() const;
    // Stops the driver if it runs and deletes its service.
    void Remove();

    // The REG_DWORD Mode under the service key; RemoveMode deletes it, SetModeString writes a REG_SZ.
    void SetMode(DWORD mode);
    void SetModeString(const std::wstring& mode);
    void RemoveMode();

private:
    std::wstring m_keyPath;
    Qx::Platform::UniqueServiceHandle m_manager;
    Qx::Platform::UniqueServiceHandle m_service;
};

} // namespace Qx::Testing
