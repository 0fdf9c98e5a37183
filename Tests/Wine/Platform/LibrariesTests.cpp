// Win32Libraries: the message library's tables and freeing. What loads and GetProc answer is held
// to its contract in Tests/Contract/LibrariesContract.cpp.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "DetachLastError.h"
#include "Platform/Api/Platform.h"
#include "TestFiles.h"

namespace {

using Qx::Platform::Libraries;
using Qx::Platform::Library;
using Qx::Platform::Text;

constexpr std::uint32_t kServiceStartedMessage = 0x40010101;

TEST(Win32Libraries, MessageLibraryLoadedAsDataFileAnswersInEnglishAndGerman)
{
    Library messages;
    ASSERT_EQ(0u, Libraries().LoadAsDataFile(Qx::Testing::ExecutableDirectory() + L"QxMessages.dll", messages));
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

// The library's entry point sets the last error as it is unloaded, which FreeLibrary passes on; the
// owner's Free must hand the caller's own error back. The library is loaded fresh, so that the free
// really unloads it and its detach runs.
TEST(Win32Libraries, FreeingALibraryKeepsTheThreadsLastError)
{
    const std::wstring path = Qx::Testing::ExecutableDirectory() + L"QxTestDetachError.dll";
    ASSERT_EQ(nullptr, GetModuleHandleW(path.c_str())) << "loaded already: a free would not unload it";
    volatile LONG detached = 0;
    {
        Library library;
        ASSERT_EQ(0u, Libraries().Load(path, library));
        const auto watchDetach =
            reinterpret_cast<void (*)(volatile LONG*)>(Libraries().GetProc(library.get(), "QxWatchDetach"));
        ASSERT_NE(nullptr, watchDetach);
        watchDetach(&detached);
        SetLastError(0x12345678);
    }
    const DWORD afterFree = GetLastError();

    EXPECT_EQ(1, detached) << "the library's detach did not run";
    EXPECT_EQ(nullptr, GetModuleHandleW(path.c_str())) << "still loaded";
    EXPECT_EQ(0x12345678u, afterFree) << "the detach set " << std::hex << QX_TEST_DETACH_ERROR;
}

} // namespace
