// Starts Pixhound: one copy per user, one main window.
#include "main_window/frmmain.h"
#include "main_window/messageboxpresenter.h"
#include "platform/messagebox.h"
#include "platform/singleinstance.h"
#include "platform/urlopener.h"
#include "resources/messages.h"
#include "resources/resourceinit.h"
#include "ui/bringforward.h"
#include "ui/qttranslations.h"
#include "ui/windowsfont.h"
#include "web/connectioncache.h"

#include <QApplication>
#include <QDesktopServices>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(Msg::appName);
    // Ties the window to its menu entry (pixhound.desktop), for its icon on Wayland docks.
    QGuiApplication::setDesktopFileName(QStringLiteral("pixhound"));

    // A second copy brings the first one's window forward and ends without a word.
    SingleInstance instance;
    if (!instance.isFirst()) {
        instance.knock();
        return 0;
    }

    initialiseCurlOnce();
    initPixhoundResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pixhound.svg")));
    // Message boxes and dialogs show Japanese in the program's own font, never as empty boxes.
    QApplication::setFont(uiFont());
    installQtTranslations(app);
    installMessageBoxPresenter(presentMessageBox);
    installUrlOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); });

    frmMain window;
    QObject::connect(&instance, &SingleInstance::activationRequested, &window,
        [&window] { bringForward(window); });
    window.show();
    return app.exec();
}
