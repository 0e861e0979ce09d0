// Drives modal windows the way the user would, from a timer armed before the call that opens them.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

// Once a modal window is up, action runs once with it and must close it.
inline void whenModal(std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action = std::move(action)] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start(5);
}

inline bool noWindowOpen()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::none_of(windows.begin(), windows.end(), [](QWidget* w) { return w->isVisible(); });
}
