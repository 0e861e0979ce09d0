// The download list on disk: DownloadList.txt written from the run's list, and a JPG list read
// into it.
#include "store/downloadlist.h"

#include "platform/codepage.h"
#include "platform/messagebox.h"
#include "platform/nameendings.h"
#include "platform/programfolder.h"
#include "platform/stripspaces.h"
#include "platform/validurl.h"
#include "resources/messages.h"
#include "run/runhost.h"
#include "run/runstate.h"
#include "store/fileio.h"
#include "store/writefailure.h"
#include "web/fetcher.h"

#include <QCryptographicHash>
#include <QFileInfo>

namespace {

// Far beyond any real list (about four million addresses); a bigger file is refused before it
// is read into memory.
constexpr qint64 listFileLimit = 256LL * 1024 * 1024;

// A rejected line is shown in a message box; a line of megabytes would make the box unusable.
constexpr qsizetype shownLineLimit = 1024;

QByteArray encodeList(const QList<DownloadItem>& list)
{
    // One conversion per block of addresses keeps the cost of the converter out of the
    // per-address work.
    constexpr qsizetype block = 4096;
    QByteArray out;
    QString text;
    for (qsizetype first = 0; first < list.size(); first += block) {
        const qsizetype end = qMin(first + block, list.size());
        text.clear();
        for (qsizetype i = first; i < end; ++i)
            text += list.at(i).URL + Msg::crlf;
        out += encodeCp932(text);
    }
    return out;
}

void showRejection(
    const QString& reason, const QString& path, qsizetype lineNumber, QStringView line)
{
    QString shown = line.left(shownLineLimit).toString();
    if (line.size() > shownLineLimit)
        shown += u'…';
    showMessage(reason + Msg::crlf + path + Msg::crlf + Msg::crlf + Msg::lineLabel
            + QString::number(lineNumber) + Msg::crlf + shown,
        MessageIcon::Critical, Msg::titleUrlError);
}

// Tells whether the list file is still the one the program wrote or read: it is taken three
// times over a run's list, and BLAKE2b is four times as fast as SHA-256 here.
QByteArray digestOf(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Blake2b_256);
}

void clearLists(RunState& state)
{
    state.strPageList.clear();
    state.udtDownload.clear();
}

} // namespace

namespace {

// Puts bytes, the run's list encoded, in place of the list file at path.
bool writeList(RunHost& host, const QString& path, const QByteArray& bytes)
{
    RunState& state = host.runState();
    state.strDownloadListFile = path;

    // The list replaces the old file only once it is complete, so that a failure part-way (a
    // full disk, say) leaves the previous list readable.
    const FileResult written = writeFileWhole(path, bytes, true);
    if (written.number != 0) {
        host.Show_Info(Msg::listCannotBeCreated);
        const QString text = written.number == ErrorNumber::PermissionDenied
            ? QString(path + Msg::cannotBeWritten + Msg::crlf + Msg::checkNotBeingEdited)
            : QString(written.numberAndDescription() + Msg::crlf + path);
        showWriteFailure(state, written.number, text);
        return false;
    }
    state.listFileSeenPath = path;
    state.listFileSeenDigest = digestOf(bytes);
    host.Show_Info(Msg::listCreated);
    return true;
}

} // namespace

bool Write_DownloadList(RunHost& host)
{
    return writeList(
        host, programFolder() + Msg::listFileName, encodeList(host.runState().udtDownload));
}

bool writeListAtClose(RunHost& host)
{
    const RunState& state = host.runState();
    const QString path = programFolder() + Msg::listFileName;
    QByteArray onDisk;
    bool holdsOurs = false;
    if (state.listFileSeenPath == path) {
        // A file that is gone holds no edit to keep.
        const FileResult read = readFileWhole(path, onDisk, listFileLimit);
        if (read.number != ErrorNumber::FileNotFound
            && (read.number != 0 || digestOf(onDisk) != state.listFileSeenDigest))
            return false;
        holdsOurs = read.number == 0;
    }
    const QByteArray bytes = encodeList(state.udtDownload);
    // A file that holds this very list already stays as it is: the rewrite would change nothing
    // but its time, and its flush to a real disk would hold up the closing window.
    if (holdsOurs && bytes == onDisk)
        return true;
    return writeList(host, path, bytes);
}

bool readImageList(RunHost& host, const QString& path)
{
    RunState& state = host.runState();
    clearLists(state);

    QByteArray bytes;
    const FileResult read = readFileWhole(path, bytes, listFileLimit);
    if (read.number == ErrorNumber::FileNotFound) {
        showMessage(Msg::fileNotFound, MessageIcon::Critical, Msg::titleFileError);
        return false;
    }
    if (read.number != 0) {
        showMessage(read.numberAndDescription(), MessageIcon::Critical, Msg::titleReadImgListError);
        return false;
    }
    const QString text = decodeUtf8OrCp932(bytes);
    const QByteArray digest = digestOf(bytes);
    bytes.clear();

    qsizetype lineNumber = 0;
    qsizetype position = 0;
    const qsizetype size = text.size();
    while (position < size) {
        // CR LF, a lone CR and a lone LF each end a line, so that a list saved by any editor
        // reads as one address per line.
        qsizetype end = position;
        while (end < size && text.at(end) != u'\r' && text.at(end) != u'\n')
            ++end;
        const QStringView line = stripSpaces(QStringView(text).sliced(position, end - position));
        const bool crlf = end + 1 < size && text.at(end) == u'\r' && text.at(end + 1) == u'\n';
        position = end + (crlf ? 2 : 1);
        ++lineNumber;

        if (line.isEmpty())
            continue;
        const QString address = line.toString();
        const QString* reason = nullptr;
        // Both tests look at the line as written, fragment included.
        if (!isValidUrl(address))
            reason = &Msg::listInvalidUrl;
        else if (!isImageValue(line))
            reason = &Msg::listNotJpeg;
        if (reason) {
            // Nothing of a rejected file stays: the window writes a non-empty list to
            // DownloadList.txt on Cancel and on closing, and the rejected file may be that one.
            clearLists(state);
            showRejection(*reason, path, lineNumber, line);
            return false;
        }
        const QString stored = Cut_URLTail(address);
        state.strPageList.append(stored);
        state.udtDownload.append(DownloadItem { stored, QString() });
    }
    const QString listFile = programFolder() + Msg::listFileName;
    if (QFileInfo(path).canonicalFilePath() == QFileInfo(listFile).canonicalFilePath()) {
        state.listFileSeenPath = listFile;
        state.listFileSeenDigest = digest;
    }
    return true;
}

void ListDialogMemory::prepare()
{
    if (!strLastListDir.isEmpty())
        return;
    strLastListDir = programFolder();
    strLastListFile = Msg::listFileName;
    lngLastFilterIndex = 1;
}

void ListDialogMemory::remember(const QString& fileName, const QString& fileTitle)
{
    strLastListDir = fileName.left(fileName.size() - fileTitle.size());
    strLastListFile = fileTitle;
    lngLastFilterIndex = fileTitle.right(3).toLower() == QLatin1String("txt") ? 1 : 2;
}
