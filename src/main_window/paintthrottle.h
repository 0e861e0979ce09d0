// Keeps a busy window from spending its time painting: the window is painted at most once per
// interval, and always shows its latest state within one interval. What the user does to the
// window (a click, a key) is painted at once all the same: only the run's own progress waits.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

class PaintThrottle : public QObject
{
    Q_OBJECT
public:
    // Watches window (a top-level widget), which owns the throttle.
    PaintThrottle(QWidget* window, int intervalMs);

    // While one exists, every paint request of the window, repaint() included, is carried out at
    // once (for a change the user must see before the thread gets busy again).
    class Immediate
    {
    public:
        explicit Immediate(PaintThrottle* throttle);
        ~Immediate();
        Immediate(const Immediate&) = delete;
        Immediate& operator=(const Immediate&) = delete;

    private:
        PaintThrottle* m_throttle;
    };

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void paintLatest();

    QWidget* m_window;
    int m_intervalMs;
    int m_immediate = 0;
    bool m_inputSincePainted = false;
    QElapsedTimer m_sincePainted;
    QTimer m_latest;
};
