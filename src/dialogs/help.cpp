// Opens the program's help.
#include "dialogs/help.h"

#include "resources/aboutinfo.h"
#include "resources/resourceinit.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#ifdef Q_OS_WIN
#include <QProcess>
#endif

void openHelp()
{
#ifdef Q_OS_WIN
    // The help file is found relative to the current folder, as the viewer has always done.
    QProcess::startDetached(QStringLiteral("hh.exe"), { QStringLiteral("PixhoundV3_1.chm") });
#else
    // A browser cannot read Qt's resources: the page is copied out, fresh each time so that an
    // updated program never shows an old page.
    initPixhoundResources();
    QFile page(About::helpResource);
    if (!page.open(QIODevice::ReadOnly))
        return;
    const QString folder
        = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/help");
    if (!QDir().mkpath(folder))
        return;
    QSaveFile copy(folder + QStringLiteral("/index.html"));
    if (!copy.open(QIODevice::WriteOnly) || copy.write(page.readAll()) < 0 || !copy.commit())
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(copy.fileName()));
#endif
}
