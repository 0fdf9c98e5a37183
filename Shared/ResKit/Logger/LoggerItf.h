// Binary contract between the host and the logger library QxLogger.dll.
//
// The library is built separately from the host, often by another compiler, so the declarations
// below are fixed in the layout Microsoft's x64 compiler gives them: the order of the virtual
// operations, their argument types, and the 48-byte settings block.
// - Slot 0 of each interface is the deleting destructor Microsoft's compiler makes of a virtual
//   destructor: one slot, taking a 32-bit flags word whose bit 0 asks it to free the object. g++
//   would give a C++ virtual destructor two slots, so none is declared: the destructor is
//   protected, and an object is destroyed through slot 0 (DestroyInterfaceObject).
// - Arguments and results are only pointers, 32-bit integers, bool and HRESULT, which both
//   compilers pass alike on x64; no class type crosses by value and no standard-library type
//   crosses at all, apart from the level mask word below.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "Platform/Api/HResult.h"

namespace LogUtils {

// The settings block handed to IFileLoggerItf::Init, in exactly this layout.
struct SModuleLogInitData {
    std::uint64_t reserved0 = 0;
    bool reserved8 = false;
    bool reserved9 = false;
    bool reserved10 = false;
    std::uint32_t reserved12 = 0;
    std::uint64_t maxFileSize = 104857600; // the logger rotates its file at this size
    bool reserved24 = false;
    void* hostInstance = nullptr;
    void* exceptionHandler = nullptr; // the host's own use; the library must not touch it
};

static_assert(sizeof(void*) == 8, "the settings block is defined for 64-bit processes");
static_assert(sizeof(SModuleLogInitData) == 48);
static_assert(offsetof(SModuleLogInitData, reserved8) == 8);
static_assert(offsetof(SModuleLogInitData, reserved9) == 9);
static_assert(offsetof(SModuleLogInitData, reserved10) == 10);
static_assert(offsetof(SModuleLogInitData, reserved12) == 12);
static_assert(offsetof(SModuleLogInitData, maxFileSize) == 16);
static_assert(offsetof(SModuleLogInitData, reserved24) == 24);
static_assert(offsetof(SModuleLogInitData, hostInstance) == 32);
static_assert(offsetof(SModuleLogInitData, exceptionHandler) == 40);

// The host's initialiser. Its storage is exactly an SModuleLogInitData, so the library reads
// the block through a pointer to this type.
struct SModuleLogInit;

} // namespace LogUtils

// Bit 0 of the flags word of slot 0: free the object's memory after destroying it.
inline constexpr unsigned int kDeletingDestructorFree = 1;

// Slot 0 as each side implements it for its own class: Microsoft's compiler generates the same.
template <typename Object>
void* DeletingDestructorOf(Object* object, unsigned int flags) noexcept
{
    if ((flags & kDeletingDestructorFree) != 0) {
        delete object;
    } else {
        object->~Object();
    }
    return object;
}

// Destroys and frees an object that a library created, whichever compiler built it.
template <typename Interface>
void DestroyInterfaceObject(Interface* object) noexcept
{
    if (object != nullptr) {
        object->DeletingDestructor(kDeletingDestructorFree);
    }
}

// The strings it answers stay valid until the next call of the same operation on the object.
struct ILogSettings {
    virtual void* DeletingDestructor(unsigned int flags) noexcept = 0;
    virtual const wchar_t* Value1() const = 0;
    virtual const wchar_t* Value2() const = 0;
    virtual int Number1() const = 0;
    virtual int Number2() const = 0;

protected:
    ~ILogSettings() = default;
};

struct IFileLoggerItf {
    virtual void* DeletingDestructor(unsigned int flags) noexcept = 0;
    virtual HRESULT Init(const wchar_t* logName, const wchar_t* title, bool flag,
                         LogUtils::SModuleLogInit* settings) = 0;
    virtual void Reserved() = 0;
    virtual HRESULT Write(const wchar_t* sourceFile, int line, const wchar_t* text, int level,
                          const wchar_t* severity) = 0;
    virtual void ChangeIndent(int delta) = 0;
    virtual bool IsEnabled(int level) = 0;
    virtual ILogSettings& GetSettings() = 0;

protected:
    ~IFileLoggerItf() = default;
};

// extern "C" IFileLoggerItf* LoggerLibAPI_GetLogger(HINSTANCE hostInstance), undecorated.
using LoggerLibGetLoggerFunction = IFileLoggerItf* (*)(void* hostInstance);
inline constexpr const char* kLoggerLibGetLoggerExport = "LoggerLibAPI_GetLogger";

// The levels a logger object may enable, one bit per level: bit L set when IsEnabled(L) may answer
// true, for L from 0 to 31. It lets the host skip a disabled statement without a call. Across the
// boundary it is a naturally aligned 32-bit word that the library writes atomically; libstdc++,
// libc++ and Microsoft's library all lay out this atomic as the bare word, as checked below.
using LoggerLevelMask = std::atomic<std::uint32_t>;
static_assert(LoggerLevelMask::is_always_lock_free);
static_assert(sizeof(LoggerLevelMask) == sizeof(std::uint32_t));

// extern "C" const LoggerLevelMask* LoggerLibAPI_GetLevelMask(IFileLoggerItf* logger), undecorated;
// optional: a library without it is asked through IsEnabled for every statement, as always.
// - logger is an object that LoggerLibAPI_GetLogger of the same library returned. The result is
//   the address of its mask word, or null when the library keeps none for it (the host then asks
//   IsEnabled for every level).
// - The word stays valid as long as the logger object lives. Objects may share one word.
// - The library updates the word whenever the levels the object enables change, at any time and
//   from any thread; the host reads it without a lock, from any thread, before every step.
// - A cleared bit L promises that IsEnabled(L) answers false: the host then neither calls IsEnabled
//   nor builds a text nor calls Write. A set bit promises nothing; the host asks IsEnabled(L).
// - Levels below 0 or above 31 have no bit: the host always asks IsEnabled for them.
using LoggerLibGetLevelMaskFunction = const LoggerLevelMask* (*)(IFileLoggerItf* logger);
inline constexpr const char* kLoggerLibGetLevelMaskExport = "LoggerLibAPI_GetLevelMask";
inline constexpr const wchar_t* kLoggerLibraryFileName = L"QxLogger.dll";
