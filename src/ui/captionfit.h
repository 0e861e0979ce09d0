// Keeps every caption whole when the installed fonts are larger than the ones a layout was
// designed with.
#pragma once

#include <QWidget>

// Grows a label, check box or option button that is too small for its caption: its height around
// its centre, its width to the right up to rightLimit (in its parent's coordinates; by default
// as far as it needs). When the caption still does not fit, its font is made smaller, half a
// point at a time, until it does.
void fitCaption(QWidget* widget, int rightLimit = QWIDGETSIZE_MAX);
