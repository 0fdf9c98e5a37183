// The Wine tests' names for the control tool's owners of Win32 handles: each closes what it holds
// when it goes, and null (for kernel handles INVALID_HANDLE_VALUE too) holds nothing.
#pragma once

#include "QxServiceCtl/Win32Owners.h"

namespace QxWineTest {

using UniqueHandle = QxServiceCtl::KernelObject;
using UniqueKey = QxServiceCtl::KeyHandle;
using UniqueServiceHandle = QxServiceCtl::ServiceHandle;

} // namespace QxWineTest
