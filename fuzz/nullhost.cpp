// A main window that shows nothing, for the fuzz targets.
#include "nullhost.h"
