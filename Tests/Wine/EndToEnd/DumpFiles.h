// The crash dumps a run leaves behind: finding them by the host's naming rule, and reading them
// (MiniDumps.h).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "MiniDumps.h"

namespace Qx::Testing {

// MiniDumpWriteDump takes 2.5 to 4 s under Wine for a small process; a crash's dump, or a dump by
// the generator followed by one in process, stays well within this.
inline constexpr DWORD kDumpTimeoutMs = 60000;

// The folder a service's dumps go to: its GetTempPathW. A Wine service runs as the user who runs the
// tests and shares their temporary folder; a Windows service running as LocalSystem has its own.
std::wstring ServiceTempDirectory();

// The names (without folder) of the files "<baseName>_*.dmp" in folder, sorted.
std::vector<std::wstring> DumpFilesOf(const std::wstring& folder, std::wstring_view baseName);
void DeleteDumpFilesOf(const std::wstring& folder, std::wstring_view baseName);

// A local time to the second, comparable.
std::uint64_t SecondsOf(const SYSTEMTIME& time);
std::uint64_t LocalSecondsNow();

// name is "<baseName>_<code as %08X>_<yyyy>_<mm>_<dd>__<hh>_<mm>_<ss>.dmp" and its local time lies
// between notBefore and notAfter (LocalSecondsNow values).
::testing::AssertionResult IsDumpFileName(const std::wstring& name, std::wstring_view baseName, std::uint32_t code,
                                          std::uint64_t notBefore, std::uint64_t notAfter);

} // namespace Qx::Testing
