#include "CodeMessages.h"

#include <windows.h>

#include "Common/UiLanguage.h"
#include "HostFiles.h"

namespace QxServiceCtl {

std::wstring MessageText(std::uint32_t id)
{
    Qx::Platform::Library messages;
    if (Qx::Platform::Libraries().LoadAsDataFile(ToolFolder() + kMessageLibraryName, messages) != Qx::kErrorSuccess) {
        return {};
    }
    return FormatMessageLine(id, Qx::Platform::kFormatMessageFromHModule, messages.get());
}

std::wstring SystemStatusText(std::uint32_t status)
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr ? std::wstring()
                            : FormatMessageLine(status, Qx::Platform::kFormatMessageFromHModule, ntdll);
}

// Only the product's own identifiers are looked up in its message library: a small number is a
// Win32 error, whatever display name the library gives the same number. An NTSTATUS takes its text
// from ntdll's message table, which the system's messages leave out (and which Wine may lack).
std::wstring CodeMessage(const DecodedCode& code)
{
    if (code.kind == CodeKind::ProductMessage) {
        return MessageText(code.value);
    }
    const std::uint32_t system = code.kind == CodeKind::HResultFromWin32 ? code.win32Error : code.value;
    const std::wstring text = FormatMessageLine(system, Qx::Platform::kFormatMessageFromSystem, nullptr);
    return text.empty() && code.kind == CodeKind::NtStatus ? SystemStatusText(code.value) : text;
}

std::wstring ExitCodeText(std::uint32_t value)
{
    const DecodedCode code = DecodeCode(value);
    const std::wstring text = KnownMeaning(value).value_or(CodeMessage(code));
    return DescribeCode(code) + (text.empty() ? L"" : L": " + text);
}

} // namespace QxServiceCtl
