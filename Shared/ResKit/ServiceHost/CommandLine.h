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

struct CommandLineDecision {
    bool startService = true;
    int exitCode = 0;
};

// Recognises "UnregServer", "RegServer", "UnregServerPerUser" and "RegServerPerUser" after "-"
// or "/", without regard to case. A switch ends the process with 0: the host has nothing to
// register.
CommandLineDecision ParseCommandLine(std::wstring_view commandLine);
