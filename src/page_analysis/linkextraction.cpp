// Reads pages and builds the download list.
#include "page_analysis/linkextraction.h"

#include "page_analysis/attributescan.h"
#include "page_analysis/htmlsource.h"
#include "page_analysis/pagesahead.h"
#include "page_analysis/pagetext.h"
#include "page_analysis/parsedpage.h"
#include "platform/nameendings.h"
#include "resources/messages.h"
#include "run/runhost.h"
#include "run/runstate.h"
#include "store/localpaths.h"
#include "store/pathnames.h"
#include "web/fetcher.h"
#include "web/getlinkurl.h"

#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace {

// Every routine here ends the work on its own page when something fails underneath it (memory
// running out on a huge page, say), and lets its caller carry on. The window stays busy: the run
// goes on, and its driver makes the window idle once the run ends.
void reportFailure(RunHost& host) { host.Show_Info(Msg::cannotDownload); }

// The counter is blank while the list is built: it tells how far the reading has come, the pages
// taken into the run and the images found.
void showListProgress(RunHost& host)
{
    const RunState& state = host.runState();
    host.setFileCounter(
        Msg::listProgress(state.strPageList.addresses().size(), state.udtDownload.size()));
}

void reportInterrupted(RunHost& host)
{
    host.Show_Info(Msg::interrupted);
    host.Set_Controls(true);
}

// The address the page's links resolve against: the one its body was served from, as in every
// browser (a folder address redirected to its form with a trailing "/", say).
QString servedFrom(const QString& page, const FetchResult& fetched)
{
    return fetched.finalUrl.isEmpty() ? page : fetched.finalUrl;
}

// Keeps why the given page could not be read, so that a run whose list ends empty tells the
// cause rather than that the page holds no images.
void noteFailure(RunState& state, const QString& page, const QString& failureText)
{
    const QStringList& pages = state.strPageList.addresses();
    if (!failureText.isEmpty() && !pages.isEmpty() && pages.first() == page)
        state.givenPageFailure = failureText;
}

// A page as read: its bytes, the address they were served from, and why the fetch failed (empty
// when it did not, or when the crawl fetched it and tells that itself).
struct FetchedPage
{
    QByteArray bytes;
    QString base;
    QString failureText;
};

// Fetches page as Get_UrlData would (from its fetch ahead when the crawl has one), and keeps the
// given page's source in HTMLSource.txt: the one place where the run writes it, once.
FetchResult fetchPage(RunHost& host, const QString& page, QByteArray& bytes, PagesAhead* ahead)
{
    const FetchResult fetched
        = ahead ? ahead->read(host, page, bytes) : Get_UrlData(host, page, bytes);
    if (fetched.outcome == FetchOutcome::Cancelled)
        bytes.clear();
    else if (Cut_URLTail(host.typedAddress()) == page)
        Write_HTMLSource(host, page, bytes);
    return fetched;
}

// The page the crawl has just fetched for the same address, with the status texts that fetching
// it again would have shown, or a fresh fetch. No bytes after a cancel.
FetchedPage readPage(RunHost& host, const QString& page)
{
    RunState& state = host.runState();
    FetchedPage read;
    if (state.pageJustRead && state.pageJustRead->address == page) {
        read.bytes = std::move(state.pageJustRead->bytes);
        read.base = std::move(state.pageJustRead->base);
        state.pageJustRead.reset();
        host.Show_Info(
            host.infoText() + u'(' + QString::number(read.bytes.size()) + Msg::bytesDone);
        return read;
    }
    const FetchResult fetched = fetchPage(host, page, read.bytes, nullptr);
    read.base = servedFrom(page, fetched);
    read.failureText = fetched.failureText;
    noteFailure(state, page, fetched.failureText);
    return read;
}

