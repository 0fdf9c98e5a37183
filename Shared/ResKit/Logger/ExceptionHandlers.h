// Crash capture: the process-wide crash handlers, and the first-chance log of every exception.
#pragma once

#include <string>

#include "Platform/Api/Platform.h"

namespace LogUtils {

// Installs, once, the terminate and SIGABRT handlers, the invalid-parameter handler, the
// unhandled-exception filter (chaining to the one it replaces) and the heap-corruption handler,
// each of which writes one crash dump; and an exit-time action that takes them down again.
// One crash gives one dump, however many of the handlers it passes through.
void InstallCrashHandlers();

// The first-chance handler registered by the module log: one record per exception raised in
// the process, thrown C++ objects with their type. Never handles the exception.
std::int32_t LogExceptionHandler(const Qx::Platform::ExceptionDescription& exception);

// The text of LogExceptionHandler's record after "*** Exception: ".
std::wstring ExceptionRecordText(const Qx::Platform::ExceptionDescription& exception);

} // namespace LogUtils
