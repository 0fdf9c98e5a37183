// The command line as the host reads it: parameters cut at "-", the service-name parameter and
// its value, the registration switches; and the names of the files an accepted service name gets.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>

#include "Common/ServiceFileName.h"
#include "FakePlatform.h"
#include "FuzzInput.h"
#include "ResKit/ServiceHost/CommandLine.h"

using namespace Qx::Testing;

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

// What Windows takes for a device, by its own list: a stem (the name up to its first dot, trailing
// spaces dropped) that is one of these, in upper case.
bool NamesADevice(const std::wstring& fileName)
{
    static const std::set<std::wstring> kDevices = [] {
        std::set<std::wstring> devices{L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
        for (const wchar_t digit : std::wstring(L"0123456789\u00B9\u00B2\u00B3")) {
            devices.insert(std::wstring(L"COM") + digit);
            devices.insert(std::wstring(L"LPT") + digit);
        }
        return devices;
    }();
    std::wstring stem = fileName.substr(0, fileName.find(L'.'));
    stem.erase(stem.find_last_not_of(L' ') + 1);
    std::ranges::transform(stem, stem.begin(), [](wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; });
    return kDevices.contains(stem);
}

// Every file named after an accepted service name is an ordinary file within its folder.
void CheckFileNames(const std::wstring& serviceName)
{
    const std::wstring base = ServiceFileName(serviceName);
    Check(base.size() == serviceName.size() || base.size() == serviceName.size() + 1, "the mapping keeps the length");
    for (const std::wstring& file : {base + L"(1234).log", base + L"_C0000005_2026_12_08__01_02_03.dmp"}) {
        Check(file.find_first_of(L"\"*/:<>?\\|") == std::wstring::npos, "no file name holds a refused character");
        Check(std::ranges::none_of(file, [](wchar_t c) { return c < 0x20; }), "no file name holds a control character");
        Check(!NamesADevice(file) && !IsDeviceFileName(file), "no file name is a device");
    }
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
    if (!FindRefusedServiceNameCharacter(value.value)) {
        CheckFileNames(value.value);
    }
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
