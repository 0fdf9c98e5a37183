// The registry settings of the logger library QxLogger.dll: part of its contract, so that the
// library reads them from this header alone, and the host's table of every name it documents for
// operators (Common/ConfigurationNames.h) takes them from here.
#pragma once

namespace LoggerSettingsNames {

inline constexpr const wchar_t* kLoggerSettingsKey = L"SOFTWARE\\Qx\\QxLogger";
// A service's own settings: this prefix followed by the service name.
inline constexpr const wchar_t* kLoggerServiceSettingsKey = L"SOFTWARE\\Qx\\QxLogger\\Services\\";
inline constexpr const wchar_t* kLogLevel = L"LogLevel";
inline constexpr const wchar_t* kKeepLogFiles = L"KeepLogFiles";

} // namespace LoggerSettingsNames
