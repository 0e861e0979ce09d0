// The validity test of addresses: what the program asks before it trusts a string as an address.
#pragma once

#include <QString>

// True when text starts with a scheme of two or more characters (a letter, then letters, digits,
// "+", "-" or ".") followed by ":", and holds no control character. "http://" and
// "http://host/a/index.htm" are valid; "index.htm", "host/page.htm" and "C:\x" are not.
bool isValidUrl(const QString& text);

// True when text is a valid address (isValidUrl) that the program can fetch: http, https or ftp
// in any case, then "://" and a host. "http://" alone, "localhost:8080/page.html" (the scheme
// "localhost"), "file:///x" and "javascript:x" are not.
bool isFetchedAddress(const QString& text);
