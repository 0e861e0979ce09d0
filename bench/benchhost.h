// A bare stand-in for the main window, for the micro-benchmarks of the core: it counts what the
// core asks of the window and lets the event loop run at every yield, as the window does.
#pragma once

#include "platform/runhost.h"
#include "platform/runstate.h"

#include <QString>

class BenchHost : public RunHost
{
public:
    BenchHost();

    RunState& runState() override { return state; }
    void yield() override;
    void waitForEvents() override;
    void showInfo(const QString& text) override;
    QString infoText() const override { return info; }
    void setControls(bool) override { }
    void setCaption(const QString&) override { }
    void setFileCounter(const QString&) override { }
    void setSkipEnabled(bool) override { }
    void appendDownloadRows(const QStringList& fileNames) override;
    void selectDownloadRow(qsizetype) override { }
    void appendResultRow(ResultList list, const QString&) override { ++rows[int(list)]; }
    void selectLastResultRow(ResultList) override { }
    void restoreAndActivate() override { }
    QString typedAddress() const override { return typed; }
    bool embeddedLinkSource() const override { return true; }
    bool skipGivenPageImages() const override { return false; }

    RunState state;
    QString typed;
    QString info;
    qint64 yields = 0;
    qint64 infoUpdates = 0;
    qsizetype downloadRows = 0;
    qint64 rows[3] = { 0, 0, 0 }; // done, already, denied
};
