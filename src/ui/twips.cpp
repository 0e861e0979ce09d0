// Twips turned into pixels.
#include "ui/twips.h"

#include <QWidget>

int twipsToPixels(int twips, const QWidget* widget)
{
    return qRound(twips * widget->logicalDpiX() / 1440.0);
}

QRect twipsRect(const QWidget* widget, int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left, widget), twipsToPixels(top, widget),
        twipsToPixels(width, widget), twipsToPixels(height, widget));
}
