// The look-ahead of the download loop: while the loop handles one entry, the entries after it are
// already being fetched in the window's pool, within the budget of the fetches ahead.
#pragma once

#include "platform/pathrules.h"
#include "web/fetchesahead.h"

#include <QHash>
#include <QString>

#include <memory>

class FetchAhead
{
public:
    // folder: the folder of the run, ending in the separator. state must outlive the object.
    FetchAhead(RunState& state, const QString& folder, const PathConventions& conventions);
    FetchAhead(const FetchAhead&) = delete;
    FetchAhead& operator=(const FetchAhead&) = delete;

    // Starts fetching the entries after current that may be fetched now, in list order, each body
    // streamed into a temporary file of the folder (which the loop has made by now): never one
    // that the loop refuses before any request (fileNameRefusal), one whose file is already in the
    // folder, or one whose FileName equals that of an earlier entry not yet decided (current
    // included). They share the run's budget and connections (AheadShare).
    void fillAfter(qsizetype current);
    // The same from the first entry, before the loop has decided any, while the crawl still builds
    // the list: at most crawlConnections fetches of each server unfinished at once. The folder may
    // not exist yet (it is made only once the list is written): these bodies then go into
    // temporary files of the nearest folder above it that exists, from which the entry's turn
    // moves them, or into memory when there is none.
    void fillEarly();
    const QString& folder() const { return m_folder; }
    // The fetch started ahead for entry index, now free of the budget; none when there is none
    // (the entry is then fetched at its turn).
    std::unique_ptr<PooledFetch> take(qsizetype index);
    // Ends every fetch started ahead.
    void abandon();

    // Fetches ahead unfinished at once, over all servers.
    static constexpr qsizetype maxAhead = 128;
    // Fetches ahead held at once, their bodies in memory or in files.
    static constexpr qsizetype mostHeld = 128;
    static constexpr qsizetype mostHeldInFiles = 2048;
    // The fetches of each server images may have unfinished while the crawl runs: as many as in
    // the loop, so that they keep the connections busy while the window's thread reads pages.
    // The crawl's pages ahead go first when they wait for a connection.
    static constexpr qsizetype crawlConnections = AheadShare::unfinishedAtServer;

private:
    // Starts the fetches from m_next on; entries from firstUndecided on are not decided yet.
    void fill(qsizetype firstUndecided, qsizetype mostAtServer);

    RunState& m_state;
    const QString m_folder;
    const PathConventions m_conventions;
    QString m_staging; // where the bodies ahead of the loop go; empty: memory
    // A connection freed between two turns of the loop is given to the next entry at once, not
    // only when the loop moves on: the last fill is made again.
    qsizetype m_firstUndecided = 0;
    qsizetype m_mostAtServer = 0;
    FetchesAhead<qsizetype> m_ahead;
    QHash<QString, qsizetype> m_lastSeen; // FileName -> the latest entry looked at with it
    qsizetype m_next = 0;
    qsizetype m_waitingMissing = -1; // m_next, found missing, waits for room
    bool m_streamed = false; // the loop runs: the folder is there
};
