// Win32 only, compiled in Microsoft's mode: see MsvcExceptions.h.
#include "MsvcExceptions.h"

#include <string.h>

#define MSVC_THROW_CODE 0xE06D7363ul
#define MSVC_THROW_PARAMETERS 4ul

// The throw information of Microsoft's x64 runtime. Its references are offsets from the image base
// that the record's fourth parameter carries.
typedef struct {
    unsigned int attributes;
    int destructor;
    int forwardCompatibility;
    int catchableTypes;
} ThrowInfo;

typedef struct {
    int count;
    int types[1];
} CatchableTypeArray;

typedef struct {
    unsigned int properties;
    int typeDescriptor;
    int thisDisplacement[3];
    int size;
    int copyFunction;
} CatchableType;

typedef struct {
    const void* typeInfoTable;
    void* undecoratedName;
    char decoratedName[1];
} TypeDescriptor;

static const char* ReadThrownTypeName(const EXCEPTION_RECORD* record)
{
    if (record->ExceptionCode != MSVC_THROW_CODE || record->NumberParameters < MSVC_THROW_PARAMETERS) {
        return NULL;
    }
    const char* imageBase = (const char*)record->ExceptionInformation[3];
    const ThrowInfo* throwInfo = (const ThrowInfo*)record->ExceptionInformation[2];
    if (imageBase == NULL || throwInfo == NULL || throwInfo->catchableTypes == 0) {
        return NULL;
    }
    const CatchableTypeArray* types = (const CatchableTypeArray*)(imageBase + throwInfo->catchableTypes);
    if (types->count < 1 || types->types[0] == 0) {
        return NULL;
    }
    const CatchableType* thrown = (const CatchableType*)(imageBase + types->types[0]);
    if (thrown->typeDescriptor == 0) {
        return NULL;
    }
    return ((const TypeDescriptor*)(imageBase + thrown->typeDescriptor))->decoratedName;
}

// The name is checked to end within the capacity while a fault can still be caught.
const char* QxMsvcThrownTypeName(const EXCEPTION_RECORD* record)
{
    __try {
        const char* name = ReadThrownTypeName(record);
        return name != NULL && memchr(name, 0, QX_MSVC_TYPE_NAME_CAPACITY) != NULL ? name : NULL;
    } __except (EXCEPTION_EXECUTE_HANDLER) {
        return NULL;
    }
}

// Whether std::exception is among the types a handler may catch the thrown object as.
static int IsStandardException(const EXCEPTION_RECORD* record)
{
    const char* imageBase = (const char*)record->ExceptionInformation[3];
    const ThrowInfo* throwInfo = (const ThrowInfo*)record->ExceptionInformation[2];
    const CatchableTypeArray* types = (const CatchableTypeArray*)(imageBase + throwInfo->catchableTypes);
    for (int i = 0; i < types->count; ++i) {
        const CatchableType* type = (const CatchableType*)(imageBase + types->types[i]);
        const TypeDescriptor* descriptor = (const TypeDescriptor*)(imageBase + type->typeDescriptor);
        if (strcmp(descriptor->decoratedName, ".?AVexception@std@@") == 0) {
            return 1;
        }
    }
    return 0;
}

// what() of a thrown std::exception: Microsoft's std::exception keeps its message pointer right
// after the virtual table pointer.
static void CopyWhat(const EXCEPTION_RECORD* record, QxMsvcException* caught)
{
    __try {
        const char* object = (const char*)record->ExceptionInformation[1];
        if (object != NULL && IsStandardException(record)) {
            const char* what = *(const char* const*)(object + sizeof(void*));
            lstrcpynA(caught->what, what != NULL ? what : "", QX_MSVC_WHAT_CAPACITY);
        }
    } __except (EXCEPTION_EXECUTE_HANDLER) {
        caught->what[0] = '\0';
    }
}

// Runs while the thrower's frames still exist: everything the caller learns is copied here.
static int CatchMsvcException(const EXCEPTION_POINTERS* pointers, QxMsvcException* caught)
{
    if (pointers->ExceptionRecord->ExceptionCode != MSVC_THROW_CODE) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const char* name = QxMsvcThrownTypeName(pointers->ExceptionRecord);
    lstrcpynA(caught->typeName, name != NULL ? name : "", QX_MSVC_TYPE_NAME_CAPACITY);
    if (name != NULL) {
        CopyWhat(pointers->ExceptionRecord, caught);
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

int QxCallSmInitializeCatchingMsvc(HRESULT (*entry)(unsigned int*), unsigned int* moduleFlags, HRESULT* result,
                                   QxMsvcException* caught)
{
    __try {
        *result = entry(moduleFlags);
        return 0;
    } __except (CatchMsvcException(GetExceptionInformation(), caught)) {
        return 1;
    }
}

int QxCallSmShutdownCatchingMsvc(void (*entry)(void), QxMsvcException* caught)
{
    __try {
        entry();
        return 0;
    } __except (CatchMsvcException(GetExceptionInformation(), caught)) {
        return 1;
    }
}
