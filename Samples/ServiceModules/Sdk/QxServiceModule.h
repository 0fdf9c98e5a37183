/*
 * QxServiceModule.h: the contract between QxServiceHost and a service module.
 *
 * A service module is a DLL named in the "ServiceModules" value of the service's Parameters key
 * (HKLM\SYSTEM\CurrentControlSet\Services\<service>\Parameters, names separated by ";" or ",").
 * The host loads every listed DLL with LoadLibraryW when the service starts and looks up the two
 * exports below by their undecorated names; both must exist. A name with a full path is loaded from
 * there. A name without a path is looked up in the folder of QxServiceHost.exe, then in System32;
 * never in the current folder, the Windows folder or a PATH folder.
 *
 * Plain C, so modules may be written in C or C++. Include it in the source that defines the
 * exports, so the compiler checks the definitions against these declarations.
 *
 * Compilers: a module may be built with Microsoft's compiler (Visual Studio, clang-cl) or with
 * MinGW-w64's g++ or clang; the host is the same for both. Only C types cross the contract. A
 * module's C++ exceptions and its calls to abort() or std::terminate are treated alike whichever
 * runtime raised them: g++'s (code 0x20474343) or Microsoft's (0xE06D7363, in vcruntime140.dll and
 * ucrtbase.dll), as described at each function below. The host's first-chance record names a
 * thrown type as its compiler's runtime records it: mangled by g++ ("St13runtime_error"),
 * decorated by Microsoft's (".?AVruntime_error@std@@").
 */
#ifndef QX_SERVICE_MODULE_H
#define QX_SERVICE_MODULE_H

#include <stdint.h>
#include <windows.h>

#ifdef __cplusplus
#define QX_MODULE_EXTERN_C extern "C"
#else
#define QX_MODULE_EXTERN_C
#endif

/* Exports a module function under its plain C name. */
#define QX_MODULE_API QX_MODULE_EXTERN_C __declspec(dllexport)

/*
 * Bit 0 of the module flags: after a failed start, keep the service's volatile WatchDogGuard key
 * (HKLM\SYSTEM\CurrentControlSet\services\<service>\WatchDogGuard) until the process ends, so the
 * watchdog sees that the service went down abnormally. The host reads the bit only on a failed
 * start, from every module of the list once all of them were loaded, including the module whose
 * SmInitialize failed. The other 31 bits mean nothing to the host; a module may use them freely.
 */
#define QX_MODULE_FLAG_KEEP_WATCHDOG_GUARD 0x1u

/*
 * Starts the module. Called once per service start, on the host's initialisation thread, one
 * module at a time in list order, after the module's DLL and every DLL listed before it have been
 * loaded. It may take as long as it needs: meanwhile the host tells the Service Control Manager
 * every 5 seconds that the start is still pending. Work that lasts as long as the service runs
 * belongs on a thread of the module's own; the initialisation thread ends once all modules are
 * initialised.
 *
 * moduleFlags: never null, 0 on entry; the module may set QX_MODULE_FLAG_KEEP_WATCHDOG_GUARD or
 * bits of its own. The pointer stays valid as long as the DLL stays loaded.
 *
 * Returns S_OK (or any non-negative HRESULT) on success. A negative HRESULT fails the service
 * start: the modules initialised before this one get SmShutdown, last first; the modules listed
 * after it are never initialised; the service stops with this HRESULT as its exit code. COM error
 * information the module leaves on the thread (SetErrorInfo) is attached to the host's error: its
 * description is what the host logs ("Starting service modules failed: <description>") and what
 * the start-failed event 0xC0010103 reports as its reason.
 *
 * Must return. A module that ends the initialisation thread instead (ExitThread, or a stack
 * overflow that ends it) fails the start with E_ABORT (0x80004004), whatever exit code the thread
 * ended with: the host logs at ERROR "ServiceModule <name> failed the start after <n> ms:
 * SmInitialize ended the initialisation thread without returning (thread exit code <code>)",
 * shuts down the modules initialised before this one, last first, on its service thread, and
 * names the module in the event's reason. This module gets no SmShutdown call.
 *
 * Should not let a C++ exception escape. If one does, the host catches it: it logs at ERROR level
 * "ServiceModule <name> initialization failed: exception thrown", shuts down the modules
 * initialised before this one (last first, as for a failing result) and fails the start with
 * E_FAIL (0x80004005), the service's exit code; this module gets no SmShutdown call and the
 * exception's own type and text are lost (with logging on, the host's first-chance record
 * "*** Exception: Unknown type of exception object: <type name> in module: <address>" names the
 * type). A structured exception (an access violation, say) is not caught: the host
 * writes a crash dump and the process ends with the exception code.
 */
QX_MODULE_API HRESULT SmInitialize(uint32_t* moduleFlags);

/*
 * Crashes, on any thread, the module's own included. The host writes exactly one crash dump per
 * crash, named after the service and the exception code, and one record at ERROR, LogLevel 1:
 * "Crash <code> at <file>+0x<offset> on thread <id>; dump <path>" ("0x<address> outside any
 * module" when no image holds the address; "Crash <code>: C++ exception <type> thrown in <file>"
 * for a thrown object; "Crash: std::terminate or abort()" without an exception; "; no dump
 * written: <why>" when none could be written).
 *
 * A C++ exception that nothing catches on a thread of the module's own ends the process with its
 * exception code in both ABIs: 0x20474343 for a module built by g++, 0xE06D7363 for one built by
 * Microsoft's compiler; the dump is named with that code. (A std::thread of a g++-built module is
 * the exception: its runtime calls std::terminate itself, and the process ends with 3, the dump
 * named 00000000.)
 *
 * Unhandled-exception filters of the module's own (SetUnhandledExceptionFilter, as crash reporters
 * and runtimes install them): after every SmInitialize and SmShutdown, and every 5 seconds while
 * the service runs, the host puts its own filter in front again and keeps the module's behind it,
 * with the module's DLL held loaded. At a crash the host's filter writes the dump and the record
 * first, then calls the module's filter, whose verdict decides how the process goes on; when the
 * module's filter calls the one it replaced, that call reaches what the host itself replaced. A
 * filter whose code is in no loaded image is not called. The host logs each such change as a
 * WARN record at LogLevel 1 naming the filter's image. A crash in the moment between a module
 * installing its filter and the host's next check goes to the module's filter alone.
 */

/*
 * Stops the module. Called once for every SmInitialize that succeeded, never for one that failed,
 * in reverse list order: at the service stop on the host's service thread, or on the
 * initialisation thread when a module listed later fails its SmInitialize. The module must have
 * stopped and joined its threads when it returns; the host may free the DLL afterwards. There is
 * no result: a module that fails to stop cleanly can only log it.
 *
 * Must not let a C++ exception escape: the host does not catch one here. The host's shut-down of
 * the modules cannot throw, so an escaping exception ends the process through std::terminate on
 * the thread that called SmShutdown: the host writes one crash dump (exception code 00000000 in its
 * name, no exception record in it) and the process ends with exit code 3 without reporting
 * SERVICE_STOPPED. With logging on, the host's first-chance record "*** Exception: Unknown type of
 * exception object: <type name> in module: <address>" names the type before the dump. The
 * modules before this one in the list get no SmShutdown, and no "service stopped" event is
 * reported. The same holds when the call comes from a failed start, whose "start failed" event is
 * not reported either.
 */
QX_MODULE_API void SmShutdown(void);

typedef HRESULT (*QxSmInitializeFn)(uint32_t* moduleFlags);
typedef void (*QxSmShutdownFn)(void);

#endif /* QX_SERVICE_MODULE_H */
