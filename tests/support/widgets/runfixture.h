// Whole runs through the real main window against a site on 127.0.0.1: the program folder, the
// message-box answerer, the server and the window, torn down so that a held answer goes first.
#pragma once

#include "main_window/frmmain.h"
#include "support/loopbackserver.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"

#include <QAbstractButton>
#include <QTimer>
#include <functional>
#include <memory>

// The main window's lists: to do|done|already there|refused, " " between rows, "*" after each
// selected row.
QString listRows(const QWidget& window);

class RunFixture
{
public:
    RunFixture(); // the window is shown
    ~RunFixture();

    // Serves /g/index.htm linking to links, each also shown as an image; each link answers with
    // jpegBytes, or with an HTML page when its name starts with "bad". The answer for the path
    // held waits until server.release(). Returns the page's address.
    QString servePage(const QStringList& links, const QString& held = QString());
    static const QByteArray jpegBytes;

    // Runs action once, from inside the run's own event processing, as soon as the server has
    // seen a request for path.
    void whenRequested(const QString& path, std::function<void()> action);
    // Runs start in the program's event loop, as main() does, until the run has returned or the
    // window has ended the loop; returns the loop's exit code, 99 for a run that hung.
    int inEventLoop(const std::function<void()>& start);

    QAbstractButton* button(const QString& name) const;
    QString requested() const; // the paths asked for, sorted, " " between them

    TempProgramFolder folder;
    MessageAnswerer answerer;
    LoopbackServer server;
    std::unique_ptr<frmMain> window;

private:
    QTimer m_watch;
};
