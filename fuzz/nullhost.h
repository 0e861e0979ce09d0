// A main window that shows nothing, for the fuzz targets.
#pragma once

#include "platform/runhost.h"
#include "platform/runstate.h"

class NullHost : public RunHost
{
public:
    RunState& runState() override { return state; }
    void yield() override { }
    void waitForEvents() override { }
    void showInfo(const QString& text) override { info = text; }
    QString infoText() const override { return info; }
    void setControls(bool) override { }
    void setCaption(const QString&) override { }
    void setFileCounter(const QString&) override { }
    void setSkipEnabled(bool) override { }
    void fillDownloadRows(const QStringList&) override { }
    void selectDownloadRow(qsizetype) override { }
    void appendResultRow(ResultList, const QString&) override { }
    void selectLastResultRow(ResultList) override { }
    void restoreAndActivate() override { }
    QString typedAddress() const override { return QString(); }
    bool embeddedLinkSource() const override { return false; }
    bool skipGivenPageImages() const override { return false; }

    RunState state;
    QString info;
};

// Stops the fuzzer with a report when an invariant of the program does not hold.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            __builtin_trap();                                                                      \
    } while (false)
