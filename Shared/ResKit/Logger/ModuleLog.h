// The module log: the logger's settings block, which keeps the logger installed while it lives.
#pragma once

#include <string>

#include "ResKit/Logger/LoggerItf.h"

namespace LogUtils {

// The module log initialiser. Its storage is exactly the settings block handed to the logger.
// While at least one initialiser lives, the installed logger stays; the last one removes and
// destroys it, after which every statement is dropped.
struct SModuleLogInit : SModuleLogInitData {
    explicit SModuleLogInit(const std::wstring& logName);
    SModuleLogInit(const SModuleLogInit&) = delete;
    SModuleLogInit& operator=(const SModuleLogInit&) = delete;
    ~SModuleLogInit();
};
static_assert(sizeof(SModuleLogInit) == sizeof(SModuleLogInitData));

} // namespace LogUtils
