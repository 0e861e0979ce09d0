// The pages the crawl will read next, fetched while it reads the current one.
#pragma once

#include "web/fetchesahead.h"

#include <QString>
#include <QStringList>

class PageList;
class RunHost;
struct FetchResult;
struct RunState;

class PagesAhead
{
public:
    // state must outlive the object.
    explicit PagesAhead(RunState& state);
    ~PagesAhead();
    PagesAhead(const PagesAhead&) = delete;
    PagesAhead& operator=(const PagesAhead&) = delete;

    // Starts fetching the first addresses of links[from...] (at most lookedAtMost looked at), in
    // order, that are not yet read (listed) nor fetched ahead, while the run's fetches ahead have
    // room (AheadShare), fewer while images are fetched beside (crawlFetchesImages). The same is
    // done again whenever a fetch ahead ends. listed must outlive the object.
    void fetchAhead(const QStringList& links, qsizetype from, const PageList& listed);
    // Reads page as Get_UrlData would, status texts included: from its fetch ahead when there is
    // one, else by a fetch of its own.
    FetchResult read(RunHost& host, const QString& page, QByteArray& data);
    // Ends the fetch ahead of a page whose turn has come but that was read meanwhile under another
    // address (a redirect's).
    void forget(const QString& page);

    static constexpr qsizetype lookedAtMost = 64;
    static constexpr qsizetype mostHeld = 64;

private:
    void fill();

    RunState& m_state;
    // The links the last fetchAhead looked at: a connection freed while the crawl waits for its
    // page is given to the next of them at once.
    QStringList m_candidates;
    const PageList* m_listed = nullptr;
    FetchesAhead<QString> m_ahead;
};
