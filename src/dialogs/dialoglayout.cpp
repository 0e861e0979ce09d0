// Placing the dialogs' controls.
#include "dialogs/dialoglayout.h"

#include <QLabel>
#include <QStringList>
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

QFont windowsFont(const QString& family, qreal pointSize, bool bold)
{
    // The Windows fonts are rarely installed elsewhere; each falls back to a font that has the
    // Japanese glyphs, so no text turns into empty boxes.
    QStringList families { family };
    QFont::StyleHint hint = QFont::SansSerif;
    if (family == u"ＭＳ Ｐゴシック") {
        families << QStringLiteral("MS PGothic") << QStringLiteral("Noto Sans CJK JP");
    } else if (family == u"ＭＳ ゴシック") {
        families << QStringLiteral("MS Gothic") << QStringLiteral("Noto Sans Mono CJK JP")
                 << QStringLiteral("Noto Sans CJK JP");
        hint = QFont::Monospace;
    } else if (family == u"Times New Roman") {
        families << QStringLiteral("Liberation Serif") << QStringLiteral("Nimbus Roman")
                 << QStringLiteral("DejaVu Serif") << QStringLiteral("Noto Serif CJK JP");
        hint = QFont::Serif;
    } else {
        families << QStringLiteral("Noto Sans CJK JP");
    }
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(hint);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

void fitLabelToText(QLabel* label)
{
    const QSize needed = label->sizeHint();
    QRect geometry = label->geometry();
    if (needed.width() > geometry.width())
        geometry.setWidth(needed.width());
    if (needed.height() > geometry.height()) {
        const int extra = needed.height() - geometry.height();
        geometry.adjust(0, -extra / 2, 0, extra - extra / 2);
    }
    label->setGeometry(geometry);
}
