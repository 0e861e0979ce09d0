// Twips, the unit every window's design is measured in, turned into pixels.
#pragma once

#include <QRect>

class QWidget;

// Twips (1/1440 inch) in pixels at the widget's logical resolution.
int twipsToPixels(int twips, const QWidget* widget);

// A rectangle given in twips, in pixels.
QRect twipsRect(const QWidget* widget, int left, int top, int width, int height);
