// What an address is taken for by its ending: a JPEG image or a page to follow.
#pragma once

#include <QLatin1StringView>
#include <QStringView>

// The ASCII capitals as lower-case letters; every other character as it is.
inline char16_t asciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }

// True when text, ignoring the letter case of ASCII letters only, ends with suffix (lower case).
bool endsWithAsciiNoCase(QStringView text, QLatin1StringView suffix);

// The value tests, on the raw value: a JPEG image ends in "jpg" or "jpeg", a page to follow in
// "htm" or "html", in any letter case, with no dot required.
bool isImageValue(QStringView value);
bool isPageValue(QStringView value);

// The path of an address or link: the text before its first "?" or "#".
QStringView pathPart(QStringView address);
// The tests of pages read as browsers read them, on the path part alone, so that a query or a
// fragment never hides what the address names: a JPEG ends in ".jpg" or ".jpeg"; a page ends in
// "/", ".htm", ".html", ".xhtml", ".php", ".asp" or ".aspx", or its last segment has no dot.
bool isJpegPath(QStringView address);
bool isPagePath(QStringView address);
