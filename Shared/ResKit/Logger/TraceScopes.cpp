#include "ResKit/Logger/TraceScopes.h"

#include <exception>

#include "Platform/Api/Platform.h"

using namespace Qx::Platform;

namespace LogUtils {

void FunctionTraceScope::Enter()
{
    if (IsLevelEnabled(kTraceLevel)) {
        LogRecord record(kTraceLevel);
        record << "Entering " << m_site->name;
        record.Write(m_site->sourceFile, m_site->line);
    }
    if (IsLevelEnabled(kTraceLevel)) {
        GetLogger().ChangeIndent(+1);
        ++m_indent;
    }
}

void FunctionTraceScope::Leave() noexcept
{
    if (m_indent != 0) {
        GetLogger().ChangeIndent(-m_indent);
        m_indent = 0;
    }
    const bool unwinding = std::uncaught_exceptions() != 0;
    WithoutRaising([&] {
        if (IsLevelEnabled(kTraceLevel)) {
            LogRecord record(kTraceLevel);
            record << (unwinding ? "*** EXCEPTION Exiting " : "Exiting ") << m_site->name;
            record.Write(m_site->sourceFile, m_site->line);
        }
    });
}

TimedTraceScope::TimedTraceScope(const LogRecord& name, int level, const wchar_t* sourceFile, int line)
    : m_name(name.Text()), m_level(level), m_severity(name.Attribute(AttributeIndices().second)),
      m_sourceFile(sourceFile), m_line(line), m_startTick(Process().TickCount64())
{
    if (IsLevelEnabled(m_level)) {
        LogRecord record(m_level);
        record.SetSeverity(m_severity);
        record << m_name << L" - starting";
        record.Write(m_sourceFile, m_line);
    }
    m_unwindingAtStart = std::uncaught_exceptions() != 0;
    if (IsLevelEnabled(kTraceLevel)) {
        GetLogger().ChangeIndent(+1);
        ++m_indent;
    }
}

TimedTraceScope::~TimedTraceScope()
{
    if (m_indent != 0) {
        GetLogger().ChangeIndent(-m_indent);
        m_indent = 0;
    }
    const bool endedByException = std::uncaught_exceptions() != 0 && !m_unwindingAtStart;
    const bool succeeded = !m_failed && !endedByException;
    WithoutRaising([&] {
        if (!IsLevelEnabled(m_level)) {
            return;
        }
        LogRecord record(m_level);
        record.SetSeverity(m_severity);
        if (succeeded) {
            const unsigned long long elapsed = Process().TickCount64() - m_startTick;
            record << m_name << L" - succeeded (" << elapsed << L" ms)";
        } else if (endedByException) {
            record << "*** EXCEPTION: " << m_name << L" - failed";
        } else {
            record << m_name << L" - failed";
        }
        record.Write(m_sourceFile, m_line);
    });
}

} // namespace LogUtils
