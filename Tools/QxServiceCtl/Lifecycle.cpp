#include "Lifecycle.h"

namespace QxServiceCtl {

Progress ProgressTowards(Goal goal, std::uint32_t state, bool processEnded)
{
    const bool stopped = state == kStateStopped || processEnded;
    if (goal == Goal::Stopped) {
        return stopped ? Progress::Reached : Progress::Waiting;
    }
    if (stopped) {
        return Progress::Failed;
    }
    return state == kStateRunning ? Progress::Reached : Progress::Waiting;
}

} // namespace QxServiceCtl
