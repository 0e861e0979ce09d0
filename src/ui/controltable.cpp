// Building and placing a window from its table of controls.
#include "ui/controltable.h"

#include "ui/captionfit.h"
#include "ui/separatesiblings.h"
#include "ui/twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHash>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

namespace {

// The window's margin: the designs keep this much free along the right edge.
constexpr int marginTwips = 240;

QWidget* makeControl(ControlKind kind, QWidget* parent)
{
    switch (kind) {
    case ControlKind::Label:
    case ControlKind::Image:
        return new QLabel(parent);
    case ControlKind::CommandButton:
        return new QPushButton(parent);
    case ControlKind::CheckBox:
        return new QCheckBox(parent);
    case ControlKind::OptionButton:
        return new QRadioButton(parent);
    case ControlKind::TextBox:
        return new QLineEdit(parent);
    case ControlKind::ListBox:
        return new QListWidget(parent);
    case ControlKind::DriveList:
        return new QComboBox(parent);
    case ControlKind::FolderTree:
        return new QTreeView(parent);
    case ControlKind::FileList:
        return new QListView(parent);
    case ControlKind::Frame:
        break;
    }
    return new QWidget(parent);
}

void setCaption(QWidget* widget, const QString& caption)
{
    if (caption.isEmpty())
        return;
    if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(caption);
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(caption);
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
        edit->setText(caption);
}

void setColor(QWidget* widget, QPalette::ColorRole role, const QColor& color)
{
    if (!color.isValid())
        return;
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

QWidget* makeRow(const ControlRow& row, QWidget* parent, const FormDesign& design)
{
    QWidget* widget = row.maker ? row.maker(parent) : makeControl(row.kind, parent);
    widget->setObjectName(QLatin1String(row.name));
    if (row.kind != ControlKind::Image)
        setCaption(widget, row.caption);
    if (row.fontSpec.pointSize > 0) {
        QFont font = windowsFont(row.fontSpec.face, row.fontSpec.pointSize, row.fontSpec.bold);
        font.setUnderline(row.fontSpec.underline);
        widget->setFont(font);
    }
    setColor(widget, QPalette::WindowText, row.text);
    setColor(widget, QPalette::Base, row.base);
    if (auto* label = qobject_cast<QLabel*>(widget); label && design.labelAlignment)
        label->setAlignment(design.labelAlignment);
    if (auto* button = qobject_cast<QAbstractButton*>(widget); button && row.isChecked)
        button->setChecked(true);
    if (!row.accessible.isEmpty())
        widget->setAccessibleName(row.accessible);
    if (row.keep)
        row.keep(widget);
    return widget;
}

void showPicture(QLabel* image, const QString& resource)
{
    image->setAlignment(Qt::AlignCenter);
    const int side = qMin(image->width(), image->height());
    image->setPixmap(QIcon(resource).pixmap(QSize(side, side), image->devicePixelRatioF()));
}

// The right edge a caption may grow to, in its parent's coordinates.
int captionLimit(const ControlRow& row, QWidget* widget, const QHash<QByteArray, QWidget*>& made,
    const QSize& client)
{
    const QWidget* parent = widget->parentWidget();
    const int parentWidth = row.parent ? parent->width() : client.width();
    switch (row.room) {
    case CaptionRoom::Designed:
    case CaptionRoom::Unbounded:
        break;
    case CaptionRoom::ToNeighbour:
        return made.value(row.fitTo)->x();
    case CaptionRoom::ToMargin:
        return parentWidth - twipsToPixels(marginTwips, parent);
    case CaptionRoom::ToEdge:
        return parentWidth;
    }
    return QWIDGETSIZE_MAX;
}

// A frame clips its children: it grows around its centre until its buttons fit in it.
void growAroundChildren(QWidget* frame)
{
    int top = 0;
    int bottom = frame->height();
    const QList<QWidget*> children = frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const QWidget* child : children) {
        top = qMin(top, child->y());
        bottom = qMax(bottom, child->geometry().bottom() + 1);
    }
    if (top == 0 && bottom == frame->height())
        return;
    frame->setGeometry(frame->geometry().adjusted(0, top, 0, bottom - frame->height()));
    for (QWidget* child : children)
        child->move(child->x(), child->y() - top);
}

} // namespace

void buildForm(QWidget* form, const FormDesign& design, const QList<ControlRow>& rows)
{
    const QSize client = twipsRect(form, 0, 0, design.widthTwips, design.heightTwips).size();
    // The window keeps its design size; dragging its border changes nothing.
    form->setFixedSize(client);
    form->setFont(uiFont());

    QHash<QByteArray, QWidget*> made;
    for (const ControlRow& row : rows) {
        QWidget* parent = row.parent ? made.value(row.parent) : form;
        QWidget* widget = makeRow(row, parent, design);
        const QRect& box = row.box;
        widget->setGeometry(twipsRect(parent, box.x(), box.y(), box.width(), box.height()));
        made.insert(row.name, widget);
        if (row.kind == ControlKind::Image)
            showPicture(static_cast<QLabel*>(widget), row.caption);
    }
    for (const ControlRow& row : rows) {
        if (!row.buddy)
            continue;
        auto* label = static_cast<QLabel*>(made.value(row.name));
        QWidget* named = made.value(row.buddy);
        label->setBuddy(named);
        named->setAccessibleName(label->text());
    }

    // The design's fonts are narrower than the fonts found elsewhere: captions grow into free
    // room, never over a neighbour.
    const QWidget* previous = nullptr;
    for (const ControlRow& row : rows) {
        QWidget* widget = made.value(row.name);
        if (row.follows && previous && previous->parentWidget() == widget->parentWidget())
            widget->move(qMax(widget->x(), previous->geometry().right() + 1), widget->y());
        if (row.room != CaptionRoom::Designed)
            fitCaption(widget, captionLimit(row, widget, made, client));
        previous = widget;
    }
    for (const ControlRow& row : rows) {
        if (row.kind == ControlKind::Frame)
            growAroundChildren(made.value(row.name));
    }
    separateSiblings(form);
}
