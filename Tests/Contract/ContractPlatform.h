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

namespace Qx::Contract {

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

// Where a contract check stands, so that its failure is reported at that line. Not
// std::source_location: libstdc++ builds that on a builtin Clang 14 lacks, and the native build
// compiles with Clang too. The builtins in Here's default arguments take the caller's place.
struct CheckSite {
    const char* file;
    int line;

    static CheckSite Here(const char* file = __builtin_FILE(), int line = __builtin_LINE()) { return {file, line}; }
};

// Whether the contract runs on Wine, whose answers differ from Windows in places.
bool RunningOnWine();

// For an answer Wine is known to give otherwise: windowsBehaviour holds on Windows and for the
// doubles, and fails on Wine, which does what difference says instead.
void ExpectWindowsBehaviour(const ::testing::AssertionResult& windowsBehaviour, std::string_view difference,
                            CheckSite where = CheckSite::Here());

} // namespace Qx::Contract
