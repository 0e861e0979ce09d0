// The one way the program hands an address to the desktop.
#include "platform/urlopener.h"

#include <utility>

namespace {
UrlOpener& opener()
{
    static UrlOpener installed;
    return installed;
}
} // namespace

bool openUrl(const QUrl& url) { return opener() && opener()(url); }

UrlOpener installUrlOpener(UrlOpener newOpener)
{
    return std::exchange(opener(), std::move(newOpener));
}
