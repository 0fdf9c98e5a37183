#include "RecordingLogger.h"

#include <algorithm>
#include <chrono>

#include "AllocationCount.h"
#include "ResKit/Logger/LogUtils.h"

namespace Qx::Testing {

std::function<IFileLoggerItf*()> g_fakeLoggerFactory;

namespace {

IFileLoggerItf* FakeLoggerLibGetLogger(void*)
{
    return g_fakeLoggerFactory ? g_fakeLoggerFactory() : nullptr;
}

const LoggerLevelMask* FakeLoggerLibGetLevelMask(IFileLoggerItf* logger)
{
    auto* recording = dynamic_cast<RecordingLogger*>(logger);
    return recording != nullptr ? &recording->publishedMask : nullptr;
}

} // namespace

RecordingLogger::RecordingLogger(int maxLevel, int* destroyedCount)
    : maxEnabledLevel(maxLevel), m_destroyedCount(destroyedCount)
{
}

RecordingLogger::~RecordingLogger()
{
    if (m_destroyedCount != nullptr) {
        ++*m_destroyedCount;
    }
}

HRESULT RecordingLogger::Init(const wchar_t* logName, const wchar_t* title, bool flag,
                              LogUtils::SModuleLogInit* settings)
{
    std::lock_guard lock(m_lock);
    const auto* block = reinterpret_cast<const LogUtils::SModuleLogInitData*>(settings);
    inits.push_back({logName, title, flag, *block, block});
    return kSOk;
}

HRESULT RecordingLogger::Write(const wchar_t* sourceFile, int line, const wchar_t* text, int level,
                               const wchar_t* severity)
{
    const UncountedAllocations bookkeeping;
    std::lock_guard lock(m_lock);
    records.push_back({sourceFile, line, text, level, severity, indent});
    m_written.notify_all();
    return kSOk;
}

void RecordingLogger::ChangeIndent(int delta)
{
    std::lock_guard lock(m_lock);
    indent += delta;
    indentChanges.push_back(delta);
}

bool RecordingLogger::IsEnabled(int level)
{
    std::lock_guard lock(m_lock);
    ++isEnabledCalls;
    return (level >= 1 && level <= maxEnabledLevel) ||
           std::find(alsoEnabled.begin(), alsoEnabled.end(), level) != alsoEnabled.end();
}

bool RecordingLogger::WaitFor(const std::wstring& prefix, std::uint32_t milliseconds)
{
    std::unique_lock lock(m_lock);
    return m_written.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
        return std::any_of(records.begin(), records.end(),
                           [&](const LoggedRecord& record) { return record.text.starts_with(prefix); });
    });
}

std::vector<std::wstring> RecordingLogger::Texts() const
{
    std::vector<std::wstring> texts;
    for (const auto& record : records) {
        texts.push_back(record.text);
    }
    return texts;
}

bool RecordingLogger::Contains(const std::wstring& text) const
{
    return std::any_of(records.begin(), records.end(), [&](const LoggedRecord& r) { return r.text == text; });
}

const LoggedRecord* RecordingLogger::Find(const std::wstring& prefix) const
{
    for (const auto& record : records) {
        if (record.text.starts_with(prefix)) {
            return &record;
        }
    }
    return nullptr;
}

ScopedLogger::ScopedLogger(IFileLoggerItf& logger, const LoggerLevelMask* levelMask)
    : m_previous(LogUtils::ExchangeLogger(&logger, levelMask))
{
}

ScopedLogger::~ScopedLogger()
{
    LogUtils::ExchangeLogger(m_previous);
}

void AddFakeLoggerLibrary(FakeLibraries& libraries, FakeLevelMask levelMask)
{
    FakeModule& library = libraries.Add(L"C:\\Program Files\\Qx\\QxLogger.dll");
    library.exports[kLoggerLibGetLoggerExport] = reinterpret_cast<void*>(&FakeLoggerLibGetLogger);
    if (levelMask == FakeLevelMask::Exported) {
        library.exports[kLoggerLibGetLevelMaskExport] = reinterpret_cast<void*>(&FakeLoggerLibGetLevelMask);
    }
}

} // namespace Qx::Testing
