#include "Common/LogCompressor/LogComprLoader.h"

#include "Common/ProductInfo.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

void CLogComprLdr::Load()
{
    Unload();
    const std::wstring path = ProductLibraryPath(GetProductInfo().RegistryRoot(), kLibraryName);
    QX_LOG(1, "loading log compressor module");
    Library library;
    RaiseWin32(Libraries().Load(path, library));
    auto initialize = reinterpret_cast<InitializeFunction>(Libraries().GetProc(library.get(), "Initialize"));
    if (initialize == nullptr) {
        RaiseWin32(kErrorProcNotFound);
    }
    RaiseIfFailed(initialize());
    m_module = std::move(library);
}

void CLogComprLdr::Unload() noexcept
{
    if (!m_module) {
        return;
    }
    // A library without Shutdown is freed without the call rather than crashing the stop.
    if (auto shutdown = reinterpret_cast<ShutdownFunction>(Libraries().GetProc(m_module.get(), "Shutdown"))) {
        shutdown();
    }
    m_module.reset();
}
