// A logger that keeps what it is given, and the fake logger library that hands it out.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "ResKit/Logger/LogUtils.h"

namespace Qx::Testing {

struct LoggedRecord {
    std::wstring sourceFile;
    int line;
    std::wstring text;
    int level;
    std::wstring severity;
    int indent; // the logger's indentation when the record arrived
};

struct LoggerInitCall {
    std::wstring logName;
    std::wstring title;
    bool flag;
    LogUtils::SModuleLogInitData block;
    const void* blockAddress;
};

class RecordingLogger final : public IFileLoggerItf {
public:
    explicit RecordingLogger(int maxLevel = 3, int* destroyedCount = nullptr);
    RecordingLogger(const RecordingLogger&) = delete;
    RecordingLogger& operator=(const RecordingLogger&) = delete;
    ~RecordingLogger();

    void* DeletingDestructor(unsigned int flags) noexcept override { return DeletingDestructorOf(this, flags); }

    HRESULT Init(const wchar_t* logName, const wchar_t* title, bool flag, LogUtils::SModuleLogInit* settings) override;
    void Reserved() override {}
    HRESULT Write(const wchar_t* sourceFile, int line, const wchar_t* text, int level,
                  const wchar_t* severity) override;
    void ChangeIndent(int delta) override;
    bool IsEnabled(int level) override;
    ILogSettings& GetSettings() override { return m_settings; }

    // Enabled levels: 1 to maxEnabledLevel, plus any listed here.
    std::vector<int> alsoEnabled;
    int maxEnabledLevel;
    std::vector<LoggedRecord> records;
    std::vector<int> indentChanges;
    std::vector<LoggerInitCall> inits;
    int isEnabledCalls = 0;
    int indent = 0;
    // The word the fake library publishes for this object when it exports LoggerLibAPI_GetLevelMask;
    // tests keep it to what IsEnabled answers.
    LoggerLevelMask publishedMask{0};

    // Waits until a record starting with prefix has arrived; false on time-out. The records may be
    // read directly only while no other thread logs.
    bool WaitFor(const std::wstring& prefix, std::uint32_t milliseconds);

    [[nodiscard]] std::vector<std::wstring> Texts() const;
    [[nodiscard]] bool Contains(const std::wstring& text) const;
    // The first record whose text starts with prefix, or null.
    [[nodiscard]] const LoggedRecord* Find(const std::wstring& prefix) const;

private:
    std::mutex m_lock;
    std::condition_variable m_written;
    int* m_destroyedCount;
    LogUtils::EmptyLogSettings m_settings;
};

// Installs logger as the process's logger for the scope, with the mask word its library would
// publish (none: the logger is asked about every level), and puts the previous one back.
class ScopedLogger {
public:
    explicit ScopedLogger(IFileLoggerItf& logger, const LoggerLevelMask* levelMask = nullptr);
    ScopedLogger(const ScopedLogger&) = delete;
    ScopedLogger& operator=(const ScopedLogger&) = delete;
    ~ScopedLogger();

private:
    IFileLoggerItf* m_previous;
};

// The fake QxLogger.dll beside FakeProcess's executable: LoggerLibAPI_GetLogger calls factory,
// or answers null while it is empty. With the level mask it also exports LoggerLibAPI_GetLevelMask,
// which answers the publishedMask of a RecordingLogger.
enum class FakeLevelMask { NotExported, Exported };
void AddFakeLoggerLibrary(FakeLibraries& libraries, FakeLevelMask levelMask = FakeLevelMask::NotExported);
extern std::function<IFileLoggerItf*()> g_fakeLoggerFactory;

} // namespace Qx::Testing
