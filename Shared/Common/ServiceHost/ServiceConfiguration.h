// The service's settings from its registry Parameters key.
//
// Threads: Load runs on the main thread before the host starts a thread of its own; afterwards
// the object is only read, without locks.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Api/Platform.h"

// "SYSTEM\CurrentControlSet\Services\" + serviceName + "\Parameters", below HKEY_LOCAL_MACHINE.
std::wstring ParametersKeyPath(const std::wstring& serviceName);

// The names of the Parameters values the host reads.
inline constexpr const wchar_t* kServiceModulesValue = L"ServiceModules";
inline constexpr const wchar_t* kDisplayNameIdValue = L"ServiceName";
inline constexpr const wchar_t* kSelfDefenceValue = L"SDEnabled";
inline constexpr const wchar_t* kLogCompressorValue = L"LogCompressor";

// The reads behind Load, one value each, giving the error instead of raising, so that a checker
// applies exactly the host's rules.
Qx::Win32Error ReadServiceModulesValue(Qx::Platform::NativeHandle key, std::wstring& value);
// An optional flag: only a readable REG_DWORD sets it; any error leaves it as it was.
Qx::Win32Error ReadFlagValue(Qx::Platform::NativeHandle key, const wchar_t* name, bool& flag);

class CServiceConfigurationImpl {
public:
    // Longest ServiceModules value, in characters, without the terminating NUL.
    static constexpr std::size_t kMaxServiceModulesLength = 259;

    // The process-wide instance, with the defaults until Load.
    static CServiceConfigurationImpl& Instance();

    // Reads ServiceModules, ServiceName, SDEnabled and LogCompressor, in that order. Raises
    // HRXEx with HRESULT_FROM_WIN32 of the first error of the key or of the two required
    // values; fields read before the failure keep what was read.
    void Load(const std::wstring& serviceName);

    [[nodiscard]] const std::wstring& ServiceModules() const { return m_serviceModules; }
    // Message identifier of the service's display name in the product's message file.
    [[nodiscard]] std::uint32_t ServiceName() const { return m_serviceName; }
    [[nodiscard]] bool SDEnabled() const { return m_sdEnabled; }
    [[nodiscard]] bool LogCompressor() const { return m_logCompressor; }

private:
    std::wstring m_serviceModules;
    std::uint32_t m_serviceName = 0;
    bool m_sdEnabled = false;
    bool m_logCompressor = false;
};
