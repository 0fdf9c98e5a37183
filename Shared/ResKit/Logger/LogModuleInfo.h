// The block that identifies the module, its version and the process at the top of a module log.
#pragma once

namespace LogUtils {

// Writes "*", the module path, its FileVersion, the process path and "*" at level 3. A version
// resource that cannot be read leaves out the version line only.
void LogModuleInfo();

} // namespace LogUtils
