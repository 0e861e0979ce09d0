// The state of a run, owned by the main window for its whole life and kept between runs.
#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class AheadShare;
class ConnectionCache;
class FetchHandle;

// One entry of the download list.
struct DownloadItem
{
    QString URL; // absolute image address, without its fragment
    QString FileName; // the text after the last "/" of URL: the stored file's name and its row
};

// The pages taken into a run, the given page first, so that no page is read twice. Lookups are
// exact and case-sensitive.
class PageList
{
public:
    void clear();
    void append(const QString& address);
    bool contains(const QString& address) const { return m_index.contains(address); }
    const QStringList& addresses() const { return m_addresses; }
    qsizetype lngPageMax() const { return m_addresses.size() - 1; }

private:
    QStringList m_addresses;
    QSet<QString> m_index;
};

struct RunState
{
    QList<DownloadItem> udtDownload;
    PageList strPageList;
    bool blnCancel = false;
    bool blnSkip = false;

    // The transfer under way, so that Cancel and closing the window can end it. The fetcher
    // clears them when it closes the handles itself, so each is closed exactly once.
    FetchHandle* hInternet = nullptr;
    FetchHandle* hUrl = nullptr;

    QString strDownloadListFile; // DownloadList.txt written last
    // DownloadList.txt as this program last wrote or read it (its path and a digest of its bytes),
    // so that closing never overwrites what the user has changed since.
    QString listFileSeenPath;
    QByteArray listFileSeenDigest;
    QString strHTMLSourceFile; // HTMLSource.txt written last; empty until one is written

    // Program-wide save folder (always ending in the separator) and whether the user confirmed it.
    QString strSaveFolder;
    bool blnSaveFolderOK = false;

    // Connections kept alive between requests for the life of the window.
    std::shared_ptr<ConnectionCache> connections;
    // What the pages and images fetched ahead of their turn share: one budget, the connections.
    std::shared_ptr<AheadShare> aheadShare;
    // How long a fetch waits on a server that sends nothing before it gives up, in seconds.
    long fetchStallSeconds = 60;

    // Highest index in use of udtDownload; -1 when the list is empty.
    qsizetype lngDownloadMax() const { return udtDownload.size() - 1; }

    // The page the crawl has just fetched, so that collecting its images does not fetch it again:
    // its address, its body and the address the body was served from.
    struct PageJustRead
    {
        QString address;
        QByteArray bytes;
        QString base;
    };
    std::optional<PageJustRead> pageJustRead;

    // The error number of the last failed write of the program's own files that this run has
    // shown in a box; 0: none yet.
    int shownWriteError = 0;

    // Why the given page of the run could not be read as asked (a status-line text naming the
    // cause and the host); empty when it could.
    QString givenPageFailure;

    // Called by the crawl after each page whose images lengthened udtDownload, names set; empty
    // when nobody fetches images while the list is built.
    std::function<void()> listGrew;
    // Whether images are fetched while the crawl runs: its pages ahead then keep to fewer
    // unfinished fetches of each server, so that images always have connections to go on.
    bool crawlFetchesImages = false;
};
