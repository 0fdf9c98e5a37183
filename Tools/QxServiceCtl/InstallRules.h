// What install refuses: names and module lists the host would misread, and whose a service is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace QxServiceCtl {

// Why the host could not serve a service of this name; nullopt when it can.
std::optional<std::wstring> ServiceNameRefusal(std::wstring_view name);

// Why the host would not load this module list as written; nullopt when it would.
std::optional<std::wstring> ModuleListRefusal(const std::wstring& modules);

// Why a product root key would not be found as written: it must be a path below
// HKEY_LOCAL_MACHINE, without the hive's name; nullopt when it would.
std::optional<std::wstring> RegistryRootRefusal(std::wstring_view root);

// Why the host would report under another event source than this one (it removes the product
// name and trims blanks) or none; nullopt when it reports under this very name.
std::optional<std::wstring> EventSourceRefusal(std::wstring_view source);

// The program a service's command line (its ImagePath) starts, quoted or not; empty for an
// unclosed quote.
std::wstring_view ProgramOf(std::wstring_view imagePath);

// Whether two paths that differ in their text name one file (a short name, a junction, a SUBST
// drive); without one, only the text counts.
using SameFileRule = bool (*)(std::wstring_view first, std::wstring_view second);

// Whether a service's command line (its ImagePath) runs the host at hostPath for that very service:
// its program, quoted or not, is hostPath, and the last service name the host reads from the rest
// is service, both without regard to case. Any other service is not this tool's to replace or
// remove.
bool RunsHostFor(std::wstring_view imagePath, std::wstring_view hostPath, std::wstring_view service,
                 SameFileRule sameFile = nullptr);

enum class HostOwner { None, ThisHost, OtherHost };

// Whose service list shows: this host's (RunsHostFor), another copy's of the host (its program has the
// host's file name in another folder, or another service's name), or no host's.
HostOwner HostOwnerOf(std::wstring_view imagePath, std::wstring_view hostPath, std::wstring_view service,
                      SameFileRule sameFile = nullptr);

} // namespace QxServiceCtl
