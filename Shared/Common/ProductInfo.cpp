#include "Common/ProductInfo.h"

#include <algorithm>
#include <vector>

#include "Common/ConfigurationNames.h"
#include "Common/RegistryValues.h"
#include "Platform/Api/ProcessWide.h"
#include "ResKit/Logger/HRXEx.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

constexpr std::uint32_t kProfileValueCapacity = 260;

// The text up to its first NUL within the given number of characters.
std::wstring TerminatedText(const std::vector<wchar_t>& buffer, std::size_t characters)
{
    std::wstring text(buffer.data(), std::min(characters, buffer.size()));
    const auto nul = text.find(L'\0');
    if (nul != std::wstring::npos) {
        text.resize(nul);
    }
    return text;
}

} // namespace

ProductInfo ProductInfo::ReadFile(const std::wstring& iniPath)
{
    auto& files = Files();
    ProductInfo info;
    if (!files.FileExists(iniPath)) {
        return info;
    }
    auto read = [&](const wchar_t* key, const std::wstring& defaultValue) {
        return files.ReadProfileString(iniPath, kSection, key, defaultValue.c_str(), kProfileValueCapacity);
    };
    info.m_registryRoot = read(ConfigurationNames::kRegistryRoot, info.m_registryRoot);
    info.m_messageFile = read(ConfigurationNames::kMessageFile, info.m_messageFile);
    info.m_auditMessageFile = read(ConfigurationNames::kAuditMessageFile, info.m_auditMessageFile);
    info.m_eventLogName = read(ConfigurationNames::kEventLogName, info.m_eventLogName);
    return info;
}

std::wstring ProductInfo::FilePathBeside(const std::wstring& executablePath)
{
    const auto backslash = executablePath.rfind(L'\\');
    if (backslash == std::wstring::npos) {
        return kFileName;
    }
    return executablePath.substr(0, backslash + 1) + kFileName;
}

bool ReadProductString(NativeHandle key, const wchar_t* name, std::wstring& value)
{
    auto& registry = Registry();
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (registry.QueryValue(key, name, &type, nullptr, &size) != kErrorSuccess || size == 0) {
        return false;
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);
    for (;;) {
        auto bytes = static_cast<std::uint32_t>(buffer.size() * sizeof(wchar_t));
        const Win32Error error = registry.QueryValue(key, name, &type, buffer.data(), &bytes);
        if (error == kErrorMoreData) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != kErrorSuccess || (type != kRegSz && type != kRegExpandSz)) {
            return false;
        }
        value = TerminatedText(buffer, bytes / sizeof(wchar_t));
        return true;
    }
}

Library ProductInfo::LoadMessageModule() const
{
    Library library;
    if (m_messageFile.empty()) {
        return library;
    }
    if (m_registryRoot.empty()) {
        (void)Libraries().LoadAsDataFile(m_messageFile, library);
        return library;
    }
    RegistryKey key;
    if (Registry().OpenKey(m_registryRoot, kKeyRead, key) != kErrorSuccess) {
        return library;
    }
    std::wstring path;
    if (!ReadProductString(key.get(), ConfigurationNames::kProductInstallPath, path)) {
        return library;
    }
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') {
        path += L'\\';
    }
    (void)Libraries().LoadAsDataFile(path + m_messageFile, library);
    return library;
}

const ProductInfo& GetProductInfo()
{
    static ProcessWide<const ProductInfo> info([] {
        std::wstring executable;
        (void)Process().ModuleFileName(nullptr, executable);
        return std::make_unique<const ProductInfo>(ProductInfo::ReadFile(ProductInfo::FilePathBeside(executable)));
    });
    return info.Get();
}

std::wstring ProductLibraryPath(const std::wstring& registryRoot, const wchar_t* fileName)
{
    // GENERIC_READ, as the product's own readers open the key.
    RegistryKey key;
    RaiseWin32(Registry().OpenKey(registryRoot, kGenericRead, key));
    const std::size_t units = StringValueUnits(key.get(), ConfigurationNames::kProductInstallPath);
    if (units == 0) {
        RaiseIfFailed(kEInvalidArg);
    }
    std::wstring path;
    RaiseWin32(ReadTerminatedString(key.get(), ConfigurationNames::kProductInstallPath, units, path));
    return path + fileName;
}
