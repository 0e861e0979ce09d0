// Keeps every caption whole.
#include "ui/captionfit.h"

namespace {
// Below this the caption would be harder to read than slightly clipped.
constexpr qreal smallestPointSize = 6.0;
} // namespace

void fitCaption(QWidget* widget, int rightLimit)
{
    QRect geometry = widget->geometry();
    QSize wanted = widget->sizeHint();
    const int room = rightLimit - geometry.left();
    while (wanted.width() > room && widget->font().pointSizeF() > smallestPointSize) {
        QFont smaller = widget->font();
        smaller.setPointSizeF(smaller.pointSizeF() - 0.5);
        widget->setFont(smaller);
        wanted = widget->sizeHint();
    }
    if (wanted.width() > geometry.width())
        geometry.setWidth(qMin(wanted.width(), room));
    if (wanted.height() > geometry.height()) {
        const int grow = wanted.height() - geometry.height();
        geometry.adjust(0, -grow / 2, 0, grow - grow / 2);
    }
    widget->setGeometry(geometry);
}
