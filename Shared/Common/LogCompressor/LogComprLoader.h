// Loads the product's log compressor, QxLogCompr.dll, for the life of the running service.
//
// Threads: Load and Unload run on the service thread during the start and the stop; no lock.
#pragma once

#include "Common/LogCompressor/stdex/Singleton.h"
#include "Platform/Api/Platform.h"

class CLogComprLdr {
public:
    using InitializeFunction = HRESULT (*)();
    using ShutdownFunction = void (*)();

    static constexpr const wchar_t* kLibraryName = L"QxLogCompr.dll";

    // Loads the library from "ProductInstallPath" (the file name is appended without a
    // separator) and calls its Initialize. A loaded library is unloaded first. Raises HRXEx on
    // any failure, and then nothing stays loaded.
    void Load();

    // Calls Shutdown and frees the library; does nothing when none is loaded. Never raises.
    void Unload() noexcept;

    [[nodiscard]] bool IsLoaded() const { return static_cast<bool>(m_module); }

private:
    Qx::Platform::Library m_module;
};

using LogComprLdr = stdex::singleton<CLogComprLdr>;
