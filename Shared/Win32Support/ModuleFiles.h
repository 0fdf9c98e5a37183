// Where the images of this process lie.
#pragma once

#include <windows.h>

#include <string>

// The linker's name for the header of the image being linked.
extern "C" IMAGE_DOS_HEADER __ImageBase; // NOLINT(bugprone-reserved-identifier)

namespace Qx::Win32Support {

// The image this code is linked into, whether a DLL or an executable.
inline HMODULE ThisModule()
{
    return reinterpret_cast<HMODULE>(&__ImageBase);
}

// The full path of a loaded module, of the executable for nullptr; empty on failure, with the
// error left for GetLastError.
inline std::wstring ModulePath(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The folder of a loaded module with its trailing backslash; empty on failure.
inline std::wstring ModuleDirectory(HMODULE module)
{
    const std::wstring path = ModulePath(module);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

inline std::wstring ExecutableDirectory()
{
    return ModuleDirectory(nullptr);
}

} // namespace Qx::Win32Support
