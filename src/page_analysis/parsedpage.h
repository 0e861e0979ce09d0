// A page read as browsers parse it (HTML5, by libgumbo): its images, its links to JPEG files and
// its links to pages, for sites that write their images into srcset, <picture> and lazy-loading
// attributes and their pages under folder addresses.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class RunHost;

struct ParsedPage
{
    // One address per image: the JPEG that the link around it opens, else its largest JPEG. An
    // image and its <noscript> twin are one image. Document order, each address once.
    QStringList images;
    // The JPEG targets of <a href> and <area href>, in document order, each once.
    QStringList jpegLinks;
    // The targets of <a href>, <area href>, <frame src> and <iframe src> whose path names a page
    // (isPagePath), in document order.
    QStringList pageLinks;
    // The page was not parsed (all lists empty): it is larger than 16 MB, or nests its elements
    // so deeply that the parser, which cannot be interrupted, would hold the window for seconds.
    bool tooComplex = false;
};

// Parses text, the decoded page served from page. Every address is resolved (Get_LinkAbsURL)
// against the page's <base href> when it has one, else against page, and comes without its
// fragment; one that does not resolve, or names another scheme than http, https or ftp (data:,
// mailto:, javascript:), is dropped. Comments, scripts and templates hold no markup; <noscript>
// does. Yields to the host at its start and at least every 10 ms of work; nothing when blnCancel
// is found set.
std::optional<ParsedPage> parsePage(RunHost& host, const QString& text, const QString& page);
