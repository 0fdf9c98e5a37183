// The logger contract's operations sit at the slots of the virtual table where a library built by
// Microsoft's compiler has them: each slot is called here by its number, as that library's caller
// would, and must reach the operation of that number.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "ResKit/Logger/LoggerItf.h"

namespace {

// Records which operation ran; slot 0 only records, so that the object outlives the call.
class SlotRecorder final : public IFileLoggerItf, public ILogSettings {
public:
    void* DeletingDestructor(unsigned int flags) noexcept override
    {
        called = "DeletingDestructor " + std::to_string(flags);
        return this;
    }
    HRESULT Init(const wchar_t*, const wchar_t*, bool, LogUtils::SModuleLogInit*) override { return Record("Init"); }
    void Reserved() override { Record("Reserved"); }
    HRESULT Write(const wchar_t*, int, const wchar_t*, int, const wchar_t*) override { return Record("Write"); }
    void ChangeIndent(int) override { Record("ChangeIndent"); }
    bool IsEnabled(int) override { return Record("IsEnabled") == 0; }
    ILogSettings& GetSettings() override
    {
        Record("GetSettings");
        return *this;
    }
    const wchar_t* Value1() const override { return L"Value1"; }
    const wchar_t* Value2() const override { return L"Value2"; }
    int Number1() const override { return 1; }
    int Number2() const override { return 2; }

    std::string called;

private:
    HRESULT Record(const char* operation)
    {
        called = operation;
        return 0;
    }
};

// Calls entry `slot` of the table the interface pointer leads to, as a function taking the object
// first, which is how both compilers pass it on x64.
template <typename Result, typename... Args>
Result CallSlot(const void* object, std::size_t slot, Args... args)
{
    using Entry = Result (*)(const void*, Args...);
    const void* const* table = nullptr;
    std::memcpy(&table, object, sizeof(table));
    Entry entry = nullptr;
    std::memcpy(&entry, &table[slot], sizeof(entry));
    return entry(object, args...);
}

TEST(LoggerContractTest, EachLoggerOperationSitsAtItsSlot)
{
    SlotRecorder recorder;
    const IFileLoggerItf* logger = &recorder;
    const struct {
        std::size_t slot;
        void (*call)(const void*, std::size_t);
        const char* operation;
    } slots[] = {
        {0, [](const void* o, std::size_t s) { CallSlot<void*>(o, s, 1u); }, "DeletingDestructor 1"},
        {1, [](const void* o, std::size_t s) { CallSlot<HRESULT>(o, s, L"a.log", L"Module log", true, nullptr); },
         "Init"},
        {2, [](const void* o, std::size_t s) { CallSlot<void>(o, s); }, "Reserved"},
        {3, [](const void* o, std::size_t s) { CallSlot<HRESULT>(o, s, L"f.cpp", 1, L"text", 1, L"INFO"); }, "Write"},
        {4, [](const void* o, std::size_t s) { CallSlot<void>(o, s, -1); }, "ChangeIndent"},
        {5, [](const void* o, std::size_t s) { CallSlot<bool>(o, s, 1); }, "IsEnabled"},
        {6, [](const void* o, std::size_t s) { CallSlot<ILogSettings*>(o, s); }, "GetSettings"},
    };
    for (const auto& entry : slots) {
        recorder.called.clear();
        entry.call(logger, entry.slot);
        EXPECT_EQ(recorder.called, entry.operation) << "slot " << entry.slot;
    }
}

TEST(LoggerContractTest, EachSettingsQuerySitsAtItsSlot)
{
    SlotRecorder recorder;
    const ILogSettings* settings = &recorder;
    CallSlot<void*>(settings, 0, 0u);
    EXPECT_EQ(recorder.called, "DeletingDestructor 0");
    EXPECT_EQ(std::wstring(CallSlot<const wchar_t*>(settings, 1)), L"Value1");
    EXPECT_EQ(std::wstring(CallSlot<const wchar_t*>(settings, 2)), L"Value2");
    EXPECT_EQ(CallSlot<int>(settings, 3), 1);
    EXPECT_EQ(CallSlot<int>(settings, 4), 2);
}

} // namespace
