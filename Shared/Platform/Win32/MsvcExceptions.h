// Win32 only: C++ exceptions raised by Microsoft's runtime (code 0xE06D7363), read and caught
// whichever compiler built the caller. MsvcExceptions.c is compiled in Microsoft's mode, with
// structured exception handling, also when the rest of the host is built by g++: g++'s catch cannot
// catch such an exception, and reading a record that only claims to be one must not fault.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { QX_MSVC_TYPE_NAME_CAPACITY = 128, QX_MSVC_WHAT_CAPACITY = 256 };

// What a caught exception of Microsoft's runtime was.
typedef struct QxMsvcException {
    // The decorated name of the thrown type, such as ".?AVruntime_error@std@@", cut to fit;
    // empty when the record does not say.
    char typeName[QX_MSVC_TYPE_NAME_CAPACITY];
    // what() of a thrown std::exception, cut to fit; empty for any other type.
    char what[QX_MSVC_WHAT_CAPACITY];
} QxMsvcException;

// The decorated name of the type of the object an exception record of Microsoft's runtime carries:
// the first entry of its catchable-type list, which is the thrown type itself. Null for any other
// record and for one whose throw information cannot be read. The name lives in the image that
// threw, as long as that image stays loaded.
const char* QxMsvcThrownTypeName(const EXCEPTION_RECORD* record);

// Call a service module's entry. Each returns 0 when the entry returned (SmInitialize's result in
// *result), and 1 when an exception of Microsoft's runtime left it, described in *caught. Any other
// exception passes through untouched, a C++ exception of the caller's own runtime included.
int QxCallSmInitializeCatchingMsvc(HRESULT (*entry)(unsigned int*), unsigned int* moduleFlags, HRESULT* result,
                                   QxMsvcException* caught);
int QxCallSmShutdownCatchingMsvc(void (*entry)(void), QxMsvcException* caught);

#ifdef __cplusplus
}
#endif
