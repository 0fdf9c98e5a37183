// Binary contract between the host and the logger library QxLogger.dll.
//
// The library is built separately from the host, so the declarations below are fixed: the
// order of the virtual operations, their argument types, and the 48-byte settings block.
// Both sides must be compiled by the same C++ ABI (MinGW-w64 g++ here).
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

struct ILogSettings {
    virtual ~ILogSettings() = default;
    virtual std::wstring Value1() const { return {}; }
    virtual std::wstring Value2() const { return {}; }
    virtual int Number1() const { return 0; }
    virtual int Number2() const { return 0; }
};

struct IFileLoggerItf {
    virtual ~IFileLoggerItf() = default;
    virtual HRESULT Init(const wchar_t* logName, const wchar_t* title, bool flag,
                         LogUtils::SModuleLogInit* settings) = 0;
    virtual void Reserved() = 0;
    virtual HRESULT Write(const wchar_t* sourceFile, int line, const wchar_t* text, int level,
                          const wchar_t* severity) = 0;
    virtual void ChangeIndent(int delta) = 0;
    virtual bool IsEnabled(int level) = 0;
    virtual ILogSettings& GetSettings() = 0;
};

// extern "C" IFileLoggerItf* LoggerLibAPI_GetLogger(HINSTANCE hostInstance), undecorated.
using LoggerLibGetLoggerFunction = IFileLoggerItf* (*)(void* hostInstance);
inline constexpr const char* kLoggerLibGetLoggerExport = "LoggerLibAPI_GetLogger";

// The levels a logger object may enable, one bit per level: bit L set when IsEnabled(L) may answer
// true, for L from 0 to 31. It lets the host skip a disabled statement without a call.
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
