// The page address the window starts with: one taken off the clipboard, or "http://".
#pragma once

#include <QString>

// What the address box shows at start-up for the given clipboard text: the whole text when it
// begins with "ftp://", "http://" or "https://" (any letter case), otherwise "http://"; one
// trailing CR LF is removed.
QString startAddress(const QString& clipboardText);
