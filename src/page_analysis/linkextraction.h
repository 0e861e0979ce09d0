// Reads pages and builds the download list: the JPEG addresses a page links to or embeds, and the
// crawl over the HTML pages in the given page's folder and below.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class RunHost;
class PageList;

// The attribute patterns, each ending in the value's opening double quote.
inline const QString srcPattern = QStringLiteral("src=\"");
inline const QString hrefPattern = QStringLiteral("href=\"");

// One page: clears the cancel and skip flags, applies the rule that skips the given page's own
// embedded images, collects the page's images and refreshes the file names and lstDownload.
// True when the page was processed or skipped; False after a failure or a cancel.
bool Make_PageList(RunHost& host, const QString& page, const QString& pattern);

// Fetches the page, scans it for pattern and appends every JPEG value to the download list.
void Make_DownloadList(RunHost& host, const QString& page, const QString& pattern);

// The crawl from page: depth-first in document order, never above the start folder, never a page
// twice. Stops on blnCancel.
void Get_PageLinks(RunHost& host, const QString& page);

// The links the crawl follows from page once it reads body there by the text scan, found without a
// yield: for a small page fetched ahead, whose own links are then fetched ahead in turn.
QStringList followedLinks(const QString& page, const QByteArray& body);

// True when no element of list equals text exactly.
bool Is_NotListed(const QString& text, const PageList& list);
