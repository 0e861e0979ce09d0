// Opens the program's help: the help page shipped with the program, in the default browser.
#pragma once

// Errors are ignored: a help page that cannot be opened simply does not open.
void openHelp();
