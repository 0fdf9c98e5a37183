#include "CodeMessages.h"
#include "CodeText.h"
#include "Commands.h"
#include "Console.h"
#include "HostFiles.h"

namespace QxServiceCtl {

namespace {

// The command line's parsing has checked the code.
int Explain(const Command& command)
{
    const DecodedCode code = DecodeCode(ParseCode(command.target).value_or(0));
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

} // namespace

const CommandEntry kExplainCommand{
    CommandKind::Explain,
    {L"QxServiceCtl explain <code>",
     L"    The meaning of an exit code, HRESULT, Win32 error, crash code or event identifier."},
    &Explain};

} // namespace QxServiceCtl
