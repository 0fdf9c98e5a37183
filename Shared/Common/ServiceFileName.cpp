#include "Common/ServiceFileName.h"

#include <algorithm>
#include <array>

bool IsRefusedInFileName(wchar_t c)
{
    return c < 0x20 || std::wstring_view(L"\"*/:<>?\\|").find(c) != std::wstring_view::npos;
}

namespace {

// Device names are ASCII, and Windows matches them without regard to case.
bool EqualsIgnoringCase(std::wstring_view text, std::wstring_view upper)
{
    return std::ranges::equal(text, upper, [](wchar_t a, wchar_t b) {
        return (a >= L'a' && a <= L'z' ? static_cast<wchar_t>(a - L'a' + L'A') : a) == b;
    });
}

bool IsDeviceDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3';
}

// The length of the device name the part before the first dot starts with, or 0.
std::size_t DeviceNameLength(std::wstring_view fileName)
{
    std::wstring_view stem = fileName.substr(0, fileName.find(L'.'));
    stem = stem.substr(0, stem.find_last_not_of(L' ') + 1);
    constexpr std::array<std::wstring_view, 6> kDevices = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    if (std::ranges::any_of(kDevices, [&](std::wstring_view device) { return EqualsIgnoringCase(stem, device); })) {
        return stem.size();
    }
    const bool numbered =
        stem.size() == 4 && IsDeviceDigit(stem[3]) &&
        (EqualsIgnoringCase(stem.substr(0, 3), L"COM") || EqualsIgnoringCase(stem.substr(0, 3), L"LPT"));
    return numbered ? stem.size() : 0;
}

} // namespace

bool IsDeviceFileName(std::wstring_view fileName)
{
    return DeviceNameLength(fileName) != 0;
}

std::wstring ServiceFileName(std::wstring_view serviceName)
{
    std::wstring name(serviceName);
    std::ranges::replace_if(name, IsRefusedInFileName, L'_');
    if (name.find(L'.') != std::wstring::npos) {
        if (const std::size_t device = DeviceNameLength(name); device != 0) {
            name.insert(device, 1, L'_');
        }
    }
    return name;
}