// The address with its "." and ".." path segments resolved, as the fetch resolves them before it
// asks the server. Judged by its spelling, "sub/../../top.htm" would lie below the page's folder
// and "x/../p.htm" would be a page not yet read, and a hostile page could walk the crawl over the
// whole host or round in circles for ever.
QString withoutDotSegments(const QString& address)
{
    QString root;
    if (!Get_UrlRoot(address, root) || !address.startsWith(root))
        return address;
    qsizetype end = address.size();
    for (const QChar stop : { u'?', u'#' }) {
        const qsizetype at = address.indexOf(stop, root.size());
        if (at >= 0)
            end = qMin(end, at);
    }
    const QStringList segments = address.sliced(root.size(), end - root.size()).split(u'/');
    if (!segments.contains(QLatin1String(".")) && !segments.contains(QLatin1String("..")))
        return address;
    QStringList kept;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QString& segment = segments.at(i);
        const bool last = i == segments.size() - 1;
        if (segment == u"." || segment == u"..") {
            if (segment == u".." && !kept.isEmpty())
                kept.removeLast();
            if (last)
                kept.append(QString());
            continue;
        }
        kept.append(segment);
    }
    return root + kept.join(u'/') + address.sliced(end);
}

// A folder's page has two addresses, "/a/" and "/a/index.html": the crawl lists the folder's.
QString pageKey(const QString& address)
{
    static constexpr QLatin1StringView index("/index.html");
    const qsizetype pathEnd = pathPart(address).size();
    if (!pathPart(address).endsWith(index))
        return address;
    return address.left(pathEnd - index.size() + 1) + address.sliced(pathEnd);
}

// Whether the page was read already. Read as browsers read pages, a page counts as read under
// either of its folder's addresses.
bool isRead(const PageList& listed, const QString& address, bool modern)
{
    if (listed.contains(address))
        return true;
    if (!modern)
        return false;
    const QString key = pageKey(address);
    const qsizetype pathEnd = pathPart(key).size();
    return listed.contains(key)
        || (pathEnd > 0 && key.at(pathEnd - 1) == u'/'
            && listed.contains(key.left(pathEnd) + u"index.html" + key.sliced(pathEnd)));
}

// The folder an address lies in. Read as browsers read pages, a "/" in the query names no folder.
QString folderOf(const QString& address, bool modern)
{
    QString dir;
    Get_UrlPath(modern ? pathPart(address).toString() : address, dir);
    return dir;
}

// What a server calls a page. Without this, a folder-style link that answers with an image or a
// feed would be parsed as one.
bool isPageType(const QByteArray& contentType)
{
    const qsizetype parameters = contentType.indexOf(';');
    const QByteArray type
        = (parameters < 0 ? contentType : contentType.first(parameters)).trimmed().toLower();
    return type == "text/html" || type == "application/xhtml+xml";
}

// One page of the crawl whose links are still being followed: only the addresses it links to in
// its folder or below, in document order, not its text, so that a deep crawl holds little per
// level.
struct CrawlFrame
{
    QString curDir;
    QStringList links;
    qsizetype next = 0;
};

// The page values of text that lead to curDir or below, resolved against page, in document order;
// nothing when the scan was cancelled. Without a host the scan never yields.
std::optional<QStringList> linksBelow(
    RunHost* host, const QString& page, const QString& curDir, const QString& text)
{
    QStringList links;
    AttributeScan scan(text, hrefPattern);
    QString value;
    AttributeScan::Step step;
    while ((step = scan.next(host, value)) == AttributeScan::Step::Value) {
        if (!isPageValue(value))
            continue;
        QString absolute;
        Get_LinkAbsURL(page, value, absolute);
        const QString address = withoutDotSegments(Cut_URLTail(absolute));
        QString dir;
        Get_UrlPath(address, dir);
        if (dir.startsWith(curDir))
            links.append(address);
    }
    if (step == AttributeScan::Step::Cancelled)
        return std::nullopt;
    return links;
}

// The folder whose pages the crawl follows from page; empty when the page's own folder is unknown,
// which would make every address look like one below it.
QString followedFolder(const QString& page, bool modern)
{
    const QString curDir = folderOf(page, modern);
    return curDir.isEmpty() ? curDir : withoutDotSegments(curDir);
}

