// The benchmark's Pixhound: one run of the real main window, offscreen, reading method 0 with link
// source 1 into the page folder inside an empty program folder. Prints one machine-readable line.
//
// Usage: pixhound_run PROGRAM_FOLDER START_URL
#include "main_window/frmmain.h"
#include "ui/windowsfont.h"

#include "platform/messagebox.h"
#include "platform/programfolder.h"
#include "resources/messages.h"
#include "resources/resourceinit.h"
#include "web/connectioncache.h"
#include "web/fetchesahead.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

// The resident set now, from /proc/self/status, in KB; 0 when it cannot be read.
long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

long peakResidentKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// How late a 10 ms timer on the window's thread fires while the run goes on: the time the thread
// spends on anything but its events (transfers, writes, layout), as a user feels it.
class EventLoopLateness
{
public:
    EventLoopLateness()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_lateUs.append((now - m_last) / 1000 - intervalMs * 1000);
            m_last = now;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_timer.start(intervalMs);
    }
    void stop() { m_timer.stop(); }
    // The lateness below which the given share of the ticks fired, in ms.
    double percentileMs(double share) const
    {
        if (m_lateUs.isEmpty())
            return 0;
        QList<qint64> sorted = m_lateUs;
        std::sort(sorted.begin(), sorted.end());
        const auto at = qsizetype(share * double(sorted.size() - 1));
        return double(qMax<qint64>(sorted.at(at), 0)) / 1000.0;
    }
    qsizetype ticks() const { return m_lateUs.size(); }

private:
    static constexpr int intervalMs = 10;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    QList<qint64> m_lateUs;
};

template <typename T> T* control(QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(QLatin1String(name));
    if (!found)
        std::fprintf(stderr, "pixhound_run: the window has no control named %s\n", name);
    return found;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: pixhound_run PROGRAM_FOLDER START_URL\n");
        return 2;
    }
    // What the program's own start does, less the single-instance test and the real boxes.
    QApplication::setApplicationName(Msg::appName);
    initialiseCurlOnce();
    initPixhoundResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pixhound.svg")));
    QApplication::setFont(uiFont());
    setProgramFolder(QString::fromLocal8Bit(argv[1]));

    QElapsedTimer runTimer;
    double runSeconds = -1;
    bool completed = false;
    QJsonArray boxes;
    EventLoopLateness lateness;
    installMessageBoxPresenter([&](const MessageBoxRequest& request) {
        boxes.append(request.title);
        if (request.title == Msg::titleDownloadComplete) {
            completed = true;
            runSeconds = runTimer.nsecsElapsed() / 1e9;
            lateness.stop();
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
        } else {
            std::fprintf(stderr, "pixhound_run: box \"%s\": %s\n", qUtf8Printable(request.title),
                qUtf8Printable(request.text));
        }
        return request.buttons == MessageButtons::YesNo ? request.defaultButton : MessageAnswer::Ok;
    });

    frmMain window;
    window.show();
    auto* address = control<QLineEdit>(window, "txtURL");
    auto* afterLinks = control<QAbstractButton>(window, "optLinkMethod(0)");
    auto* embedded = control<QAbstractButton>(window, "optLinkJpg(1)");
    auto* saveFolder = control<QCheckBox>(window, "chkSetSaveFolder");
    auto* download = control<QAbstractButton>(window, "cmdDownload");
    if (!address || !afterLinks || !embedded || !saveFolder || !download)
        return 2;
    afterLinks->click();
    embedded->click();
    saveFolder->setChecked(false);
    address->setText(QString::fromLocal8Bit(argv[2]));
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    const long idleKb = residentKb();

    QTimer::singleShot(0, &window, [&] {
        runTimer.start();
        lateness.start();
        download->click();
        // A run that ends without the completion box (an error, say) leaves the window idle.
        if (!completed) {
            auto* idleCheck = new QTimer(&window);
            QObject::connect(idleCheck, &QTimer::timeout, &app, [&] {
                if (download->isEnabled())
                    QCoreApplication::quit();
            });
            idleCheck->start(50);
        }
    });
    app.exec();

    QJsonObject rows;
    for (const char* name :
        { "lstDownload", "lstDownloadDone", "lstDownloadAlready", "lstDownloadDenied" }) {
        if (auto* list = window.findChild<QAbstractItemView*>(QLatin1String(name)))
            rows.insert(QLatin1String(name), list->model()->rowCount());
    }
    const AheadShare* share = window.runState().aheadShare.get();
    const QJsonObject result {
        { QStringLiteral("completed"), completed },
        { QStringLiteral("run_s"), runSeconds },
        { QStringLiteral("idle_rss_kb"), static_cast<qint64>(idleKb) },
        { QStringLiteral("peak_rss_kb"), static_cast<qint64>(peakResidentKb()) },
        { QStringLiteral("ahead_peak_kb"), share ? share->peakClaimedBytes() / 1024 : 0 },
        { QStringLiteral("ahead_files_peak_kb"), share ? share->peakFileBytes() / 1024 : 0 },
        { QStringLiteral("late_p99_ms"), lateness.percentileMs(0.99) },
        { QStringLiteral("late_max_ms"), lateness.percentileMs(1.0) },
        { QStringLiteral("late_ticks"), static_cast<qint64>(lateness.ticks()) },
        { QStringLiteral("boxes"), boxes },
        { QStringLiteral("rows"), rows },
    };
    std::printf(
        "PIXHOUND_RUN %s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return completed ? 0 : 1;
}
