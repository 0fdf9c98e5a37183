#include "CodeText.h"

#include <array>
#include <cwchar>
#include <iterator>

#include "CtlArguments.h"

namespace QxServiceCtl {

namespace {

constexpr std::uint32_t kSeverityBit = 0x80000000;
constexpr std::uint32_t kNtStatusBits = 0xC0000000;
constexpr std::uint32_t kWin32FacilityPrefix = 0x80070000;
constexpr std::uint32_t kWin32Limit = 0x10000;

struct ControlName {
    std::uint32_t bit;
    const wchar_t* name;
};

constexpr std::array<ControlName, 8> kControls = {{
    {0x1, L"STOP"},
    {0x2, L"PAUSE_CONTINUE"},
    {0x4, L"SHUTDOWN"},
    {0x8, L"PARAMCHANGE"},
    {0x10, L"NETBINDCHANGE"},
    {0x20, L"HARDWAREPROFILECHANGE"},
    {0x40, L"POWEREVENT"},
    {0x100, L"PRESHUTDOWN"},
}};

} // namespace

std::wstring Hex8(std::uint32_t value)
{
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"0x%08X", static_cast<unsigned>(value));
    return text;
}

DecodedCode DecodeCode(std::uint32_t value)
{
    DecodedCode code{value, CodeKind::MessageId, 0};
    if (value == 0) {
        code.kind = CodeKind::Success;
    } else if (value < kWin32Limit) {
        code.kind = CodeKind::Win32Error;
        code.win32Error = value;
    } else if ((value & 0xFFFF0000) == kWin32FacilityPrefix) {
        code.kind = CodeKind::HResultFromWin32;
        code.win32Error = value & 0xFFFF;
    } else if ((value & kNtStatusBits) == kNtStatusBits) {
        code.kind = CodeKind::NtStatus;
    } else if ((value & kSeverityBit) != 0) {
        code.kind = CodeKind::HResult;
    }
    return code;
}

std::wstring DescribeCode(const DecodedCode& code)
{
    const std::wstring hex = Hex8(code.value);
    switch (code.kind) {
    case CodeKind::Success:
        return hex + L", success";
    case CodeKind::Win32Error:
        return hex + L", Win32 error " + std::to_wstring(code.win32Error);
    case CodeKind::HResultFromWin32:
        return hex + L", HRESULT of Win32 error " + std::to_wstring(code.win32Error);
    case CodeKind::HResult:
        return hex + L", HRESULT";
    case CodeKind::NtStatus:
        return hex + L", NTSTATUS (an exception or crash code)";
    case CodeKind::MessageId:
        break;
    }
    return hex + L", message or event identifier";
}

std::optional<std::uint32_t> ParseCode(const std::wstring& text)
{
    if (text.starts_with(L"-")) {
        const auto magnitude = ParseUnsigned(text.substr(1));
        if (!magnitude || text.starts_with(L"-0x") || *magnitude > kSeverityBit) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(0x100000000ULL - *magnitude);
    }
    return ParseUnsigned(text);
}

std::wstring ServiceStateName(std::uint32_t state)
{
    static constexpr std::array<const wchar_t*, 7> kStates = {
        L"STOPPED", L"START_PENDING", L"STOP_PENDING", L"RUNNING", L"CONTINUE_PENDING", L"PAUSE_PENDING", L"PAUSED",
    };
    if (state >= 1 && state <= kStates.size()) {
        return kStates[state - 1];
    }
    return L"unknown state " + std::to_wstring(state);
}

std::wstring AcceptedControlNames(std::uint32_t controls)
{
    std::wstring names;
    std::uint32_t known = 0;
    for (const auto& control : kControls) {
        known |= control.bit;
        if ((controls & control.bit) != 0) {
            names += (names.empty() ? L"" : L", ") + std::wstring(control.name);
        }
    }
    if ((controls & ~known) != 0) {
        names += (names.empty() ? L"" : L", ") + Hex8(controls & ~known);
    }
    return names.empty() ? L"none" : names;
}

} // namespace QxServiceCtl