// Reads the page's links to follow: every page value that leads to the page's folder or below.
// Nothing when the scan was cancelled.
std::optional<CrawlFrame> scanPageLinks(RunHost& host, const QString& page, const QString& text)
{
    const bool modern = host.modernPages();
    CrawlFrame frame;
    frame.curDir = followedFolder(page, modern);
    if (frame.curDir.isEmpty())
        return frame;
    const QString& curDir = frame.curDir;
    if (modern) {
        const std::optional<ParsedPage> parsed = parsePage(host, text, page);
        if (!parsed)
            return std::nullopt;
        if (!parsed->tooComplex) {
            // A page already read under its folder's other address is not even fetched ahead.
            for (const QString& link : parsed->pageLinks) {
                const QString address = pageKey(withoutDotSegments(link));
                if (withoutDotSegments(folderOf(address, true)).startsWith(curDir)
                    && !isRead(host.runState().strPageList, address, true))
                    frame.links.append(address);
            }
            return frame;
        }
        host.Show_Info(Msg::pageReadPlainly);
    }
    std::optional<QStringList> links = linksBelow(&host, page, curDir, text);
    if (!links)
        return std::nullopt;
    frame.links = std::move(*links);
    return frame;
}

// The pages the crawl reads next, in its order: the links still to follow of the page it reads,
// then those of the nearest pages above it. A deep chain of pages each with one link must not
// cost a walk down the whole chain for every page read.
QStringList nextPages(const std::vector<CrawlFrame>& frames)
{
    constexpr qsizetype framesLookedAt = 8;
    QStringList next;
    qsizetype looked = 0;
    for (auto frame = frames.crbegin(); frame != frames.crend() && looked++ < framesLookedAt
         && next.size() < PagesAhead::lookedAtMost;
         ++frame)
        next += frame->links.mid(frame->next, PagesAhead::lookedAtMost - next.size());
    return next;
}

// Reads one page of the crawl and collects its embedded images. Returns the frame that follows
// its links, or nothing when the work on the page has ended (a cancel, a failure). parentDir is
// the folder of the page that links to it; null for the given page.
std::optional<CrawlFrame> enterPage(
    RunHost& host, const QString& page, const QString& parentDir, PagesAhead& ahead)
{
    RunState& state = host.runState();
    try {
        if (state.blnCancel) {
            reportInterrupted(host);
            return std::nullopt;
        }
        host.Show_Info(Msg::loadingPage);
        QByteArray bytes;
        const FetchResult fetched = fetchPage(host, page, bytes, &ahead);
        if (state.blnCancel) {
            reportInterrupted(host);
            return std::nullopt;
        }
        const bool modern = host.modernPages();
        // A link in folder form may name anything: what the server does not call a page is not
        // read as one, and not told either.
        if (modern && !parentDir.isNull() && !isPageType(fetched.contentType))
            return std::nullopt;
        noteFailure(state, page, fetched.failureText);
        // The address served counts as read too; reached again under another address, it is the
        // page already read, not a new one.
        const QString base = servedFrom(page, fetched);
        const QString served = Cut_URLTail(base);
        if (served != page && !(modern && pageKey(served) == pageKey(page))) {
            // A redirect may not take the crawl above the folder of the page that led there.
            const QString dir = folderOf(served, modern);
            if (isRead(state.strPageList, served, modern)
                || (!parentDir.isNull() && !withoutDotSegments(dir).startsWith(parentDir)))
                return std::nullopt;
            state.strPageList.append(served);
        }

        // Without a root nothing was fetched and no count shown; a second reading must show none.
        if (fetched.outcome != FetchOutcome::NoRoot)
            state.pageJustRead = RunState::PageJustRead { page, bytes, base };
        const bool collected = Make_PageList(host, page, srcPattern);
        // Kept only for the collection just made: a later reading must fetch afresh.
        state.pageJustRead.reset();
        if (!collected || state.blnCancel)
            return std::nullopt;

        host.Show_Info(Msg::analysingPage);
        std::optional<CrawlFrame> frame;
        // Found while the page was fetched ahead, in the same body: the served address is the
        // page's own.
        if (std::optional<QStringList> found = ahead.takeLinksFound(page))
            frame = CrawlFrame { followedFolder(page, false), std::move(*found) };
        else
            frame = scanPageLinks(host, base, decodePageText(bytes));
        bytes.clear();
        if (!frame)
            reportInterrupted(host);
        else if (!fetched.failureText.isEmpty())
            host.Show_Info(fetched.failureText); // the crawl goes on with the next page
        return frame;
    } catch (const std::exception&) {
        state.pageJustRead.reset();
        reportFailure(host);
        return std::nullopt;
    }
}

} // namespace

QStringList followedLinks(const QString& page, const QByteArray& body)
{
    const QString curDir = followedFolder(page, false);
    if (curDir.isEmpty())
        return {};
    return linksBelow(nullptr, page, curDir, decodePageText(body)).value_or(QStringList());
}

