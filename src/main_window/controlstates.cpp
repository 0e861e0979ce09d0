// Which of the main window's controls can be used.
#include "main_window/controlstates.h"

ControlStates enabledControls(bool running, int method, int source)
{
    if (running)
        return ControlStates { .cancel = true };
    const bool fromPage = method != 1;
    return ControlStates { .download = true,
        .address = fromPage,
        .saveFolder = method == 0 || method == 1,
        .linkSource = fromPage,
        .skipGivenPage = fromPage && source == 1,
        .modernPages = fromPage,
        .method = true };
}
