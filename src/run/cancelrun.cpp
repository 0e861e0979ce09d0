// What the Cancel button does once the user has answered Yes.
#include "run/cancelrun.h"

#include "resources/messages.h"
#include "run/runhost.h"
#include "run/runstate.h"
#include "store/downloadlist.h"
#include "web/fetcher.h"

void Cancel_Run(RunHost& host)
{
    RunState& state = host.runState();
    stopTransfers(state);
    if (state.lngDownloadMax() != -1)
        Write_DownloadList(host);
    host.Show_Info(Msg::interrupted);
    host.setCaption(Msg::appName);
    host.Set_Controls(true);
}
