// Moving apart the controls of a window whose boxes overlap.
#include "ui/separatesiblings.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

#include <algorithm>

namespace {

bool showsCaption(const QWidget* widget)
{
    return qobject_cast<const QLabel*>(widget) || widget->inherits("QCheckBox")
        || widget->inherits("QRadioButton");
}

// The size below which the control's caption or contents would be cut.
QSize neededSize(const QWidget* widget)
{
    const QSize hint = widget->sizeHint();
    if (!hint.isValid())
        return widget->size();
    if (showsCaption(widget))
        return hint;
    // Push buttons, lists and edit boxes keep their designed size where it is below the hint:
    // the hint asks for more room than their contents need. A push button may give up only the
    // width that its caption does not use.
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect contents
            = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const int text = button->fontMetrics().horizontalAdvance(button->text());
        return QSize(qMin(widget->width(), widget->width() - contents.width() + text),
            qMin(widget->height(), hint.height()));
    }
    return widget->size().boundedTo(hint);
}

// Takes up to overlap pixels from one edge of the box; returns how many it took.
int trimEdge(QWidget* widget, Qt::Edge edge, int overlap)
{
    QRect box = widget->geometry();
    const QSize needed = neededSize(widget);
    const bool across = edge == Qt::LeftEdge || edge == Qt::RightEdge;
    const int slack = across ? box.width() - needed.width() : box.height() - needed.height();
    const int taken = qBound(0, slack, overlap);
    switch (edge) {
    case Qt::LeftEdge:
        box.setLeft(box.left() + taken);
        break;
    case Qt::RightEdge:
        box.setRight(box.right() - taken);
        break;
    case Qt::TopEdge:
        box.setTop(box.top() + taken);
        break;
    case Qt::BottomEdge:
        box.setBottom(box.bottom() - taken);
        break;
    }
    widget->setGeometry(box);
    return taken;
}

} // namespace

void separateSiblings(QWidget* parent)
{
    QList<QWidget*> controls;
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && !widget->isWindow() && !widget->isHidden())
            controls.append(widget);
    }
    const auto readingOrder = [](const QWidget* a, const QWidget* b) {
        return a->y() != b->y() ? a->y() < b->y() : a->x() < b->x();
    };
    // A box that moves may meet a box that was already settled: go round until nothing moves.
    for (qsizetype round = 0; round <= controls.size(); ++round) {
        std::sort(controls.begin(), controls.end(), readingOrder);
        bool moved = false;
        for (qsizetype i = 0; i < controls.size(); ++i) {
            for (qsizetype j = i + 1; j < controls.size(); ++j) {
                QWidget* first = controls.at(i);
                QWidget* second = controls.at(j);
                const QRect overlap = first->geometry().intersected(second->geometry());
                if (overlap.isEmpty())
                    continue;
                moved = true;
                // One above the other when the lower one starts below the upper one's middle.
                if (second->y() >= first->geometry().center().y()) {
                    int rest = overlap.height();
                    rest -= trimEdge(first, Qt::BottomEdge, rest);
                    rest -= trimEdge(second, Qt::TopEdge, rest);
                    second->move(second->x(), second->y() + rest);
                } else {
                    QWidget* left = first->x() <= second->x() ? first : second;
                    QWidget* right = left == first ? second : first;
                    int rest = overlap.width();
                    rest -= trimEdge(left, Qt::RightEdge, rest);
                    rest -= trimEdge(right, Qt::LeftEdge, rest);
                    right->move(right->x() + rest, right->y());
                }
            }
        }
        if (!moved)
            return;
    }
}
