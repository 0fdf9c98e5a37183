#include "CodeText.h"
#include "Commands.h"
#include "Common/UiLanguage.h"
#include "Console.h"

namespace QxServiceCtl {

int Explain(const std::wstring& text)
{
    const auto value = ParseCode(text);
    if (!value) {
        return Fail(L"explain", L"\"" + text +
                                    L"\" is no code: give a decimal number, a negative one as %ERRORLEVEL% shows it, "
                                    L"or 0x and hexadecimal digits");
    }
    const DecodedCode code = DecodeCode(*value);
    Out(DescribeCode(code));
    std::wstring message = GetErrorText(code.value);
    if (message.empty() && code.kind == CodeKind::HResultFromWin32) {
        message = GetErrorText(code.win32Error);
    }
    Out(message.empty() ? L"no text is known for it" : message);
    return kExitSuccess;
}

} // namespace QxServiceCtl
