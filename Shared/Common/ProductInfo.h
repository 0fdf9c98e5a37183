// Product information: where the product keeps its settings, and its message library.
//
// "ProductInfo2.ini" beside the host executable names the product's registry root and message
// file. It is read once during start-up, before any other thread exists; the values never
// change afterwards and need no locking.
#pragma once

#include <string>

#include "Common/ConfigurationNames.h"
#include "Platform/Api/Platform.h"

class ProductInfo {
public:
    static constexpr const wchar_t* kFileName = ConfigurationNames::kProductInfoFile;
    static constexpr const wchar_t* kSection = ConfigurationNames::kProductInfoSection;
    // Part of the product's event source names; the event reporters strip it.
    static constexpr const wchar_t* kProductName = L"Velquor";

    // Reads the section "ProductInfo" of the file; a missing file, section or key gives the default.
    static ProductInfo ReadFile(const std::wstring& iniPath);
    // The settings file path for an executable: its directory, or the bare name without one.
    static std::wstring FilePathBeside(const std::wstring& executablePath);

    // Key path below HKEY_LOCAL_MACHINE of every product-wide value; may be empty.
    [[nodiscard]] const std::wstring& RegistryRoot() const { return m_registryRoot; }
    [[nodiscard]] const std::wstring& MessageFile() const { return m_messageFile; }
    [[nodiscard]] const std::wstring& AuditMessageFile() const { return m_auditMessageFile; }
    [[nodiscard]] const std::wstring& EventLogName() const { return m_eventLogName; }

    // Loads the message library as a data file from "ProductInstallPath", or by its bare name
    // when there is no registry root. Every failure gives an empty handle; the caller owns it.
    [[nodiscard]] Qx::Platform::Library LoadMessageModule() const;

private:
    std::wstring m_registryRoot;
    std::wstring m_messageFile = L"QxMessages.dll";
    std::wstring m_auditMessageFile;
    std::wstring m_eventLogName = L"Application";
};

// The process-wide values, read from the file beside the executable on first use.
const ProductInfo& GetProductInfo();

// The path of one of the product's libraries: "ProductInstallPath" below registryRoot (REG_SZ or
// REG_EXPAND_SZ, unexpanded, NUL-terminated) followed directly by fileName, without adding a
// separator. Raises HRXEx: HRESULT_FROM_WIN32 of a registry error, E_INVALIDARG when the value
// is missing, mistyped or empty of data.
std::wstring ProductLibraryPath(const std::wstring& registryRoot, const wchar_t* fileName);

// Reads a string value below the product registry root: REG_SZ or REG_EXPAND_SZ, unexpanded.
// The buffer starts at the reported size and doubles while the read answers ERROR_MORE_DATA.
// Returns false when the value cannot be read or its size is 0.
bool ReadProductString(Qx::Platform::NativeHandle key, const wchar_t* name, std::wstring& value);
