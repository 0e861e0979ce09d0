// The one stand-in for the main window outside the window layer (tests, benchmarks, fuzz targets):
// it records what the core shows and lets the caller act inside the yields (press Cancel at the
// Nth yield, say).
#pragma once

#include "run/runhost.h"
#include "run/runstate.h"

#include <QSet>
#include <QStringList>
#include <functional>

class FakeHost : public RunHost
{
public:
    FakeHost();

    RunState& runState() override { return state; }
    void yield() override;
    // A yield that waits for an event, woken at least every 10 ms so that onYield keeps running.
    void waitForEvents() override;
    void Show_Info(const QString& text) override;
    QString infoText() const override { return info; }
    void Set_Controls(bool idle) override { controlsHistory.append(idle); }
    void setCaption(const QString&) override { }
    void setFileCounter(const QString& text) override { fileCounter = text; }
    void setSkipEnabled(bool) override { }
    void appendDownloadRows(const QStringList& fileNames) override;
    void selectDownloadRow(qsizetype row) override { selectedDownloadRow = row; }
    void appendResultRow(ResultList list, const QString& fileName) override;
    void selectLastResultRow(ResultList) override { }
    void restoreAndActivate() override { }
    QString typedAddress() const override { return typed; }
    bool embeddedLinkSource() const override { return embedded; }
    bool skipGivenPageImages() const override { return skipGivenPage; }
    bool modernPages() const override { return modern; }

    // Presses Cancel as the window does after Yes.
    void pressCancel();
    // The URL of every entry of udtDownload, in order.
    QStringList downloadUrls() const;
    bool isIdle() const { return !controlsHistory.isEmpty() && controlsHistory.last(); }

    RunState state;
    QString typed = QStringLiteral("http://");
    bool embedded = false;
    bool skipGivenPage = false;
    bool modern = false;

    // Called at every yield with the yield's number (from 1).
    std::function<void(int)> onYield;
    qint64 yields = 0;

    QString info;
    qint64 infoUpdates = 0;
    QSet<QString> infoShown; // every status text shown
    QString fileCounter;
    QList<bool> controlsHistory; // every Set_Controls call, true = idle
    QStringList downloadRows;
    int downloadRowAppends = 0;
    qsizetype selectedDownloadRow = -1;
    QStringList rows[3]; // indexed by ResultList: done, already, denied
};
