// Logging: the installed logger, the module log initialiser, log records and trace scopes.
//
// A log statement names a level, optionally a severity, and text parts:
//     QX_LOG(1, "param value: ", value);
//     QX_LOG_ERROR("WinMain failed: ", error);
// When the installed logger does not enable the level, nothing is built or formatted. A logger
// that publishes its level mask (LoggerLibAPI_GetLevelMask) lets a disabled statement end after one
// inlined bit test; any other logger is asked through IsEnabled.
#pragma once

#include "ResKit/Logger/ErrorText.h"
#include "ResKit/Logger/InstalledLogger.h"
#include "ResKit/Logger/LogRecord.h"
#include "ResKit/Logger/ModuleLog.h"
#include "ResKit/Logger/TraceScopes.h"

#define QX_WIDEN_(text) L##text
#define QX_WIDEN(text) QX_WIDEN_(text)
#define QX_SOURCE_FILE QX_WIDEN(__FILE__)

#define QX_LOG_AT(level, severity, ...)                                                                                \
    do {                                                                                                               \
        if (::LogUtils::IsLevelEnabled(level)) {                                                                       \
            ::LogUtils::LogRecord qxLogRecord_(level);                                                                 \
            qxLogRecord_.SetSeverity(severity);                                                                        \
            qxLogRecord_.Append(__VA_ARGS__);                                                                          \
            qxLogRecord_.Write(QX_SOURCE_FILE, __LINE__);                                                              \
        }                                                                                                              \
    } while (false)

#define QX_LOG(level, ...) QX_LOG_AT(level, ::LogUtils::kLevelSeverity, __VA_ARGS__)
#define QX_LOG_ERROR(...) QX_LOG_AT(1, ::LogUtils::kSeverityError, __VA_ARGS__)

// Traces entry and exit of the enclosing function under the given qualified name, a string literal, at
// level 2.
#define QX_FUNCTION_TRACE(name)                                                                                        \
    static constexpr ::LogUtils::TraceSite qxFunctionTraceSite_{name, QX_SOURCE_FILE, __LINE__};                       \
    ::LogUtils::FunctionTraceScope qxFunctionTrace_(qxFunctionTraceSite_)

// Times the enclosing block; the name is built from text parts like a log statement.
#define QX_TIMED_TRACE(level, ...)                                                                                     \
    ::LogUtils::TimedTraceScope qxTimedTrace_(::LogUtils::LogRecord::Build(level, __VA_ARGS__), level, QX_SOURCE_FILE, \
                                              __LINE__)
