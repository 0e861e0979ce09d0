// A stand-in for the main window for core tests.
#include "support/fakehost.h"

#include "web/connectioncache.h"
#include "web/fetcher.h"

#include <QCoreApplication>

FakeHost::FakeHost()
{
    initialiseCurlOnce();
    state.connections = std::make_shared<ConnectionCache>();
}

void FakeHost::yield()
{
    ++yields;
    QCoreApplication::processEvents();
    if (onYield)
        onYield(yields);
}

void FakeHost::showInfo(const QString& text)
{
    info = text;
    infoHistory.append(text);
}

void FakeHost::setControls(bool idle) { controlsHistory.append(idle); }

void FakeHost::setCaption(const QString& text)
{
    caption = text;
    captionHistory.append(text);
}

void FakeHost::setFileCounter(const QString& text)
{
    fileCounter = text;
    fileCounterHistory.append(text);
}

void FakeHost::fillDownloadRows(const QStringList& fileNames)
{
    downloadRows = fileNames;
    ++downloadRowFills;
}

QStringList& FakeHost::rows(ResultList list)
{
    switch (list) {
    case ResultList::Done:
        return doneRows;
    case ResultList::Already:
        return alreadyRows;
    case ResultList::Denied:
        break;
    }
    return deniedRows;
}

void FakeHost::appendResultRow(ResultList list, const QString& fileName) { rows(list).append(fileName); }

void FakeHost::selectLastResultRow(ResultList list)
{
    const qsizetype last = rows(list).size() - 1;
    switch (list) {
    case ResultList::Done:
        selectedDone = last;
        break;
    case ResultList::Already:
        selectedAlready = last;
        break;
    case ResultList::Denied:
        selectedDenied = last;
        break;
    }
}

void FakeHost::pressCancel()
{
    closeFetchHandles(state);
    state.blnCancel = true;
    showInfo(QStringLiteral("処理を中断しました"));
    setCaption(QStringLiteral("Pixhound"));
    setControls(true);
}
