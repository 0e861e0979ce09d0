// Placing the dialogs' controls: layouts are measured in twips and fonts named as on Windows.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

class QLabel;
class QWidget;

// Twips (1/1440 inch) in pixels at the widget's logical resolution.
int twipsToPixels(int twips, const QWidget* widget);

// A rectangle given in twips, in pixels.
QRect twipsRect(const QWidget* widget, int left, int top, int width, int height);

// The font named as on Windows ("ＭＳ Ｐゴシック", "ＭＳ ゴシック", "Times New Roman"), falling
// back to an installed font of the same kind that can show Japanese.
QFont windowsFont(const QString& family, qreal pointSize, bool bold = false);

// Moves apart the visible child controls of parent whose boxes overlap. The designs let
// neighbours share an edge pixel, and boxes grown for a taller font reach into the next row.
// A box side by side with another loses its overlap from its right edge, one above another from
// its bottom edge, as far as its caption still fits; the rest is taken from the other box's near
// edge, and what remains moves the other box right or down.
void separateSiblings(QWidget* parent);

// Grows a label that its font does not fit: wider to the right, taller evenly up and down. The
// layouts were made for narrower Windows fonts than the ones that stand in for them.
void fitLabelToText(QLabel* label);
