// Text in code page 932 (Shift_JIS as Windows writes it), the code page of the program's files.
#pragma once

#include <QByteArray>
#include <QString>

// Decodes code page 932 bytes; bytes that are not valid CP932 become the code page's substitute
// character U+001A, and never take a neighbouring byte with them.
QString decodeCp932(const QByteArray& bytes);

// Encodes text in code page 932. A character the code page cannot hold is written as its UTF-8
// bytes percent-encoded ("€" becomes "%E2%82%AC") instead of being lost.
QByteArray encodeCp932(const QString& text);

// Decodes a text file: UTF-8 when it begins with a UTF-8 byte-order mark (dropped) or is valid
// UTF-8, code page 932 otherwise.
QString decodeUtf8OrCp932(const QByteArray& bytes);
