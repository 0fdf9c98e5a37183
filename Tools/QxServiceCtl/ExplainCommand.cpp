#include "CodeText.h"
#include "Commands.h"
#include "Common/UiLanguage.h"
#include "Console.h"
#include "HostFiles.h"

using namespace Qx::Platform;

namespace QxServiceCtl {

// Only the product's own identifiers are looked up in its message library: a small number is a
// Win32 error, whatever display name the library gives the same number. An NTSTATUS takes its text
// from ntdll's message table, which the system's messages leave out (and which Wine may lack).
std::wstring CodeMessage(const DecodedCode& code)
{
    if (code.kind == CodeKind::ProductMessage) {
        Library library;
        if (Libraries().LoadAsDataFile(ToolFolder() + kMessageLibraryName, library) == Qx::kErrorSuccess) {
            return FormatMessageLine(code.value, kFormatMessageFromHModule, library.get());
        }
        return {};
    }
    const std::uint32_t system = code.kind == CodeKind::HResultFromWin32 ? code.win32Error : code.value;
    const std::wstring text = FormatMessageLine(system, kFormatMessageFromSystem, nullptr);
    return text.empty() && code.kind == CodeKind::NtStatus ? SystemStatusText(code.value) : text;
}

std::wstring ExitCodeText(std::uint32_t value)
{
    const DecodedCode code = DecodeCode(value);
    const std::wstring text = KnownMeaning(value).value_or(CodeMessage(code));
    return DescribeCode(code) + (text.empty() ? L"" : L": " + text);
}

// The command line's parsing has checked the code.
int Explain(const std::wstring& text)
{
    const DecodedCode code = DecodeCode(ParseCode(text).value_or(0));
    Out(DescribeCode(code));
    if (const auto meaning = KnownMeaning(code.value)) {
        Out(*meaning);
    }
    const std::wstring message = CodeMessage(code);
    if (!message.empty() || !KnownMeaning(code.value)) {
        Out(message.empty() ? L"no text is known for it" : message);
    }
    return kExitSuccess;
}

} // namespace QxServiceCtl
