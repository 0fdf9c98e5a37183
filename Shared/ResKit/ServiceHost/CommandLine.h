// The host's command line: parameters cut at "-", the service-name parameter, and the four
// registration switches.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Cuts the argument string at every "-". Text before the first hyphen is a parameter too;
// empty pieces are dropped; nothing is trimmed.
std::vector<std::wstring> SplitParameters(std::wstring_view arguments);

// True when the first four characters, lower-cased without regard to locale, are "name".
bool IsServiceNameParameter(std::wstring_view parameter);

struct ServiceNameValue {
    bool present = false; // a separator was found with text after it
    std::wstring value;   // the text after the first "=" or space, spaces trimmed at both ends
};

// The value part of a service-name parameter.
ServiceNameValue ExtractServiceNameValue(std::wstring_view parameter);

// The first character of a service name that would lead a path built from it out of its folder,
// or that the Service Control Manager refuses too: "\", "/", ":" and control characters. Empty
// when there is none.
std::optional<wchar_t> FindRefusedServiceNameCharacter(std::wstring_view value);

// Why the host refuses a service name it has read: it is empty, does not fit the host's buffer, or
// holds a character of FindRefusedServiceNameCharacter.
struct ServiceNameFault {
    enum class Kind { Empty, TooLong, RefusedCharacter };
    Kind kind;
    // RefusedCharacter: the first such character.
    wchar_t character = 0;
};

// The host's rule for the name it serves; nullopt when it takes the name. The control tool refuses
// what this refuses, and more.
std::optional<ServiceNameFault> CheckServiceName(std::wstring_view name);

// "U+" and four hexadecimal digits, so that an invisible character can be named too.
std::wstring CharacterCode(wchar_t c);

struct CommandLineDecision {
    bool startService = true;
    int exitCode = 0;
};

// Recognises "UnregServer", "RegServer", "UnregServerPerUser" and "RegServerPerUser" after "-"
// or "/", without regard to case. A switch ends the process with 0: the host has nothing to
// register.
CommandLineDecision ParseCommandLine(std::wstring_view commandLine);
