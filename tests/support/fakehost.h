// A stand-in for the main window for core tests: records everything the core shows and lets a
// test act inside the yields (press Cancel or Skip at the Nth yield, say).
#pragma once

#include "platform/runhost.h"
#include "platform/runstate.h"

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
    void showInfo(const QString& text) override;
    QString infoText() const override { return info; }
    void setControls(bool idle) override { controlsHistory.append(idle); }
    void setCaption(const QString& text) override;
    void setFileCounter(const QString& text) override;
    void setSkipEnabled(bool enabled) override { skipEnabled = enabled; }
    void appendDownloadRows(const QStringList& fileNames) override;
    void selectDownloadRow(qsizetype row) override { selectedDownloadRow = row; }
    void appendResultRow(ResultList list, const QString& fileName) override;
    void selectLastResultRow(ResultList list) override;
    void restoreAndActivate() override { ++activations; }
    QString typedAddress() const override { return typed; }
    bool embeddedLinkSource() const override { return embedded; }
    bool skipGivenPageImages() const override { return skipGivenPage; }

    // Presses Cancel as the window does after Yes: closes the transfer, sets blnCancel.
    void pressCancel();

    // The URL of every entry of udtDownload, in order.
    QStringList downloadUrls() const;

    RunState state;
    QString typed = QStringLiteral("http://");
    bool embedded = false;
    bool skipGivenPage = false;

    // Called at every yield with the yield's number (from 1).
    std::function<void(int)> onYield;
    int yields = 0;

    QString info;
    QStringList infoHistory;
    QString caption = QStringLiteral("Pixhound");
    QStringList captionHistory;
    QString fileCounter;
    QStringList fileCounterHistory;
    QList<bool> controlsHistory; // every Set_Controls call, true = idle
    bool skipEnabled = false;
    QStringList downloadRows;
    int downloadRowAppends = 0;
    qsizetype selectedDownloadRow = -1;
    QStringList doneRows, alreadyRows, deniedRows;
    qsizetype selectedDone = -1, selectedAlready = -1, selectedDenied = -1;
    int activations = 0;

    bool isIdle() const { return !controlsHistory.isEmpty() && controlsHistory.last(); }
    QStringList& rows(ResultList list);
};
