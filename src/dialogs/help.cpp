// The program's own documents.
#include "dialogs/help.h"

#include "platform/messagebox.h"
#include "platform/programfolder.h"
#include "platform/urlopener.h"
#include "resources/messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#ifdef Q_OS_WIN
#include <QProcess>
#endif

QString helpPagePath()
{
    return shippedFile(QCoreApplication::applicationDirPath(),
        QStringLiteral("pixhound/help/index.html"),
        QStringLiteral("src/resources/help/index.html"));
}

QString readmePath()
{
    return shippedFile(QCoreApplication::applicationDirPath(),
        QStringLiteral("doc/pixhound/README.md"), QStringLiteral("README.md"));
}

void openDocument(const QString& path, const QString& title)
{
    // Without this the click would seem to do nothing, and the user would not know where to look.
    const QString shownPath = QDir::toNativeSeparators(path);
    if (!QFileInfo(path).isFile())
        showMessage(Msg::documentMissing + Msg::crlf + shownPath, MessageIcon::Warning, title);
    else if (!openUrl(QUrl::fromLocalFile(path)))
        showMessage(Msg::noProgramToOpen + Msg::crlf + shownPath, MessageIcon::Warning, title);
}

void openHelp()
{
#ifdef Q_OS_WIN
    // The help file is found relative to the current folder, as the viewer has always done.
    QProcess::startDetached(QStringLiteral("hh.exe"), { QStringLiteral("PixhoundV3_1.chm") });
#else
    openDocument(helpPagePath(), Msg::titleHelp);
#endif
}
