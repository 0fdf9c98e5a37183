// Win32Libraries::RestrictSearchToSafeFolders: afterwards a library named without a path is found
// beside the executable and in System32, but no longer in the current folder, a PATH folder or the
// Windows folder. The restriction holds for the whole process and cannot be undone, so these tests
// run in an executable of their own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/Api/Platform.h"
#include "TestFiles.h"
#include "WineDifferences.h"

using namespace Qx::Testing;

namespace {

using Qx::Platform::Libraries;
using Qx::Platform::Library;

constexpr std::uint32_t kModNotFound = 126;
// A small test module; its copies under other names stand for planted libraries.
constexpr const wchar_t* kTestModule = L"QxTestModuleA.dll";
// A system library this process does not load by itself.
constexpr const wchar_t* kSystemLibrary = L"winhttp.dll";

// Windows paths compare without regard to case.
::testing::AssertionResult SamePath(const std::wstring& expected, const std::wstring& actual)
{
    if (EqualIgnoringCase(expected, actual)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "expected " << ToUtf8(expected) << ", loaded \"" << ToUtf8(actual) << "\"";
}

std::wstring WindowsFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length) + L"\\";
}

std::wstring CurrentFolder()
{
    std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
    folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    return folder;
}

std::wstring PathVariable()
{
    std::wstring value(GetEnvironmentVariableW(L"PATH", nullptr, 0), L'\0');
    value.resize(GetEnvironmentVariableW(L"PATH", value.data(), static_cast<DWORD>(value.size())));
    return value;
}

// Copies of the test module in the current folder, a PATH folder, the Windows folder and beside the
// executable, each under a name of its own, so that no copy can stand in for another. The current
// folder and the PATH of the process are changed for the test and put back afterwards, and every
// copy and folder is removed, whatever the outcome.
class LibrarySearch : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::wstring tag = std::to_wstring(GetCurrentProcessId());
        m_currentFolder = MakeFolder(L"QxLibrarySearch-" + tag + L"-current\\");
        m_pathFolder = MakeFolder(L"QxLibrarySearch-" + tag + L"-path\\");
        m_inCurrentFolder = Plant(m_currentFolder, L"QxPlantedCurrent" + tag + L".dll");
        m_inPathFolder = Plant(m_pathFolder, L"QxPlantedPath" + tag + L".dll");
        m_inWindowsFolder = Plant(WindowsFolder(), L"QxPlantedWindows" + tag + L".dll");
        m_besideExecutable = Plant(ExecutableDirectory(), L"QxBesideExecutable" + tag + L".dll");

        m_savedCurrentFolder = CurrentFolder();
        m_savedPath = PathVariable();
        ASSERT_TRUE(SetCurrentDirectoryW(m_currentFolder.c_str())) << GetLastError();
        ASSERT_TRUE(SetEnvironmentVariableW(L"PATH", (m_pathFolder + L";" + m_savedPath).c_str())) << GetLastError();
    }

    void TearDown() override
    {
        if (!m_savedCurrentFolder.empty()) {
            EXPECT_TRUE(SetCurrentDirectoryW(m_savedCurrentFolder.c_str())) << GetLastError();
            EXPECT_TRUE(SetEnvironmentVariableW(L"PATH", m_savedPath.c_str())) << GetLastError();
        }
        for (const std::wstring& file : m_files) {
            EXPECT_TRUE(DeleteFileW(file.c_str())) << ToUtf8(file) << ": " << GetLastError();
        }
        for (const std::wstring& folder : m_folders) {
            EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << ToUtf8(folder) << ": " << GetLastError();
        }
    }

    std::wstring MakeFolder(const std::wstring& name)
    {
        std::wstring folder = ExecutableDirectory() + name;
        EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << ToUtf8(folder) << ": " << GetLastError();
        m_folders.insert(m_folders.begin(), folder);
        return folder;
    }

    // Copies the test module into folder as name and returns the name.
    std::wstring Plant(const std::wstring& folder, const std::wstring& name)
    {
        const std::wstring path = folder + name;
        if (CopyFileW((ExecutableDirectory() + kTestModule).c_str(), path.c_str(), TRUE) != 0) {
            m_files.push_back(path);
        } else {
            ADD_FAILURE() << ToUtf8(path) << ": " << GetLastError();
        }
        return name;
    }

    // Loads name and gives the load's error and the file the library came from.
    static std::uint32_t Load(const std::wstring& name, std::wstring& loadedFrom)
    {
        Library library;
        const std::uint32_t error = Libraries().Load(name, library);
        loadedFrom = library ? ModulePath(static_cast<HMODULE>(library.get())) : std::wstring();
        return error;
    }

    std::wstring m_currentFolder;
    std::wstring m_pathFolder;
    std::wstring m_inCurrentFolder;
    std::wstring m_inPathFolder;
    std::wstring m_inWindowsFolder;
    std::wstring m_besideExecutable;

private:
    std::wstring m_savedCurrentFolder;
    std::wstring m_savedPath;
    std::vector<std::wstring> m_files;
    std::vector<std::wstring> m_folders;
};

TEST_F(LibrarySearch, BareNamesAreFoundOnlyBesideTheExecutableAndInSystem32)
{
    // The system's own order finds every copy: the planted ones are within its reach.
    std::wstring loadedFrom;
    EXPECT_EQ(0u, Load(m_inCurrentFolder, loadedFrom));
    EXPECT_TRUE(SamePath(m_currentFolder + m_inCurrentFolder, loadedFrom));
    EXPECT_EQ(0u, Load(m_inPathFolder, loadedFrom));
    EXPECT_TRUE(SamePath(m_pathFolder + m_inPathFolder, loadedFrom));
    EXPECT_EQ(0u, Load(m_inWindowsFolder, loadedFrom));
    EXPECT_TRUE(SamePath(WindowsFolder() + m_inWindowsFolder, loadedFrom));

    ASSERT_EQ(0u, Libraries().RestrictSearchToSafeFolders());

    EXPECT_EQ(kModNotFound, Load(m_inCurrentFolder, loadedFrom)) << ToUtf8(loadedFrom);
    EXPECT_EQ(kModNotFound, Load(m_inPathFolder, loadedFrom)) << ToUtf8(loadedFrom);
    EXPECT_EQ(kModNotFound, Load(m_inWindowsFolder, loadedFrom)) << ToUtf8(loadedFrom);
    EXPECT_EQ(0u, Load(m_besideExecutable, loadedFrom));
    EXPECT_TRUE(SamePath(ExecutableDirectory() + m_besideExecutable, loadedFrom));
    ASSERT_EQ(nullptr, GetModuleHandleW(kSystemLibrary)) << "already loaded, found whatever the search";
    EXPECT_EQ(0u, Load(kSystemLibrary, loadedFrom));
    EXPECT_TRUE(SamePath(WindowsFolder() + L"system32\\" + kSystemLibrary, loadedFrom));

    // None of a data file's code runs; the host names only its message library without a path, and
    // only when it has no registry root.
    Library data;
    const std::uint32_t dataError = Libraries().LoadAsDataFile(m_inCurrentFolder, data);
    // On Windows the default directories hold for data files too.
    ExpectWindowsBehaviour(dataError != 0, "a data file named without a path is still found in the current folder");
    if (RunningOnWine()) {
        EXPECT_EQ(0u, dataError);
    }

    // A full path is taken as it is, wherever it points.
    EXPECT_EQ(0u, Load(m_currentFolder + m_inCurrentFolder, loadedFrom));
    EXPECT_TRUE(SamePath(m_currentFolder + m_inCurrentFolder, loadedFrom));
}

} // namespace
