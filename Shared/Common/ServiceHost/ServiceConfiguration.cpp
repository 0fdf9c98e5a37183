#include "Common/ServiceHost/ServiceConfiguration.h"

#include "Common/RegistryValues.h"
#include "Platform/Api/ProcessWide.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

Win32Error ReadServiceModulesValue(NativeHandle key, std::wstring& value)
{
    return ReadTerminatedString(key, kServiceModulesValue, CServiceConfigurationImpl::kMaxServiceModulesLength + 1,
                                value);
}

Win32Error ReadFlagValue(NativeHandle key, const wchar_t* name, bool& flag)
{
    std::uint32_t value = 0;
    const Win32Error error = ReadDwordValue(key, name, value);
    if (error == kErrorSuccess) {
        flag = value != 0;
    }
    return error;
}

std::wstring ParametersKeyPath(const std::wstring& serviceName)
{
    return L"SYSTEM\\CurrentControlSet\\Services\\" + serviceName + L"\\Parameters";
}

CServiceConfigurationImpl& CServiceConfigurationImpl::Instance()
{
    static Qx::Platform::ProcessWide<CServiceConfigurationImpl> instance(
        [] { return std::unique_ptr<CServiceConfigurationImpl>(new CServiceConfigurationImpl()); });
    return instance.Get();
}

void CServiceConfigurationImpl::Load(const std::wstring& serviceName)
{
    QX_FUNCTION_TRACE(L"CServiceConfigurationImpl::Load");
    RegistryKey key;
    RaiseWin32(Registry().OpenKey(ParametersKeyPath(serviceName), kKeyRead, key));
    RaiseWin32(ReadServiceModulesValue(key.get(), m_serviceModules));
    RaiseWin32(ReadDwordValue(key.get(), kDisplayNameIdValue, m_serviceName));
    (void)ReadFlagValue(key.get(), kSelfDefenceValue, m_sdEnabled);
    (void)ReadFlagValue(key.get(), kLogCompressorValue, m_logCompressor);
}
