// Turns the bytes of a fetched page into the text that the link scans read.
#pragma once

#include <QByteArray>
#include <QString>

// Decodes a page: a byte-order mark decides first (UTF-8, UTF-16 or UTF-32, the mark dropped);
// then a charset named in a meta element within the first 1024 bytes (every Shift_JIS name means
// code page 932); then UTF-8 when the bytes are valid UTF-8; code page 932 otherwise. Never fails:
// bytes that do not decode become U+FFFD (U+001A, the substitute character, in code page 932).
QString decodePageText(const QByteArray& bytes);

// The charset named by the first meta element within the first 1024 bytes, in lower case; empty
// when there is none.
QByteArray declaredCharset(const QByteArray& bytes);
