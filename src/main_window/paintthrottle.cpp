// Paints a busy window at most once per interval.
#include "main_window/paintthrottle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

PaintThrottle::PaintThrottle(QWidget* window, int intervalMs)
    : QObject(window)
    , m_window(window)
    , m_intervalMs(intervalMs)
{
    m_latest.setSingleShot(true);
    connect(&m_latest, &QTimer::timeout, this, &PaintThrottle::paintLatest);
    // The application's filter sees the window's paint requests and also the input, which goes
    // to the window's controls, never to the window itself.
    QCoreApplication::instance()->installEventFilter(this);
}

PaintThrottle::Immediate::Immediate(PaintThrottle* throttle)
    : m_throttle(throttle)
{
    if (m_throttle)
        ++m_throttle->m_immediate;
}

PaintThrottle::Immediate::~Immediate()
{
    if (m_throttle)
        --m_throttle->m_immediate;
}

namespace {

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

} // namespace

bool PaintThrottle::eventFilter(QObject* watched, QEvent* event)
{
    if (isInput(event->type())) {
        m_inputSincePainted = true;
        return false;
    }
    // Every update() and repaint() of the window's widgets ends in one request to the window to
    // paint what is dirty; a request held back here leaves the dirty regions as they are.
    if (watched != m_window || event->type() != QEvent::UpdateRequest)
        return false;
    if (m_immediate > 0 || m_inputSincePainted || !m_sincePainted.isValid()
        || m_sincePainted.elapsed() >= m_intervalMs) {
        m_latest.stop();
        m_sincePainted.start();
        m_inputSincePainted = false;
        return false;
    }
    if (!m_latest.isActive())
        m_latest.start(int(qMax<qint64>(1, m_intervalMs - m_sincePainted.elapsed())));
    return true;
}

void PaintThrottle::paintLatest()
{
    // The window's own request was swallowed, and it sends no other until it has painted.
    const Immediate now(this);
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_window, &request);
}
