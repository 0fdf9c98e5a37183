// Crash capture: the process-wide crash handlers, and the first-chance log of every exception.
#pragma once

#include <string>

#include "Platform/Api/Platform.h"

namespace LogUtils {

// Writes the crash dump of exception (null: a dump without exception); true when one was written.
// It runs inside a crashing process: it must not rely on the heap.
using CrashDumpWriter = bool (*)(const Qx::Platform::ExceptionDescription* exception);

// Installs, once for the platform services in use, the terminate and SIGABRT handlers, the invalid-parameter handler,
// the unhandled-exception filter (chaining to the one it replaces) and the heap-corruption handler, each of which
// writes one crash dump through writeDump; and an exit-time action that takes them down again. One crash gives one
// dump, however many of the handlers it passes through. The dump writer belongs to a layer above this one, so the
// start-up sequence hands it in; a later call keeps the first writer.
void InstallCrashHandlers(CrashDumpWriter writeDump);

// The first-chance handler registered by the module log: one record per exception raised in
// the process, thrown C++ objects with their type. Never handles the exception.
std::int32_t LogExceptionHandler(const Qx::Platform::ExceptionDescription& exception);

// The text of LogExceptionHandler's record after "*** Exception: ".
std::wstring ExceptionRecordText(const Qx::Platform::ExceptionDescription& exception);

} // namespace LogUtils
