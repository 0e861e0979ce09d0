// Brings a top-level window in front of the user, as a later start of the program asks.
#pragma once

class QWidget;

// Shows the window normal again when it is minimised or hidden (a maximised window stays
// maximised), raises it above the others and gives it the input focus, or to its open modal dialog.
void bringForward(QWidget& window);