bool Make_PageList(RunHost& host, const QString& page, const QString& pattern)
{
    RunState& state = host.runState();
    try {
        state.blnCancel = false;
        state.blnSkip = false;
        host.Set_Controls(false);
        if (host.typedAddress() == page && pattern == srcPattern && host.skipGivenPageImages()
            && host.embeddedLinkSource())
            return true;
        const qsizetype known = state.udtDownload.size();
        Make_DownloadList(host, page, pattern);
        if (state.blnCancel)
            return false;
        showListProgress(host);
        // Only this page's entries need names and rows. A list still empty is not told here: a
        // crawl goes on, and the run tells it once, when the list is final.
        if (state.udtDownload.size() > known) {
            Get_FileList(host, known);
            if (state.listGrew && !state.blnCancel)
                state.listGrew();
        }
        return true;
    } catch (const std::exception&) {
        reportFailure(host);
        return false;
    }
}

void Make_DownloadList(RunHost& host, const QString& page, const QString& pattern)
{
    RunState& state = host.runState();
    try {
        host.Show_Info(Msg::loadingPage);
        FetchedPage read = readPage(host, page);
        if (state.blnCancel) {
            reportInterrupted(host);
            return;
        }
        const QString text = decodePageText(read.bytes);
        host.Show_Info(Msg::creatingList);
        read.bytes.clear();

        if (host.modernPages()) {
            const std::optional<ParsedPage> parsed = parsePage(host, text, read.base);
            if (!parsed)
                return;
            if (!parsed->tooComplex) {
                // The address keeps its query for the request; the file's name is without it.
                for (const QString& address :
                    pattern == srcPattern ? parsed->images : parsed->jpegLinks)
                    state.udtDownload.append(DownloadItem { address, fileNameOfAddress(address) });
                if (!read.failureText.isEmpty())
                    host.Show_Info(read.failureText);
                return;
            }
            host.Show_Info(Msg::pageReadPlainly);
        }
        AttributeScan scan(text, pattern);

        QString value;
        AttributeScan::Step step;
        while ((step = scan.next(host, value)) == AttributeScan::Step::Value) {
            QString absolute;
            if (isImageValue(value) && Get_LinkAbsURL(read.base, value, absolute))
                state.udtDownload.append(DownloadItem { absolute, QString() });
        }
        // An error page is read like any other; what failed stays on the status line after it.
        if (step == AttributeScan::Step::End && !read.failureText.isEmpty())
            host.Show_Info(read.failureText);
    } catch (const std::exception&) {
        reportFailure(host);
    }
}

void Get_PageLinks(RunHost& host, const QString& page)
{
    RunState& state = host.runState();
    // The crawl goes depth-first in document order, like a recursion that reads each followed page
    // completely before the next link of its parent, but on a stack of its own: a chain of pages
    // each linking to the next must not be limited by the depth of the call stack. Whether a link
    // was read already is asked only when its turn comes, after the pages before it.
    // The pages it reads next are fetched meanwhile; each is still read at its turn.
    std::vector<CrawlFrame> frames;
    PagesAhead ahead(state, host.modernPages());
    if (auto first = enterPage(host, page, QString(), ahead)) {
        frames.push_back(std::move(*first));
        ahead.fetchAhead(nextPages(frames), state.strPageList);
    }

    while (!frames.empty()) {
        CrawlFrame& frame = frames.back();
        if (state.blnCancel) {
            reportInterrupted(host);
            frames.pop_back();
            continue;
        }
        if (frame.next == frame.links.size()) {
            frames.pop_back();
            continue;
        }
        const QString next = std::exchange(frame.links[frame.next++], QString());
        if (isRead(state.strPageList, next, host.modernPages())) {
            ahead.forget(next);
            continue;
        }
        try {
            state.strPageList.append(next);
            ahead.fetchAhead(nextPages(frames), state.strPageList);
            if (auto child = enterPage(host, next, frame.curDir, ahead)) {
                frames.push_back(std::move(*child));
                ahead.fetchAhead(nextPages(frames), state.strPageList);
            }
            showListProgress(host);
        } catch (const std::exception&) {
            reportFailure(host);
        }
    }
}

bool Is_NotListed(const QString& text, const PageList& list) { return !list.contains(text); }
