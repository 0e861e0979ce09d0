// A window's controls as one table: what each control is, its caption and its place in twips.
// The window is built and placed from the table alone.
#pragma once

#include "ui/windowsfont.h"

#include <QColor>
#include <QList>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>

enum class ControlKind {
    Label,
    CommandButton,
    CheckBox,
    OptionButton,
    TextBox,
    ListBox,
    Frame,
    DriveList,
    FolderTree,
    FileList,
    Image, // its caption is the resource path of the picture, shown centred at the largest size
};

// How far a control may grow to fit its caption in the installed fonts.
enum class CaptionRoom {
    Designed, // keeps its designed box
    Unbounded, // as wide as the caption needs
    ToNeighbour, // up to the left edge of the control named in fitTo
    ToMargin, // up to the window's right margin (240 twips)
    ToEdge, // up to its parent's right edge
};

struct ControlFont
{
    Typeface face = Typeface::PGothic;
    qreal pointSize = 0; // 0: the window's own font
    bool bold = false;
    bool underline = false;
};

// One control: the five columns every control has, then the attributes the few that need them
// add, each by a call that returns the row (`.font(heading).fitsUpTo("cmdDownload")`).
struct ControlRow
{
    using Keep = std::function<void(QWidget*)>;
    using Make = QWidget* (*)(QWidget* parent);

    // keep stores the made control in the window's member (see keepIn); empty when not kept.
    // box is in twips, in the parent's coordinates.
    ControlRow(Keep keep, ControlKind kind, const char* name, const QString& caption, QRect box)
        : keep(std::move(keep))
        , kind(kind)
        , name(name)
        , caption(caption)
        , box(box)
    { }

    ControlRow font(ControlFont value) const { return with(&ControlRow::fontSpec, value); }
    ControlRow textColor(QColor value) const { return with(&ControlRow::text, value); }
    ControlRow background(QColor value) const { return with(&ControlRow::base, value); }
    ControlRow checked() const { return with(&ControlRow::isChecked, true); }
    // The frame it sits in; without this, the window itself.
    ControlRow inFrame(const char* frame) const { return with(&ControlRow::parent, frame); }
    // A row of buttons in a frame: it starts no further left than where the one before it ends.
    ControlRow followsPrevious() const { return with(&ControlRow::follows, true); }
    // For a label: the control it names, which a screen reader then calls by the label's caption.
    ControlRow names(const char* control) const { return with(&ControlRow::buddy, control); }
    // What a screen reader calls a control that shows no caption of its own.
    ControlRow accessibleName(const QString& value) const
    {
        return with(&ControlRow::accessible, value);
    }
    // Makes the control instead of the kind's standard widget (a widget class of the window's own).
    ControlRow madeBy(Make make) const { return with(&ControlRow::maker, make); }
    ControlRow fitsFreely() const { return with(&ControlRow::room, CaptionRoom::Unbounded); }
    ControlRow fitsToMargin() const { return with(&ControlRow::room, CaptionRoom::ToMargin); }
    ControlRow fitsToEdge() const { return with(&ControlRow::room, CaptionRoom::ToEdge); }
    ControlRow fitsUpTo(const char* neighbour) const
    {
        return with(&ControlRow::fitTo, neighbour)
            .with(&ControlRow::room, CaptionRoom::ToNeighbour);
    }

    Keep keep;
    ControlKind kind;
    const char* name;
    QString caption;
    QRect box;
    ControlFont fontSpec {};
    QColor text {};
    QColor base {};
    CaptionRoom room = CaptionRoom::Designed;
    const char* fitTo = nullptr;
    const char* parent = nullptr;
    bool follows = false;
    bool isChecked = false;
    const char* buddy = nullptr;
    QString accessible {};
    Make maker = nullptr;

private:
    template <typename Field, typename Value>
    ControlRow with(Field ControlRow::*field, Value value) const
    {
        ControlRow row = *this;
        row.*field = value;
        return row;
    }
};

struct FormDesign
{
    int widthTwips;
    int heightTwips;
    // Set on every label when given: captions of different heights then line up.
    Qt::Alignment labelAlignment {};
};

// Stores a made control in a member of its own type (null when the row's kind makes another).
template <typename Widget> std::function<void(QWidget*)> keepIn(Widget*& member)
{
    return [&member](QWidget* widget) { member = qobject_cast<Widget*>(widget); };
}

// Gives form its design size (fixed), its font and the controls of rows in their order (which is
// also their tab order unless the window sets another), placed in twips. Captions then grow into
// the room their rows allow, a frame grows around its centre to hold its buttons, and controls
// that still overlap are moved apart.
void buildForm(QWidget* form, const FormDesign& design, const QList<ControlRow>& rows);
