// Scopes that trace a function's entry and exit, or time a block, and indent what is logged inside.
#pragma once

#include <cstdint>
#include <string>

#include "ResKit/Logger/InstalledLogger.h"
#include "ResKit/Logger/LogRecord.h"

namespace LogUtils {

// The statement a function trace scope stands for, kept once per statement: a scope whose level is
// off then costs the store of one pointer besides its level tests.
struct TraceSite {
    const wchar_t* name;
    const wchar_t* sourceFile;
    int line;
};

// With level 2 off in the mask, entry and exit are one bit test each, inline.
class FunctionTraceScope {
public:
    explicit FunctionTraceScope(const TraceSite& site) : m_site(&site)
    {
        if (LevelMayBeEnabled(kTraceLevel)) {
            Enter();
        }
    }
    FunctionTraceScope(const FunctionTraceScope&) = delete;
    FunctionTraceScope& operator=(const FunctionTraceScope&) = delete;
    ~FunctionTraceScope()
    {
        if (m_indent != 0 || LevelMayBeEnabled(kTraceLevel)) {
            Leave();
        }
    }

private:
    void Enter();
    void Leave() noexcept;

    const TraceSite* m_site;
    int m_indent = 0;
};

class TimedTraceScope {
public:
    TimedTraceScope(const LogRecord& name, int level, const wchar_t* sourceFile, int line);
    TimedTraceScope(const TimedTraceScope&) = delete;
    TimedTraceScope& operator=(const TimedTraceScope&) = delete;
    ~TimedTraceScope();

    // The operation failed without an exception: the scope ends with " - failed".
    void Fail() { m_failed = true; }

private:
    std::wstring m_name;
    int m_level;
    int m_severity;
    const wchar_t* m_sourceFile;
    int m_line;
    std::uint64_t m_startTick;
    int m_indent = 0;
    bool m_unwindingAtStart = false;
    bool m_failed = false;
};

} // namespace LogUtils
