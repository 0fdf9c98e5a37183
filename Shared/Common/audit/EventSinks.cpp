#include "Common/audit/EventSinks.h"

#include <cstdio>
#include <vector>

#include "Common/ProductInfo.h"
#include "ResKit/Logger/HRXEx.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

constexpr std::size_t kMaxInsertionStrings = 0xFFFF;

template <class Function>
Function FindExport(NativeHandle library, const char* name)
{
    return reinterpret_cast<Function>(Libraries().GetProc(library, name));
}

template <class Function>
Function RequireExport(NativeHandle library, const char* name)
{
    const auto function = FindExport<Function>(library, name);
    if (function == nullptr) {
        // A lookup that left no error behind must still fail: the host would call through null.
        const Win32Error error = Process().LastError();
        RaiseWin32(error != kErrorSuccess ? error : kErrorProcNotFound);
    }
    return function;
}

// The insertion strings as the libraries take them: a count and an array, null when empty. The
// count is 16 bits wide; more strings than it can state are refused rather than cut off unseen.
class InsertionStrings {
public:
    explicit InsertionStrings(const EventRecord& event) : m_strings(event.StringArray())
    {
        if (m_strings.size() > kMaxInsertionStrings) {
            RaiseWithErrorInfo(kEInvalidArg, nullptr);
        }
    }

    [[nodiscard]] std::uint16_t Count() const { return static_cast<std::uint16_t>(m_strings.size()); }
    [[nodiscard]] const wchar_t** Array() { return m_strings.empty() ? nullptr : m_strings.data(); }

private:
    std::vector<const wchar_t*> m_strings;
};

// The libraries only read the SID; their contracts merely lack the const.
void* SidArgument(const EventRecord& event)
{
    return const_cast<void*>(event.UserSid().LibraryArgument());
}

const wchar_t* TypeName(std::uint16_t type)
{
    switch (type) {
    case 0:
        return L"Success";
    case 1:
        return L"Error";
    case 2:
        return L"Warning";
    case 4:
        return L"Information";
    case 8:
        return L"SuccessAudit";
    case 16:
        return L"FailureAudit";
    default:
        return L"Unknown";
    }
}

} // namespace

CEventLogReporter::CEventLogReporter(const std::wstring& registryRoot, const std::wstring& sourceName,
                                     const std::wstring& initParam)
{
    Library library;
    RaiseWin32(Libraries().Load(ProductLibraryPath(registryRoot, kLibraryName), library));
    const auto initialize = RequireExport<ErInitializeFunction>(library.get(), "ErInitialize");
    RaiseIfFailed(initialize(sourceName.c_str(), initParam.c_str()));
    try {
        m_reportEvent = RequireExport<ErReportEvent3Function>(library.get(), "ErReportEvent3");
    } catch (const HRXEx&) {
        // Initialised, so shut down before it is unloaded, as a library that reports would be.
        if (const auto shutdown = FindExport<ErShutdownFunction>(library.get(), "ErShutdown")) {
            shutdown();
        }
        throw;
    }
    m_module = std::move(library);
}

CEventLogReporter::~CEventLogReporter()
{
    if (const auto shutdown = FindExport<ErShutdownFunction>(m_module.get(), "ErShutdown")) {
        shutdown();
    }
}

void CEventLogReporter::Report(const EventRecord& event, bool alert)
{
    InsertionStrings strings(event);
    RaiseIfFailed(m_reportEvent(event.Type(), event.Category(), event.EventId(), SidArgument(event), strings.Count(),
                                strings.Array(), alert ? 1u : 0u, event.ExtraParam()));
}

std::shared_ptr<CEventAgentReporter> CEventAgentReporter::Create(const std::wstring& registryRoot,
                                                                 const std::wstring& sourceName)
{
    const std::wstring path = ProductLibraryPath(registryRoot, kLibraryName);
    Library library;
    const Win32Error loadError = Libraries().Load(path, library);
    if (loadError == kErrorFileNotFound || loadError == kErrorPathNotFound || loadError == kErrorModNotFound) {
        return nullptr;
    }
    RaiseWin32(loadError);

    std::shared_ptr<CEventAgentReporter> reporter(new CEventAgentReporter());
    const auto registerSource = RequireExport<EcRegisterEventSourceFunction>(library.get(), "EcRegisterEventSource");
    const auto writeEvent = RequireExport<EcWriteEventFunction>(library.get(), "EcWriteEvent");
    // Only a successful registration hands a handle that is ours to deregister.
    void* sourceHandle = nullptr;
    RaiseIfFailed(registerSource(sourceName.c_str(), &sourceHandle));
    reporter->m_writeEvent = writeEvent;
    reporter->m_sourceHandle = sourceHandle;
    reporter->m_module = std::move(library);
    return reporter;
}

CEventAgentReporter::~CEventAgentReporter()
{
    if (!m_module || m_sourceHandle == nullptr) {
        return;
    }
    if (const auto deregister =
            FindExport<EcDeregisterEventSourceFunction>(m_module.get(), "EcDeregisterEventSource")) {
        deregister(m_sourceHandle);
    }
}

void CEventAgentReporter::Report(const EventRecord& event, bool)
{
    InsertionStrings strings(event);
    RaiseIfFailed(m_writeEvent(m_sourceHandle, event.Type(), event.Category(), event.EventId(), SidArgument(event),
                               strings.Count(), 0, strings.Array(), nullptr, 0));
}

void CRawDumpToLogReporter::Report(const EventRecord& event, bool alert)
{
    const int severity = alert ? LogUtils::kSeverityInfo : LogUtils::kSeverityDbg;
    wchar_t header[64];
    std::swprintf(header, std::size(header), L"] Type=%ls Category=0x%02X Id=0x%08X%ls", TypeName(event.Type()),
                  static_cast<unsigned>(event.Category()), static_cast<unsigned>(event.EventId()),
                  alert ? L" (ALERT)" : L"");
    const std::wstring headerText = L"Event: [" + m_sourceName + header;
    QX_LOG_AT(1, severity, headerText);

    const auto strings = event.StringArray();
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (strings[i] == nullptr) {
            continue;
        }
        const std::wstring line = L"       %" + std::to_wstring(i + 1) + L"=" + strings[i];
        QX_LOG_AT(1, severity, line);
    }
}
