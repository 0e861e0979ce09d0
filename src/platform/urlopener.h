// The one way the program hands an address to the desktop (a browser, a viewer). The window layer
// installs the desktop's opener; tests install one that records the address and answers as a
// desktop with or without a browser would.
#pragma once

#include <QUrl>
#include <functional>

// True when a program took the address.
using UrlOpener = std::function<bool(const QUrl&)>;

// Opens the address through the installed opener; false, opening nothing, when none is installed.
bool openUrl(const QUrl& url);

// Installs the opener and returns the one it replaces.
UrlOpener installUrlOpener(UrlOpener opener);
