// What Microsoft's static runtime library links into every image and clang in Microsoft mode expects
// to find: the image's C++ initialisers and exit-time functions (atexit), the floating-point marker
// and the stack probe. The entry points are in DllStartup.c and ExeStartup.c. The C runtime proper
// is Wine's ucrtbase.dll, and the C++ exception support its vcruntime140.dll.
#include <windows.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "Startup.h"

// The compiler puts a pointer to each translation unit's initialiser into .CRT$XCU; the linker
// orders the .CRT$XC* sections by name, so these two bracket them.
#pragma section(".CRT$XCA", read)
__declspec(allocate(".CRT$XCA")) static const Initializer firstInitializer = 0;
#pragma section(".CRT$XCZ", read)
__declspec(allocate(".CRT$XCZ")) static const Initializer lastInitializer = 0;

static Initializer* exitFunctions;
static size_t exitFunctionCount;
static size_t exitFunctionCapacity;
static SRWLOCK exitFunctionsLock = SRWLOCK_INIT;

int __cdecl atexit(Initializer function)
{
    int result = 0;
    AcquireSRWLockExclusive(&exitFunctionsLock);
    if (exitFunctionCount == exitFunctionCapacity) {
        const size_t capacity = exitFunctionCapacity == 0 ? 32 : exitFunctionCapacity * 2;
        Initializer* grown = exitFunctions == NULL
                                 ? HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(Initializer))
                                 : HeapReAlloc(GetProcessHeap(), 0, exitFunctions, capacity * sizeof(Initializer));
        if (grown == NULL) {
            result = -1;
        } else {
            exitFunctions = grown;
            exitFunctionCapacity = capacity;
        }
    }
    if (result == 0) {
        exitFunctions[exitFunctionCount++] = function;
    }
    ReleaseSRWLockExclusive(&exitFunctionsLock);
    return result;
}

void QxMsAbiRunInitializers(void)
{
    for (const Initializer* initializer = &firstInitializer + 1; initializer < &lastInitializer; ++initializer) {
        if (*initializer != NULL) {
            (*initializer)();
        }
    }
}

void QxMsAbiRunExitFunctions(void)
{
    while (exitFunctionCount > 0) {
        exitFunctions[--exitFunctionCount]();
    }
}

// The compiler needs this symbol in every image that uses floating point.
int _fltused = 0;

// Touches each page of a frame larger than a page, from the top down, before the function moves
// the stack pointer past it, so that the guard page below the stack grows it one page at a time.
// RAX holds the frame's size; every other register is preserved.
__asm__(".globl __chkstk\n"
        "__chkstk:\n"
        "  push %rcx\n"
        "  push %rax\n"
        "  cmp $0x1000, %rax\n"
        "  lea 24(%rsp), %rcx\n"
        "  jb 1f\n"
        "2:\n"
        "  sub $0x1000, %rcx\n"
        "  test %rcx, (%rcx)\n"
        "  sub $0x1000, %rax\n"
        "  cmp $0x1000, %rax\n"
        "  ja 2b\n"
        "1:\n"
        "  sub %rax, %rcx\n"
        "  test %rcx, (%rcx)\n"
        "  pop %rax\n"
        "  pop %rcx\n"
        "  ret\n");

// Inline functions of Microsoft's wchar.h, which ucrtbase.dll does not export, and wcsnlen, which
// MinGW-w64's import library of ucrtbase.dll reaches only through a dllimport declaration that its
// headers do not make.
wchar_t* __cdecl wmemcpy(wchar_t* destination, const wchar_t* source, size_t count)
{
    return (wchar_t*)memcpy(destination, source, count * sizeof(wchar_t));
}

wchar_t* __cdecl wmemmove(wchar_t* destination, const wchar_t* source, size_t count)
{
    return (wchar_t*)memmove(destination, source, count * sizeof(wchar_t));
}

wchar_t* __cdecl wmemset(wchar_t* destination, wchar_t value, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        destination[i] = value;
    }
    return destination;
}

size_t __cdecl wcsnlen(const wchar_t* text, size_t capacity)
{
    size_t length = 0;
    while (length < capacity && text[length] != L'\0') {
        ++length;
    }
    return length;
}
