// The one box that tells a failed write of the program's own files.
#include "store/writefailure.h"

#include "platform/messagebox.h"
#include "resources/messages.h"
#include "run/runstate.h"

void showWriteFailure(RunState& state, int errorNumber, const QString& text)
{
    if (state.shownWriteError == errorNumber)
        return;
    state.shownWriteError = errorNumber;
    showMessage(text, MessageIcon::Critical, Msg::titleError);
}
