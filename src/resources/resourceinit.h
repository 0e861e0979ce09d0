// Makes the program's Qt resources (the icon) reachable under ":/".
#pragma once

// Registers the resources compiled into the GUI library; safe to call more than once. The
// resources live in a static library, so nothing registers them until this runs.
void initPixhoundResources();
