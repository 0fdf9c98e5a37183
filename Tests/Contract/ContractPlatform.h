// What each build of the contract tests brings: the platform under test, installed for one test,
// and the few things the platform interfaces do not offer (writing registry values, a library). The contract
// sources state what Windows answers; ContractPlatformDoubles.cpp runs them on the doubles, which
// must answer the same, and ContractPlatformWin32.cpp on the Win32 layer under Windows or Wine.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "CheckSite.h"

namespace Qx::Testing {

// A library of the build, loadable by its path, not loaded yet, that exports exportName.
struct ExportingLibrary {
    std::wstring path;
    const char* exportName;
};

class ContractPlatform {
public:
    ContractPlatform();
    ContractPlatform(const ContractPlatform&) = delete;
    ContractPlatform& operator=(const ContractPlatform&) = delete;
    ~ContractPlatform();

    // A key of this test alone directly below HKLM\SOFTWARE, existing and empty; it goes, with
    // everything below it, when the platform does.
    std::wstring CreateScratchKey();
    // RegSetValueExW into a key that exists: a REG_SZ with its terminating NUL, a REG_QWORD.
    void SetString(const std::wstring& path, const wchar_t* name, const std::wstring& text);
    void SetQword(const std::wstring& path, const wchar_t* name, std::uint64_t value);
    [[nodiscard]] ExportingLibrary LibraryWithExport();

    // Whether the contract runs on Wine, whose answers differ from Windows in places.
    [[nodiscard]] static bool RunningOnWine();
    // For an answer Wine is known to give otherwise: windowsBehaviour holds on Windows and for the
    // doubles, and fails on Wine, which does what difference says instead.
    static void ExpectWindowsBehaviour(const ::testing::AssertionResult& windowsBehaviour, std::string_view difference,
                                       CheckSite where = CheckSite::Here());

private:
    struct State;
    std::unique_ptr<State> m_state;
    std::wstring m_scratchKey;
};

// The fixture of every contract test: the platform under test for the length of one test.
class ContractTest : public ::testing::Test {
protected:
    ContractPlatform platform;
};

} // namespace Qx::Testing
