// The tool's output: UTF-8 lines on standard output and standard error, console or pipe alike.
#pragma once

#include <string_view>

namespace QxServiceCtl {

void Out(std::wstring_view line);
void Err(std::wstring_view line);

// Prints "QxServiceCtl <command>: <text>" on standard error and gives the failure exit code.
int Fail(std::wstring_view command, std::wstring_view text);

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

} // namespace QxServiceCtl
