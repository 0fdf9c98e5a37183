// Where a name in ServiceModules may load a library from.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The name LoadLibraryW is given for a module named name, or nothing when the name is refused
// (the host fails the load with E_INVALIDARG). hostFolder ends in a backslash.
// - A full path ("C:\Qx\a.dll", "\\server\share\a.dll") stays as it is.
// - A bare file name stays as it is: the loader looks in the host's folder, then System32.
// - A relative path ("sub\a.dll", ".\a.dll", "sub/../a.dll") is taken below the host's folder: it
//   is joined to the folder with its "." and ".." steps resolved, and refused when those lead out
//   of it ("..\a.dll").
// - Refused too: a root-relative name ("\a.dll"), a drive-relative one ("C:a.dll"), any other ":"
//   (a stream), a name of spaces only, any relative path when the host's folder is unknown, and a
//   name whose file part Windows takes for a device ("CON", "nul.dll", "sub\COM1.dll"), which
//   the loader would open as that device.
// Spaces at the end of a name are dropped, as the system drops them from a path it opens.
std::optional<std::wstring> ModuleLoadName(std::wstring_view name, std::wstring_view hostFolder);
