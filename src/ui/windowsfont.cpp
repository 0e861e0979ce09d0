// The fonts the windows are designed in.
#include "ui/windowsfont.h"

#include <QStringList>

QFont windowsFont(Typeface face, qreal pointSize, bool bold)
{
    // The Windows fonts are rarely installed elsewhere; each falls back to a font that has the
    // Japanese glyphs, so no text turns into empty boxes.
    QStringList families;
    QFont::StyleHint hint = QFont::SansSerif;
    switch (face) {
    case Typeface::PGothic:
        families << QStringLiteral("ＭＳ Ｐゴシック") << QStringLiteral("MS PGothic")
                 << QStringLiteral("Noto Sans CJK JP");
        break;
    case Typeface::Gothic:
        families << QStringLiteral("ＭＳ ゴシック") << QStringLiteral("MS Gothic")
                 << QStringLiteral("Noto Sans Mono CJK JP") << QStringLiteral("Noto Sans CJK JP");
        hint = QFont::Monospace;
        break;
    case Typeface::TimesNewRoman:
        families << QStringLiteral("Times New Roman") << QStringLiteral("Liberation Serif")
                 << QStringLiteral("Nimbus Roman") << QStringLiteral("DejaVu Serif")
                 << QStringLiteral("Noto Serif CJK JP");
        hint = QFont::Serif;
        break;
    }
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(hint);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QFont uiFont(qreal pointSize, bool bold) { return windowsFont(Typeface::PGothic, pointSize, bold); }
