// The real message boxes: what main() installs with installMessageBoxPresenter().
#pragma once

#include "platform/messagebox.h"

// Shows the request as a modal box over the active window, with its icon, buttons, default button,
// title and text (CR LF shown as line breaks, never read as markup), and returns the button
// pressed. A box closed without a button answers Cancel or No where the box has one, else OK.
MessageAnswer presentMessageBox(const MessageBoxRequest& request);
