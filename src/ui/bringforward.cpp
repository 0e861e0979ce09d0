// Brings a window forward.
#include "ui/bringforward.h"

#include <QApplication>
#include <QWidget>

void bringForward(QWidget& window)
{
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    // An open dialog or question of the window is what takes the input, so it comes on top.
    QWidget* modal = QApplication::activeModalWidget();
    QWidget* focus = modal && modal != &window ? modal : &window;
    focus->raise();
    focus->activateWindow();
}
