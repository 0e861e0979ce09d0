// The fetches ahead of a run and the budget they share.
#include "web/fetchesahead.h"

std::shared_ptr<AheadShare> runAheadShare(RunState& state)
{
    if (!state.aheadShare)
        state.aheadShare = std::make_shared<AheadShare>();
    return state.aheadShare;
}
