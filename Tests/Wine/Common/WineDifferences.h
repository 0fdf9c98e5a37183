// Telling Wine from Windows in the Wine tests. Where Wine answers differently, a test keeps its
// check strict for the runtime it runs on and names the difference in its output.
#pragma once

#include <windows.h>

#include <iostream>
#include <string_view>

namespace QxWineTest {

inline bool RunningOnWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline void NoteWineDifference(std::string_view difference)
{
    std::cout << "[   WINE   ] " << difference << "\n";
}

} // namespace QxWineTest
