// The product's self-defence driver, asked for its mode.
#pragma once

#include <cstdint>

#include "Platform/Api/HResult.h"

namespace Qx::Platform {

// The product's self-defence driver.
class ISelfDefenceDriver {
public:
    virtual ~ISelfDefenceDriver() = default;
    // Opens the driver's device, asks for its mode and closes it again. Native statuses come back
    // as HRESULTs with bit 28 set; a failed control request as HRESULT_FROM_WIN32 of its error.
    [[nodiscard]] virtual HRESULT QueryMode(std::uint32_t& mode) = 0;
};

} // namespace Qx::Platform
