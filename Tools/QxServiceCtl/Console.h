// The tool's output: UTF-8 lines on standard output and standard error, console or pipe alike.
#pragma once

#include <string_view>

namespace QxServiceCtl {

void Out(std::wstring_view line);
void Err(std::wstring_view line);

// Prints "QxServiceCtl <command>: <text>" on standard error and gives the failure exit code.
int Fail(std::wstring_view command, std::wstring_view text);

// Where a command was asked for JSON, a failure is an object on standard output too, so that a script
// gets one for every outcome: {service, error, status (the exit code), schemaVersion}.
struct JsonFailure {
    bool wanted = false;
    std::wstring_view service;
    int exitCode = 1;
};

// Fail, with the object when it is wanted; gives json.exitCode.
int Fail(std::wstring_view command, std::wstring_view text, const JsonFailure& json);

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

} // namespace QxServiceCtl
