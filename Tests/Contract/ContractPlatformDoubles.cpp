// The contract tests' platform in the native build: a fresh set of doubles for each test, held to
// what Windows answers.
#include "ContractPlatform.h"

#include "FakePlatform.h"

namespace Qx::Testing {

struct ContractPlatform::State {
    Testing::FakePlatform doubles;
};

ContractPlatform::ContractPlatform() : m_state(std::make_unique<State>()) {}

ContractPlatform::~ContractPlatform() = default;

std::wstring ContractPlatform::CreateScratchKey()
{
    m_scratchKey = L"SOFTWARE\\QxContract";
    m_state->doubles.registry.CreateKey(m_scratchKey);
    return m_scratchKey;
}

void ContractPlatform::SetString(const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    m_state->doubles.registry.SetString(path, name, text);
}

void ContractPlatform::SetQword(const std::wstring& path, const wchar_t* name, std::uint64_t value)
{
    m_state->doubles.registry.SetQword(path, name, value);
}

ExportingLibrary ContractPlatform::LibraryWithExport()
{
    static int entryPoint = 0;
    ExportingLibrary library{L"C:\\Program Files\\Qx\\QxContractModule.dll", "SmInitialize"};
    m_state->doubles.libraries.Add(library.path).exports[library.exportName] = &entryPoint;
    return library;
}

bool ContractPlatform::RunningOnWine()
{
    return false;
}

void ContractPlatform::ExpectWindowsBehaviour(const ::testing::AssertionResult& windowsBehaviour, std::string_view,
                                              CheckSite where)
{
    // The doubles stand for Windows: what Wine does differently is no excuse for them.
    if (!windowsBehaviour) {
        ADD_FAILURE_AT(where.file, where.line) << windowsBehaviour.message();
    }
}

} // namespace Qx::Testing
