#include "Common/ServiceHost/ModuleName.h"

#include <gtest/gtest.h>

namespace {

constexpr const wchar_t* kHostFolder = L"C:\\Qx\\";

TEST(ModuleNameTest, FullPathsAndBareNamesStayAndRelativePathsStayBelowTheHostFolder)
{
    const struct {
        const wchar_t* name;
        const wchar_t* loaded;
    } cases[] = {
        {L"A.dll", L"A.dll"},
        {L"C:\\Modules\\A.dll", L"C:\\Modules\\A.dll"},
        {L"c:/Modules/A.dll", L"c:/Modules/A.dll"},
        {L"\\\\server\\share\\A.dll", L"\\\\server\\share\\A.dll"},
        {L"sub\\A.dll", L"C:\\Qx\\sub\\A.dll"},
        {L".\\A.dll", L"C:\\Qx\\A.dll"},
        {L"sub/../A.dll", L"C:\\Qx\\A.dll"},
        {L"sub\\\\.\\deeper\\A.dll", L"C:\\Qx\\sub\\deeper\\A.dll"},
        {L"A.dll  ", L"A.dll"},
        {L" A.dll", L" A.dll"}, // a leading space is part of the name, and fails to load
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(ModuleLoadName(entry.name, kHostFolder).value_or(L"<refused>"), entry.loaded) << entry.name;
    }
}

TEST(ModuleNameTest, NamesThatLeaveTheHostFolderAreRefused)
{
    for (const wchar_t* name : {L"..\\A.dll", L"../A.dll", L"sub\\..\\..\\A.dll", L"\\A.dll", L"/A.dll", L"C:A.dll",
                                L"A.dll:stream", L"C:\\A.dll:stream", L"   ", L"sub\\..", L".\\", L"CON", L"CONIN$",
                                L"nul.dll", L"sub\\COM1.dll", L"C:\\Modules\\lpt2 .dll"}) {
        EXPECT_EQ(ModuleLoadName(name, kHostFolder), std::nullopt) << name;
    }
    EXPECT_EQ(ModuleLoadName(L"sub\\A.dll", L""), std::nullopt) << "no host folder, no place below it";
}

} // namespace
