#include "Common/LogCompressor/LogComprLoader.h"

#include "Common/ProductInfo.h"
#include "Common/RegistryValues.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

std::wstring ReadInstallPath()
{
    RegistryKey key;
    RaiseWin32(Registry().OpenKey(GetProductInfo().RegistryRoot(), CLogComprLdr::kGenericRead, key));
    const std::size_t units = StringValueUnits(key.get(), L"ProductInstallPath");
    if (units == 0) {
        RaiseIfFailed(kEInvalidArg);
    }
    std::wstring path;
    RaiseWin32(ReadTerminatedString(key.get(), L"ProductInstallPath", units, path));
    return path;
}

} // namespace

void CLogComprLdr::Load()
{
    Unload();
    const std::wstring path = ReadInstallPath() + kLibraryName;
    QX_LOG(1, "loading log compressor module");
    Library library;
    RaiseWin32(Libraries().Load(path, library));
    auto initialize =
        reinterpret_cast<InitializeFunction>(Libraries().GetProc(library.get(), "Initialize"));
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
