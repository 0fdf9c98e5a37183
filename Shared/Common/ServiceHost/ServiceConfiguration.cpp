#include "Common/ServiceHost/ServiceConfiguration.h"

#include "Common/RegistryValues.h"
#include "Platform/Api/ProcessWide.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

Win32Error ReadDword(NativeHandle key, const wchar_t* name, std::uint32_t& value)
{
    std::uint32_t type = kRegNone;
    std::uint32_t size = sizeof(value);
    const Win32Error error = Registry().QueryValue(key, name, &type, &value, &size);
    if (error != kErrorSuccess) {
        return error;
    }
    return type == kRegDword ? kErrorSuccess : kErrorInvalidData;
}

// An optional flag: only a readable REG_DWORD changes it.
void ReadFlag(NativeHandle key, const wchar_t* name, std::uint32_t& scratch, bool& flag)
{
    std::uint32_t type = kRegNone;
    std::uint32_t size = sizeof(scratch);
    if (Registry().QueryValue(key, name, &type, &scratch, &size) == kErrorSuccess && type == kRegDword) {
        flag = scratch != 0;
    }
}

} // namespace

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
    RaiseWin32(ReadTerminatedString(key.get(), L"ServiceModules", kMaxServiceModulesLength + 1, m_serviceModules));
    RaiseWin32(ReadDword(key.get(), L"ServiceName", m_serviceName));
    std::uint32_t scratch = 0;
    ReadFlag(key.get(), L"SDEnabled", scratch, m_sdEnabled);
    ReadFlag(key.get(), L"LogCompressor", scratch, m_logCompressor);
}
