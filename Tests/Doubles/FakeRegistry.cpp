#include "FakeRegistry.h"

#include <cstring>
#include <utility>

namespace Qx::Testing {

using namespace Qx::Platform;

namespace {

constexpr std::uint32_t kKeyQueryValue = 0x1;
constexpr std::uint32_t kKeySetValue = 0x2;

std::vector<std::uint8_t> Bytes(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return {bytes, bytes + size};
}

// The registry's generic mapping: GENERIC_READ and GENERIC_EXECUTE grant KEY_READ, GENERIC_WRITE
// KEY_WRITE, GENERIC_ALL KEY_ALL_ACCESS.
std::uint32_t GrantedKeyAccess(std::uint32_t requested)
{
    std::uint32_t granted = requested & 0x0FFFFFFFu;
    if ((requested & 0xA0000000u) != 0) {
        granted |= 0x20019u;
    }
    if ((requested & 0x40000000u) != 0) {
        granted |= 0x20006u;
    }
    if ((requested & 0x10000000u) != 0) {
        granted |= 0xF003Fu;
    }
    return granted;
}

bool IsStringType(std::uint32_t type)
{
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// String data travels as UTF-16 units; the logic reads it into wchar_t buffers.
std::vector<std::uint8_t> AsCallerUnits(const RegistryValue& value)
{
    if (!IsStringType(value.type) || sizeof(wchar_t) == 2) {
        return value.data;
    }
    std::vector<std::uint8_t> widened;
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const wchar_t unit = static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&unit);
        widened.insert(widened.end(), bytes, bytes + sizeof(wchar_t));
    }
    if (value.data.size() % 2 != 0) {
        widened.push_back(value.data.back()); // keeps an odd size odd
    }
    return widened;
}

} // namespace

std::vector<std::uint8_t> Utf16Bytes(const std::wstring& text, bool terminated)
{
    std::vector<std::uint8_t> bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    if (terminated) {
        bytes.insert(bytes.end(), {0, 0});
    }
    return bytes;
}

void FakeRegistry::SetString(const std::wstring& path, const std::wstring& name, const std::wstring& text,
                             std::uint32_t type)
{
    SetRaw(path, name, type, Utf16Bytes(text, true));
}

void FakeRegistry::SetDword(const std::wstring& path, const std::wstring& name, std::uint32_t value)
{
    SetRaw(path, name, kRegDword, Bytes(&value, sizeof(value)));
}

void FakeRegistry::SetQword(const std::wstring& path, const std::wstring& name, std::uint64_t value)
{
    SetRaw(path, name, kRegQword, Bytes(&value, sizeof(value)));
}

void FakeRegistry::SetRaw(const std::wstring& path, const std::wstring& name, std::uint32_t type,
                          std::vector<std::uint8_t> data)
{
    CreateKey(path);
    m_keys[path][name] = RegistryValue{type, std::move(data)};
}

void FakeRegistry::CreateKey(const std::wstring& path)
{
    // As in the registry, no key exists without its parents.
    for (std::size_t separator = path.find(L'\\'); separator != std::wstring::npos;
         separator = path.find(L'\\', separator + 1)) {
        m_keys[path.substr(0, separator)];
    }
    m_keys[path];
}

bool FakeRegistry::HasKey(const std::wstring& path) const
{
    return m_keys.contains(path);
}

bool FakeRegistry::HasValue(const std::wstring& path, const std::wstring& name) const
{
    const auto key = m_keys.find(path);
    return key != m_keys.end() && key->second.contains(name);
}

void FakeRegistry::FailOpen(const std::wstring& path, Win32Error error)
{
    m_openFailures[path] = error;
}

FakeRegistry::Values* FakeRegistry::FindKey(const std::wstring& path)
{
    const auto key = m_keys.find(path);
    return key != m_keys.end() ? &key->second : nullptr;
}

Win32Error FakeRegistry::OpenKey(const std::wstring& path, std::uint32_t access, RegistryKey& key)
{
    if (const auto failure = m_openFailures.find(path); failure != m_openFailures.end()) {
        return failure->second;
    }
    if (FindKey(path) == nullptr) {
        return kErrorFileNotFound;
    }
    auto* opened = new OpenedKey{path, GrantedKeyAccess(access)};
    m_handles.insert(opened);
    ++m_openKeys;
    ++m_openCalls;
    key.reset(opened, *this);
    return kErrorSuccess;
}

Win32Error FakeRegistry::QueryValue(NativeHandle key, const wchar_t* name, std::uint32_t* type, void* data,
                                    std::uint32_t* size)
{
    const auto* opened = static_cast<const OpenedKey*>(key);
    if ((opened->access & kKeyQueryValue) == 0) {
        return kErrorAccessDenied;
    }
    Values* values = FindKey(opened->path);
    const auto value = values != nullptr ? values->find(name != nullptr ? name : L"") : Values::iterator{};
    if (values == nullptr || value == values->end()) {
        return kErrorFileNotFound;
    }
    const std::vector<std::uint8_t> bytes = AsCallerUnits(value->second);
    if (type != nullptr) {
        *type = value->second.type;
    }
    if (size == nullptr) {
        return data == nullptr ? kErrorSuccess : kErrorInvalidParameter;
    }
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (data != nullptr && *size < needed) {
        *size = needed;
        return kErrorMoreData;
    }
    if (data != nullptr && !bytes.empty()) {
        std::memcpy(data, bytes.data(), bytes.size());
    }
    *size = needed;
    return kErrorSuccess;
}

Win32Error FakeRegistry::CreateVolatileKey(const std::wstring& path)
{
    CreateKey(path);
    return kErrorSuccess;
}

bool FakeRegistry::HasSubkeys(const std::wstring& path) const
{
    // Keys below path sort right behind "path\", whatever their case.
    const std::wstring prefix = path + L'\\';
    const auto next = m_keys.lower_bound(prefix);
    return next != m_keys.end() && next->first.size() > prefix.size() &&
           !CaseInsensitiveLess{}(prefix, next->first.substr(0, prefix.size()));
}

Win32Error FakeRegistry::DeleteKey(const std::wstring& path)
{
    // RegDeleteKeyW removes leaves only.
    if (HasSubkeys(path)) {
        return kErrorAccessDenied;
    }
    return m_keys.erase(path) != 0 ? kErrorSuccess : kErrorFileNotFound;
}

Win32Error FakeRegistry::DeleteValue(NativeHandle key, const wchar_t* name)
{
    const auto* opened = static_cast<const OpenedKey*>(key);
    if ((opened->access & kKeySetValue) == 0) {
        return kErrorAccessDenied;
    }
    Values* values = FindKey(opened->path);
    return values != nullptr && values->erase(name) != 0 ? kErrorSuccess : kErrorFileNotFound;
}

void FakeRegistry::CloseKey(NativeHandle key)
{
    const auto* opened = static_cast<const OpenedKey*>(key);
    if (m_handles.erase(opened) != 0) {
        --m_openKeys;
        delete opened;
    }
}

} // namespace Qx::Testing
