// Events as the host reports them, for the tests and benchmarks of the event chain.
#pragma once

#include "Common/audit/EventRecord.h"

namespace Qx::Testing {

// A start that failed, with the insertion strings the host gives it: the display name's
// message reference and the error text.
inline EventRecord StartFailedEvent()
{
    EventRecord event(EventRecord::kServiceStartFailed);
    event.SetString(4, L"%%7");
    event.SetString(6, L"Call failed.");
    return event;
}

} // namespace Qx::Testing
