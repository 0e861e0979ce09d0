// A bare stand-in for the main window, for the micro-benchmarks of the core.
#include "benchhost.h"

#include "web/connectioncache.h"

#include <QCoreApplication>

BenchHost::BenchHost()
{
    initialiseCurlOnce();
    state.connections = std::make_shared<ConnectionCache>();
}

void BenchHost::yield()
{
    ++yields;
    QCoreApplication::processEvents();
}

void BenchHost::waitForEvents()
{
    ++yields;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void BenchHost::showInfo(const QString& text)
{
    info = text;
    ++infoUpdates;
}

void BenchHost::appendDownloadRows(const QStringList& fileNames)
{
    downloadRows += fileNames.size();
}
