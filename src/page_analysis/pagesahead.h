// The pages the crawl will read next, fetched while it reads the current one.
#pragma once

#include "web/fetchesahead.h"

#include <QString>
#include <QStringList>

#include <map>
#include <optional>

class PageList;
class RunHost;
struct FetchResult;
struct RunState;

class PagesAhead
{
public:
    // state must outlive the object. modern: pages are read as browsers read them, and the links
    // of a page fetched ahead are found only at its turn.
    PagesAhead(RunState& state, bool modern);
    ~PagesAhead();
    PagesAhead(const PagesAhead&) = delete;
    PagesAhead& operator=(const PagesAhead&) = delete;

    // Starts fetching the first of next (the pages the crawl reads next, in its order) that are
    // not yet read (listed) nor fetched ahead, while the run's fetches ahead have room
    // (AheadShare), fewer while images are fetched beside (crawlFetchesImages). A page fetched
    // ahead in full has its own links fetched ahead too, before the pages after it. The same is
    // done again whenever a fetch ahead ends. listed must outlive the object.
    void fetchAhead(QStringList next, const PageList& listed);
    // Reads page as Get_UrlData would, status texts included: from its fetch ahead when there is
    // one, else by a fetch of its own.
    FetchResult read(RunHost& host, const QString& page, QByteArray& data);
    // The links to follow that were found in page while it was fetched ahead, when they were: its
    // body, just read, holds the same.
    std::optional<QStringList> takeLinksFound(const QString& page);
    // Ends the fetch ahead of a page whose turn has come but that was read meanwhile under another
    // address (a redirect's).
    void forget(const QString& page);

    // The most pages given as the next ones, and looked at in one filling, those found in the
    // pages ahead included.
    static constexpr qsizetype lookedAtMost = 64;
    static constexpr qsizetype mostHeld = 64;
    // Larger pages are scanned only at their turn, where the scan yields to the window.
    static constexpr qsizetype scannedAheadAtMost = 256 * 1024;
    // How many pages deep below the next ones their links are fetched ahead.
    static constexpr int deepest = 2;

private:
    void fill();
    // False once no more may start.
    bool fillFrom(const QStringList& links, int depth, qsizetype& looked, qsizetype most);
    const QStringList* linksFoundIn(const QString& page);

    RunState& m_state;
    const bool m_modern;
    // The pages the last fetchAhead was given: a connection freed while the crawl waits for its
    // page is given to the next of them at once.
    QStringList m_candidates;
    const PageList* m_listed = nullptr;
    FetchesAhead<QString> m_ahead;
    // The links of the pages fetched ahead in full, found once each; none for a page that is
    // scanned only at its turn.
    std::map<QString, std::optional<QStringList>> m_linksFound;
};
