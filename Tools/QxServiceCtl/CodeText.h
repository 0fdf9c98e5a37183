// Exit codes, event identifiers and service states in words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace QxServiceCtl {

enum class CodeKind {
    Success,
    Win32Error,       // below 0x10000
    HResultFromWin32, // 0x8007xxxx: a Win32 error in an HRESULT
    HResult,          // another code with the severity bit
    NtStatus,         // both high bits set, as exception and crash codes are
    ProductMessage,   // facility 1: the product's events and texts in QxMessages.dll
    MessageId,        // anything else
};

struct DecodedCode {
    std::uint32_t value = 0;
    CodeKind kind = CodeKind::Success;
    // The Win32 error a HResultFromWin32 carries, or the value of a Win32Error.
    std::uint32_t win32Error = 0;
};

DecodedCode DecodeCode(std::uint32_t value);

// "0x8007007E, HRESULT of Win32 error 126", without the message text.
std::wstring DescribeCode(const DecodedCode& code);

// What the code means to this product whatever the system's texts say: QxServiceHost's own exit
// codes (3, 1063, -1), the crash codes its processes end with, and the events it reports. Empty for
// any other code.
std::optional<std::wstring> KnownMeaning(std::uint32_t value);

// A code as an operator writes it: decimal, negative decimal (a signed 32-bit value, as
// %ERRORLEVEL% shows it) or hexadecimal after "0x".
std::optional<std::uint32_t> ParseCode(const std::wstring& text);

// "0x" and eight upper-case hexadecimal digits.
std::wstring Hex8(std::uint32_t value);

// status's exit code, for scripts as systemctl is-active has it: 0 running, 3 not running (stopped
// with exit code 0, never started (1077), pending, paused), 1 failed (stopped with another exit
// code) or dead (the process the Service Control Manager names has ended); 4, no such service, is
// given apart.
inline constexpr int kStatusRunning = 0;
inline constexpr int kStatusFailedOrDead = 1;
inline constexpr int kStatusNotRunning = 3;
inline constexpr int kStatusNoSuchService = 4;
int StatusExitCode(std::uint32_t state, bool processEnded, std::uint32_t exitCode);

// SERVICE_STOPPED and its kind, as "STOPPED".
std::wstring ServiceStateName(std::uint32_t state);

// The SERVICE_ACCEPT_* bits as "STOP, SHUTDOWN"; "none" without one.
std::wstring AcceptedControlNames(std::uint32_t controls);

} // namespace QxServiceCtl
