// What the core sees of the main window: the one interface through which web access, page
// analysis and the store show progress, switch the controls and let the event loop run.
#pragma once

#include <QString>
#include <QStringList>

struct RunState;

// The three result lists of a download.
enum class ResultList { Done, Already, Denied };

class RunHost
{
public:
    virtual ~RunHost() = default;

    virtual RunState& runState() = 0;

    // Lets the event loop run once; the Cancel and Skip handlers run inside it.
    virtual void yield() = 0;
    // Lets the event loop run, waiting until at least one event has been handled: a transfer
    // moving, a button pressed, a timer. The long loops wait here for a transfer to end.
    virtual void waitForEvents() = 0;

    // The status line: set it and repaint it at once; read its current text.
    virtual void Show_Info(const QString& text) = 0;
    virtual QString infoText() const = 0;

    // True: idle; False: busy.
    virtual void Set_Controls(bool idle) = 0;

    virtual void setCaption(const QString& caption) = 0;
    virtual void setFileCounter(const QString& text) = 0; // repainted at once
    virtual void setSkipEnabled(bool enabled) = 0; // repainted at once

    // The list of files to download, row k being entry k: the rows of the entries appended to the
    // list since the last call, added at its end in one go. A run empties it before it builds.
    virtual void appendDownloadRows(const QStringList& fileNames) = 0;
    virtual void selectDownloadRow(qsizetype row) = 0;
    virtual void appendResultRow(ResultList list, const QString& fileName) = 0;
    // Selects the last row of the list; nothing when it is empty.
    virtual void selectLastResultRow(ResultList list) = 0;

    // Puts the window back to its normal state and gives it the focus.
    virtual void restoreAndActivate() = 0;

    // The inputs of the run as the user set them.
    virtual QString typedAddress() const = 0; // the text of txtURL
    virtual bool embeddedLinkSource() const = 0; // optLinkJpg(1) selected
    virtual bool skipGivenPageImages() const = 0; // chkSkipCurrentPageJpg ticked
    // chkModernPages ticked: pages are parsed as browsers parse them, each image gives its largest
    // JPEG, and the crawl follows folder-style links.
    virtual bool modernPages() const = 0;
};
