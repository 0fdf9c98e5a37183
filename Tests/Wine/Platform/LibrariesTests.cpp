// Win32Libraries: code and data-file loads, the message library's tables, and freeing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Platform/Api/Platform.h"
#include "TestFiles.h"

namespace {

using Qx::Platform::Libraries;
using Qx::Platform::Library;
using Qx::Platform::Text;

constexpr std::uint32_t kServiceStartedMessage = 0x40010101;

TEST(Win32Libraries, LoadsOfMissingFilesFailWithTheirOwnErrors)
{
    Library library;
    EXPECT_EQ(126u, Libraries().Load(L"QxNoSuchLibrary.dll", library));
    EXPECT_EQ(nullptr, library.get());
    EXPECT_EQ(2u, Libraries().LoadAsDataFile(L"QxNoSuchLibrary.dll", library));
    EXPECT_EQ(nullptr, library.get());
}

TEST(Win32Libraries, MessageLibraryLoadedAsDataFileAnswersInEnglishAndGerman)
{
    Library messages;
    ASSERT_EQ(0u, Libraries().LoadAsDataFile(QxWineTest::ExecutableDirectory() + L"QxMessages.dll", messages));
    ASSERT_NE(nullptr, messages.get());

    std::wstring english;
    EXPECT_EQ(0u, Text().FormatMessage(Qx::Platform::kFormatMessageFromHModule, messages.get(), kServiceStartedMessage,
                                       0x409, english));
    EXPECT_EQ(L"The service %4 has started.\r\n", english);

    std::wstring german;
    EXPECT_EQ(0u, Text().FormatMessage(Qx::Platform::kFormatMessageFromHModule, messages.get(), kServiceStartedMessage,
                                       0x407, german));
    EXPECT_EQ(L"Der Dienst %4 wurde gestartet.\r\n", german);
}

TEST(Win32Libraries, GetProcOfAMissingExportIsNull)
{
    Library kernel;
    ASSERT_EQ(0u, Libraries().Load(L"kernel32.dll", kernel));
    EXPECT_NE(nullptr, Libraries().GetProc(kernel.get(), "GetCurrentProcessId"));
    EXPECT_EQ(nullptr, Libraries().GetProc(kernel.get(), "QxNoSuchExport"));
}

TEST(Win32Libraries, FreeingALibraryKeepsTheThreadsLastError)
{
    {
        Library ole;
        ASSERT_EQ(0u, Libraries().Load(L"ole32.dll", ole));
        SetLastError(0x12345678);
    }
    EXPECT_EQ(0x12345678u, GetLastError());

    {
        Library data;
        ASSERT_EQ(0u, Libraries().LoadAsDataFile(QxWineTest::ExecutableDirectory() + L"QxMessages.dll", data));
        SetLastError(0x12345678);
    }
    EXPECT_EQ(0x12345678u, GetLastError());
}

} // namespace
