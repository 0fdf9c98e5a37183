// The command line as the host reads it: parameters cut at "-", the service-name parameter and
// its value, the registration switches.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "FakePlatform.h"
#include "FuzzInput.h"
#include "ResKit/ServiceHost/CommandLine.h"

using namespace Qx::Fuzzing;

namespace {

// Path separators, the drive colon and the control characters (Unicode category Cc).
bool IsRefusedInServiceName(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == L'\\' || c == L'/' || c == L':';
}

void CheckRefusedCharacter(const std::wstring& name)
{
    const auto firstRefused = std::find_if(name.begin(), name.end(), IsRefusedInServiceName);
    const std::optional<wchar_t> refused = FindRefusedServiceNameCharacter(name);
    Check(refused.has_value() == (firstRefused != name.end()), "a name is refused exactly when it holds one");
    Check(!refused || *refused == *firstRefused, "the refused character is the first one");
}

void CheckServiceNameValue(const std::wstring& parameter)
{
    const ServiceNameValue value = ExtractServiceNameValue(parameter);
    if (!value.present) {
        Check(value.value.empty(), "an absent value is empty");
        return;
    }
    Check(parameter.find(value.value) != std::wstring::npos, "the value comes from the parameter");
    Check(value.value.empty() || (value.value.front() != L' ' && value.value.back() != L' '),
          "the value is trimmed of spaces");
    CheckRefusedCharacter(value.value);
}

void CheckParameters(const std::wstring& arguments)
{
    std::wstring joined;
    for (const auto& parameter : SplitParameters(arguments)) {
        Check(!parameter.empty(), "no parameter is empty");
        Check(parameter.find(L'-') == std::wstring::npos, "no parameter holds a hyphen");
        joined += parameter;
        Check(!IsServiceNameParameter(parameter) || parameter.size() >= 4, "the name key has four characters");
        CheckServiceNameValue(parameter);
    }
    std::wstring withoutHyphens = arguments;
    std::erase(withoutHyphens, L'-');
    Check(joined == withoutHyphens, "the parameters are the arguments without their hyphens");
}

void CheckDecision(const std::wstring& commandLine)
{
    const CommandLineDecision decision = ParseCommandLine(commandLine);
    Check(decision.exitCode == 0, "the exit code is 0 either way");
    Check(decision.startService || commandLine.find_first_of(L"-/") != std::wstring::npos,
          "only a switch after - or / stops the process");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Qx::Testing::FakePlatform platform;
    const std::wstring commandLine = FuzzInput(data, size).TakeText();
    CheckParameters(commandLine);
    CheckDecision(commandLine);
    return 0;
}
