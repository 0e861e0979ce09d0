// The fonts the windows are designed in, and the installed fonts that stand in for them.
#pragma once

#include <QFont>

// The typefaces of the designs: "ＭＳ Ｐゴシック", "ＭＳ ゴシック" and "Times New Roman".
enum class Typeface { PGothic, Gothic, TimesNewRoman };

// The typeface as named on Windows, falling back to an installed font of the same kind that can
// show Japanese.
QFont windowsFont(Typeface face, qreal pointSize, bool bold = false);

// The font every window and the application as a whole are designed in (ＭＳ Ｐゴシック).
QFont uiFont(qreal pointSize = 9, bool bold = false);
