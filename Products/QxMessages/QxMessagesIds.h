// Identifiers of the messages in QxMessages.dll, as built from QxMessages.mc. The service events'
// identifiers are the host's own, EventRecord::kServiceStarted and its siblings.
#pragma once

#include <cstdint>

namespace QxMessages {

// Display names of the sample services (severity success, facility 0).
inline constexpr std::uint32_t kMsgDisplayNameSample = 0x00000001;
inline constexpr std::uint32_t kMsgDisplayNameTest = 0x00000002;
inline constexpr std::uint32_t kMsgDisplayNameDemo = 0x00000003;

// An error text of the product's own. windmc sets the customer bit only for a whole table, so this
// identifier has it clear.
inline constexpr std::uint32_t kMsgServiceModuleListInvalid = 0xC0011001;
// The same kind of text, in German only: found only by a lookup that names German.
inline constexpr std::uint32_t kMsgServiceModuleRefusedGermanOnly = 0xC0011002;

} // namespace QxMessages
