#include "FakeLibraries.h"

#include <gtest/gtest.h>

using namespace Qx::Testing;
using Qx::Platform::Library;

namespace {

int g_export;

TEST(FakeLibraries, AddingAPathAgainEmptiesItsModuleInPlace)
{
    FakeLibraries libraries;
    FakeModule& first = libraries.Add(L"C:\\Qx\\A.dll");
    first.exports["Export"] = &g_export;
    Library library;
    ASSERT_EQ(0u, libraries.Load(L"C:\\Qx\\A.dll", library));
    EXPECT_EQ(&first, library.get());
    EXPECT_EQ(&g_export, libraries.GetProc(library.get(), "Export"));

    FakeModule& again = libraries.Add(L"c:\\qx\\a.DLL");
    EXPECT_EQ(&first, &again);
    EXPECT_EQ(nullptr, libraries.GetProc(library.get(), "Export"));
}

TEST(FakeLibraries, EachSetOfDoublesHasModulesOfItsOwn)
{
    FakeLibraries one;
    FakeLibraries other;
    EXPECT_NE(&one.Add(L"C:\\Qx\\A.dll"), &other.Add(L"C:\\Qx\\A.dll"));
}

TEST(FakeLibraries, ADataFileHandleStandsForItsModule)
{
    FakeLibraries libraries;
    FakeModule& module = libraries.Add(L"C:\\Qx\\Messages.dll");
    Library library;
    ASSERT_EQ(0u, libraries.LoadAsDataFile(L"C:\\Qx\\Messages.dll", library));
    EXPECT_NE(&module, library.get());
    EXPECT_EQ(&module, ModuleOfHandle(library.get()));
    EXPECT_EQ(&module, ModuleOfHandle(&module));
}

} // namespace
