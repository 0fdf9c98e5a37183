// The names of every registry value, key and ini key that the host and its logger library read,
// in one table. The readers take their names from here (the Parameters values from their reader's
// own constants), and a unit test checks that each of them appears in the operators' reference
// (docs/operators.md), so that a new setting cannot stay undocumented.
#pragma once

#include <array>

#include "Common/ServiceHost/ServiceConfiguration.h"
#include "ResKit/Logger/LoggerSettingsNames.h"

namespace ConfigurationNames {

// Where a name is read.
enum class Place {
    Parameters,     // HKLM\SYSTEM\CurrentControlSet\Services\<service>\Parameters
    ServiceKey,     // HKLM\SYSTEM\CurrentControlSet\Services\<service>
    ProductInfoIni, // [ProductInfo] of ProductInfo2.ini beside the host
    ProductRoot,    // HKLM\<RegistryRoot>
    Logger,         // HKLM\SOFTWARE\Qx\QxLogger, and Services\<service> below it
};

inline constexpr const wchar_t* kStopAccept = L"StopAccept";

inline constexpr const wchar_t* kWatchDogGuard = L"WatchDogGuard";

inline constexpr const wchar_t* kProductInfoFile = L"ProductInfo2.ini";
inline constexpr const wchar_t* kProductInfoSection = L"ProductInfo";
inline constexpr const wchar_t* kRegistryRoot = L"RegistryRoot";
inline constexpr const wchar_t* kMessageFile = L"MessageFile";
inline constexpr const wchar_t* kAuditMessageFile = L"AuditMessageFile";
inline constexpr const wchar_t* kEventLogName = L"EventLogName";

inline constexpr const wchar_t* kProductInstallPath = L"ProductInstallPath";
inline constexpr const wchar_t* kEventSource = L"EventSource";
inline constexpr const wchar_t* kDisabledEvents = L"DisabledEvents";
inline constexpr const wchar_t* kLanguage = L"Language";
inline constexpr const wchar_t* kUserDump = L"UserDump";

using LoggerSettingsNames::kKeepLogFiles;
using LoggerSettingsNames::kLoggerServiceSettingsKey;
using LoggerSettingsNames::kLoggerSettingsKey;
using LoggerSettingsNames::kLogLevel;

struct Name {
    Place place;
    const wchar_t* name;
};

inline constexpr std::array kAll = {
    Name{Place::Parameters, kServiceModulesValue},
    Name{Place::Parameters, kDisplayNameIdValue},
    Name{Place::Parameters, kSelfDefenceValue},
    Name{Place::Parameters, kLogCompressorValue},
    Name{Place::Parameters, kStopAccept},
    Name{Place::ServiceKey, kWatchDogGuard},
    Name{Place::ProductInfoIni, kProductInfoFile},
    Name{Place::ProductInfoIni, kProductInfoSection},
    Name{Place::ProductInfoIni, kRegistryRoot},
    Name{Place::ProductInfoIni, kMessageFile},
    Name{Place::ProductInfoIni, kAuditMessageFile},
    Name{Place::ProductInfoIni, kEventLogName},
    Name{Place::ProductRoot, kProductInstallPath},
    Name{Place::ProductRoot, kEventSource},
    Name{Place::ProductRoot, kDisabledEvents},
    Name{Place::ProductRoot, kLanguage},
    Name{Place::ProductRoot, kUserDump},
    Name{Place::Logger, kLoggerSettingsKey},
    Name{Place::Logger, kLoggerServiceSettingsKey},
    Name{Place::Logger, kLogLevel},
    Name{Place::Logger, kKeepLogFiles},
};

} // namespace ConfigurationNames
