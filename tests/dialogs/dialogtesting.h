// Helpers for the dialog tests: driving a modal window, and checking what a window shows.
#pragma once

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <functional>

// Arms a timer before the call that opens a modal window: once one is up, action runs once with
// it and must close it. The timer is returned so that a test expecting no window can disarm it.
inline QTimer* whenModal(std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action = std::move(action)] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            timer->deleteLater();
            timer->stop();
            action(modal);
        }
    });
    timer->start(10);
    return timer;
}

inline bool noWindowOpen()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::none_of(windows.begin(), windows.end(), [](QWidget* w) { return w->isVisible(); });
}

// The first named control whose text is cut off, lies outside the window or has a character its
// font lacks (shown as an empty box); empty when all are whole.
inline QString firstMangledText(QWidget* window, const QStringList& names)
{
    for (const QString& name : names) {
        QWidget* control = window->findChild<QWidget*>(name);
        const QString text = control ? control->property("text").toString() : QString();
        const QFontMetrics metrics(control ? control->font() : QFont());
        if (!control || !window->rect().contains(control->geometry())
            || metrics.horizontalAdvance(text) > control->width()
            || metrics.height() > control->height()
            || !std::all_of(text.begin(), text.end(), [&](QChar c) { return metrics.inFont(c); }))
            return name;
    }
    return QString();
}
