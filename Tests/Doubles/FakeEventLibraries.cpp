#include "FakeEventLibraries.h"

namespace Qx::Testing {

namespace {

EventLibraryCall Call(std::string name)
{
    EventLibraryCall call;
    call.name = std::move(name);
    return call;
}

std::vector<std::optional<std::wstring>> CopyStrings(std::uint16_t count, const wchar_t** strings)
{
    std::vector<std::optional<std::wstring>> copies;
    for (std::uint16_t i = 0; strings != nullptr && i < count; ++i) {
        copies.push_back(strings[i] != nullptr ? std::optional<std::wstring>(strings[i]) : std::nullopt);
    }
    return copies;
}

// What an event report carries in both libraries' calls.
struct ReportedEvent {
    std::uint16_t type;
    std::uint16_t category;
    std::uint32_t eventId;
    void* sid;
    std::uint16_t numStrings;
    const wchar_t** strings;
};

EventLibraryCall ReportCall(std::string name, const ReportedEvent& event)
{
    EventLibraryCall call = Call(std::move(name));
    call.type = event.type;
    call.category = event.category;
    call.eventId = event.eventId;
    call.sid = event.sid;
    call.numStrings = event.numStrings;
    call.nullArray = event.strings == nullptr;
    call.strings = CopyStrings(event.numStrings, event.strings);
    return call;
}

HRESULT ResultOf(HRESULT FakeEventLibraryState::*result)
{
    auto& state = EventLibraries();
    std::lock_guard guard(state.lock);
    return state.*result;
}

HRESULT ErInitialize(const wchar_t* sourceName, const wchar_t* initParam)
{
    EventLibraryCall call = Call("ErInitialize");
    call.sourceName = sourceName;
    call.initParam = initParam;
    EventLibraries().Record(std::move(call));
    return ResultOf(&FakeEventLibraryState::initializeResult);
}

HRESULT ErReportEvent3(std::uint16_t type, std::uint16_t category, std::uint32_t eventId, void* sid,
                       std::uint16_t numStrings, const wchar_t** strings, std::uint32_t alert, std::uint32_t extraParam)
{
    EventLibraryCall call = ReportCall("ErReportEvent3", {type, category, eventId, sid, numStrings, strings});
    call.alert = alert;
    call.extraParam = extraParam;
    auto& state = EventLibraries();
    state.Record(std::move(call));
    std::function<void()> during;
    {
        std::lock_guard guard(state.lock);
        during = state.duringReport;
    }
    if (during) {
        during();
    }
    return ResultOf(&FakeEventLibraryState::reportResult);
}

void ErShutdown()
{
    EventLibraries().Record(Call("ErShutdown"));
}

HRESULT EcRegisterEventSource(const wchar_t* sourceName, void** handle)
{
    EventLibraryCall call = Call("EcRegisterEventSource");
    call.sourceName = sourceName;
    EventLibraries().Record(std::move(call));
    const HRESULT result = ResultOf(&FakeEventLibraryState::registerResult);
    if (!Failed(result)) {
        *handle = FakeEventLibraryState::kSourceHandle;
    }
    return result;
}

HRESULT EcWriteEvent(void* handle, std::uint16_t type, std::uint16_t category, std::uint32_t eventId, void* sid,
                     std::uint16_t numStrings, std::uint32_t zero, const wchar_t** strings, void* nullData,
                     std::uint64_t zero64)
{
    EventLibraryCall call = ReportCall("EcWriteEvent", {type, category, eventId, sid, numStrings, strings});
    call.handle = handle;
    call.zero = zero;
    call.nullData = nullData;
    call.zero64 = zero64;
    EventLibraries().Record(std::move(call));
    return ResultOf(&FakeEventLibraryState::writeResult);
}

void EcDeregisterEventSource(void* handle)
{
    EventLibraryCall call = Call("EcDeregisterEventSource");
    call.handle = handle;
    EventLibraries().Record(std::move(call));
}

} // namespace

void FakeEventLibraryState::Reset()
{
    std::lock_guard guard(lock);
    calls.clear();
    initializeResult = kSOk;
    reportResult = kSOk;
    registerResult = kSOk;
    writeResult = kSOk;
    duringReport = nullptr;
}

void FakeEventLibraryState::Record(EventLibraryCall call)
{
    std::lock_guard guard(lock);
    calls.push_back(std::move(call));
}

FakeEventLibraryState& EventLibraries()
{
    static FakeEventLibraryState state;
    return state;
}

FakeModule& AddFakeEventReporter(FakeLibraries& libraries, const std::wstring& path)
{
    FakeModule& module = libraries.Add(path);
    module.exports["ErInitialize"] = reinterpret_cast<void*>(&ErInitialize);
    module.exports["ErReportEvent3"] = reinterpret_cast<void*>(&ErReportEvent3);
    module.exports["ErShutdown"] = reinterpret_cast<void*>(&ErShutdown);
    return module;
}

FakeModule& AddFakeEventAgent(FakeLibraries& libraries, const std::wstring& path)
{
    FakeModule& module = libraries.Add(path);
    module.exports["EcRegisterEventSource"] = reinterpret_cast<void*>(&EcRegisterEventSource);
    module.exports["EcWriteEvent"] = reinterpret_cast<void*>(&EcWriteEvent);
    module.exports["EcDeregisterEventSource"] = reinterpret_cast<void*>(&EcDeregisterEventSource);
    return module;
}

} // namespace Qx::Testing
