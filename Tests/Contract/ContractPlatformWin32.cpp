// The contract tests' platform in the Windows build: the Win32 layer, which is the platform of a
// Windows binary from the start, on the real registry of Windows or Wine.
#include <windows.h>

#include "ContractPlatform.h"
#include "Platform/Win32/UniqueWin32Handles.h"
#include "TestFiles.h"
#include "WineDifferences.h"

namespace Qx::Testing {

namespace {

using Qx::Platform::UniqueRegKey;

void SetValue(const std::wstring& path, const wchar_t* name, DWORD type, const void* data, std::size_t size)
{
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, key.out()));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)));
}

} // namespace

struct ContractPlatform::State {};

ContractPlatform::ContractPlatform() = default;

ContractPlatform::~ContractPlatform()
{
    if (m_scratchKey.empty()) {
        return;
    }
    // With a subkey name, RegDeleteTreeW removes that key itself too.
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_scratchKey.c_str()));
    UniqueRegKey gone;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_scratchKey.c_str(), 0, KEY_READ, gone.out()));
}

std::wstring ContractPlatform::CreateScratchKey()
{
    // Volatile, so that a run that dies leaves nothing lasting, and directly below SOFTWARE, which
    // exists: a volatile key creates its missing parents volatile too, and a volatile SOFTWARE\Qx
    // left behind would refuse the lasting keys other tests create there.
    m_scratchKey = L"SOFTWARE\\QxContract_" + std::to_wstring(GetCurrentProcessId());
    UniqueRegKey key;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_scratchKey.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, key.out(), nullptr));
    return m_scratchKey;
}

// The Win32 build keeps no state of its own for these; the doubles' build of the same members uses
// its doubles, so they stay members.
// NOLINTBEGIN(readability-convert-member-functions-to-static)
void ContractPlatform::SetString(const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    SetValue(path, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

void ContractPlatform::SetQword(const std::wstring& path, const wchar_t* name, std::uint64_t value)
{
    SetValue(path, name, REG_QWORD, &value, sizeof(value));
}

ExportingLibrary ContractPlatform::LibraryWithExport()
{
    return {Qx::Testing::ExecutableDirectory() + L"QxTestModuleA.dll", "SmInitialize"};
}
// NOLINTEND(readability-convert-member-functions-to-static)

bool ContractPlatform::RunningOnWine()
{
    return Qx::Testing::RunningOnWine();
}

void ContractPlatform::ExpectWindowsBehaviour(const ::testing::AssertionResult& windowsBehaviour,
                                              std::string_view difference, CheckSite where)
{
    Qx::Testing::ExpectWindowsBehaviour(windowsBehaviour, difference, where);
}

} // namespace Qx::Testing
