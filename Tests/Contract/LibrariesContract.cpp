// The contract of ILibraries: what LoadLibraryExW and GetProcAddress answer, held against the Win32
// layer and the doubles alike.
#include <gtest/gtest.h>

#include <string>

#include "ContractPlatform.h"
#include "Platform/Api/Platform.h"

namespace {

using namespace Qx::Testing;
using namespace Qx::Platform;

class LibrariesContract : public ContractTest {};

TEST_F(LibrariesContract, LoadsOfMissingFilesFailWithTheirOwnErrors)
{
    Library library;
    EXPECT_EQ(126u, Libraries().Load(L"QxNoSuchLibrary.dll", library));
    EXPECT_EQ(nullptr, library.get());
    EXPECT_EQ(2u, Libraries().LoadAsDataFile(L"QxNoSuchLibrary.dll", library));
    EXPECT_EQ(nullptr, library.get());
}

TEST_F(LibrariesContract, GetProcFindsPresentExportsOfLibrariesLoadedAsCode)
{
    const ExportingLibrary exporting = platform.LibraryWithExport();
    Library code;
    ASSERT_EQ(0u, Libraries().Load(exporting.path, code));
    EXPECT_NE(nullptr, Libraries().GetProc(code.get(), exporting.exportName));
    EXPECT_EQ(nullptr, Libraries().GetProc(code.get(), "QxNoSuchExport"));
}

TEST_F(LibrariesContract, ALibraryLoadedAsADataFileOffersNoCode)
{
    // Not loaded as code at the same time: a data-file load then hands out the code's handle.
    const ExportingLibrary exporting = platform.LibraryWithExport();
    Library data;
    ASSERT_EQ(0u, Libraries().LoadAsDataFile(exporting.path, data));
    ASSERT_NE(nullptr, data.get());
    EXPECT_EQ(nullptr, Libraries().GetProc(data.get(), exporting.exportName));
}

} // namespace
