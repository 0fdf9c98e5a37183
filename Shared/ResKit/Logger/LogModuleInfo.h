// The block that identifies the module, its version and the process at the top of a module log.
#pragma once

#include <memory>
#include <string>

#include "Platform/Api/Platform.h"

namespace LogUtils {

// Reads the version resource of the module at path. Which language's resource it reads is the
// caller's choice: the product's UI language lives above the logging layer.
using VersionReader = HRESULT (*)(const std::wstring& path, std::unique_ptr<Qx::Platform::IVersionBlock>& block);

// Writes "*", the module path, its FileVersion (read by readVersion), the process path and "*"
// at level 3. A version resource that cannot be read leaves out the version line only.
void LogModuleInfo(VersionReader readVersion);

} // namespace LogUtils
