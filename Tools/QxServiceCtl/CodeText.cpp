#include "CodeText.h"

#include <array>
#include <cwchar>
#include <iterator>

#include "CtlArguments.h"
#include "Lifecycle.h"

namespace QxServiceCtl {

namespace {

constexpr std::uint32_t kSeverityBit = 0x80000000;
constexpr std::uint32_t kNtStatusBits = 0xC0000000;
constexpr std::uint32_t kWin32FacilityPrefix = 0x80070000;
constexpr std::uint32_t kWin32Limit = 0x10000;
constexpr std::uint32_t kProductFacility = 1;

// What the Service Control Manager reports as the exit code of a service that has not run yet.
constexpr std::uint32_t kErrorServiceNeverStarted = 1077;

struct Meaning {
    std::uint32_t value;
    const wchar_t* text;
};

constexpr std::array<Meaning, 17> kMeanings = {{
    {3, L"QxServiceHost's exit code after abort() in its C runtime: a C++ exception out of SmShutdown (or out of a "
        L"std::thread of a g++-built module), std::terminate or abort() in a module; one crash dump is written"},
    {1063, L"QxServiceHost's exit code when it was not started by the Service Control Manager (run by hand)"},
    {kErrorServiceNeverStarted, L"never started: the service has not run since it was installed (no failure)"},
    {0xFFFFFFFF, L"QxServiceHost's exit code when it could not create its start-up lock"},
    {0xC0000005, L"access violation: the process crashed reading or writing memory it may not; one crash dump"},
    {0xC0000374, L"heap corruption: the process's heap was found broken; one crash dump"},
    {0xC0000409, L"fail-fast (stack buffer overrun): the process was ended at once, also by abort() in "
                 L"Microsoft's C runtime after its SIGABRT handler"},
    {0xE06D7363, L"a C++ exception of Microsoft's runtime that nothing caught; one crash dump"},
    {0x20474343, L"a C++ exception of g++'s runtime that nothing caught; one crash dump"},
    {0x80000003, L"breakpoint: a debug break in the code, or the C runtime's report of an invalid parameter; one "
                 L"crash dump"},
    {0xC0000094, L"integer division by zero; one crash dump"},
    {0xC00000FD, L"stack overflow: a thread used up its stack, often through endless recursion; one crash dump"},
    {0xC000001D, L"illegal instruction: the processor met an instruction it does not know; one crash dump"},
    {0x80000002, L"datatype misalignment: a misaligned memory access; one crash dump"},
    {0x40010101, L"event: the service started"},
    {0x40010102, L"event: the service stopped"},
    {0xC0010103, L"event: the service could not be started"},
}};

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

// The exception codes of severity "warning" (guard page, misalignment, breakpoint, single step):
// other codes of the form 0x8000xxxx are HRESULTs of the null facility, such as E_PENDING.
bool IsNtStatusWarning(std::uint32_t value)
{
    return value >= 0x80000001 && value <= 0x80000004;
}

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
    if (value >= kWin32Limit && ((value >> 16) & 0xFFF) == kProductFacility) {
        code.kind = CodeKind::ProductMessage;
    } else if (value == 0) {
        code.kind = CodeKind::Success;
    } else if (value < kWin32Limit) {
        code.kind = CodeKind::Win32Error;
        code.win32Error = value;
    } else if ((value & 0xFFFF0000) == kWin32FacilityPrefix) {
        code.kind = CodeKind::HResultFromWin32;
        code.win32Error = value & 0xFFFF;
    } else if ((value & kNtStatusBits) == kNtStatusBits || IsNtStatusWarning(value)) {
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
    case CodeKind::ProductMessage:
        return hex + L", event or message of the product";
    case CodeKind::MessageId:
        break;
    }
    return hex + L", message identifier";
}

std::optional<std::wstring> KnownMeaning(std::uint32_t value)
{
    for (const Meaning& meaning : kMeanings) {
        if (meaning.value == value) {
            return meaning.text;
        }
    }
    return std::nullopt;
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

int StatusExitCode(std::uint32_t state, bool processEnded, std::uint32_t exitCode)
{
    if (processEnded || (state == kStateStopped && exitCode != 0 && exitCode != kErrorServiceNeverStarted)) {
        return kStatusFailedOrDead;
    }
    return state == kStateRunning ? kStatusRunning : kStatusNotRunning;
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
