// Whole runs through the real main window against a site on 127.0.0.1.
#include "support/widgets/runfixture.h"

#include <QApplication>
#include <QListWidget>

const QByteArray RunFixture::jpegBytes
    = QByteArray::fromHex("FFD8FFE000104A464946") + QByteArray(300, 'x');

RunFixture::RunFixture()
    : window(std::make_unique<frmMain>())
{
    window->show();
}

RunFixture::~RunFixture()
{
    server.release();
    m_watch.stop();
    // The window's connections close first, so the server need not wait for them to idle out.
    window.reset();
}

QString RunFixture::servePage(const QStringList& links, const QString& held)
{
    QByteArray page = "<html><body>\r\n";
    for (const QString& link : links)
        page += "<a href=\"" + link.toUtf8() + "\"><img src=\"" + link.toUtf8() + "\"></a>\r\n";
    const auto answer = [&](const QString& path, const QByteArray& body, const QByteArray& type) {
        const QByteArray head = LoopbackServer::head(200,
            "Content-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size()));
        server.answer(path, { { head + body, 0, 1, path == held, true } });
    };
    answer(QStringLiteral("/g/index.htm"), page, "text/html");
    for (const QString& link : links) {
        const bool bad = link.startsWith(u"bad");
        answer(
            u"/g/" + link, bad ? "<html>no</html>" : jpegBytes, bad ? "text/html" : "image/jpeg");
    }
    return server.url(QStringLiteral("/g/index.htm"));
}

void RunFixture::whenRequested(const QString& path, std::function<void()> action)
{
    m_watch.callOnTimeout([this, path, action = std::move(action)] {
        if (server.requestCount(path) > 0 && m_watch.isActive()) {
            m_watch.stop();
            action();
        }
    });
    m_watch.start(5);
}

int RunFixture::inEventLoop(const std::function<void()>& start)
{
    QTimer::singleShot(0, window.get(), [this, start] {
        start();
        if (window->isVisible())
            QCoreApplication::exit(0);
    });
    QTimer guard;
    guard.callOnTimeout(qApp, [] { QCoreApplication::exit(99); });
    guard.start(30000);
    return QApplication::exec();
}

QAbstractButton* RunFixture::button(const QString& name) const
{
    return window->findChild<QAbstractButton*>(name);
}

QString listRows(const QWidget& window)
{
    QStringList lists;
    for (const char* name :
        { "lstDownload", "lstDownloadDone", "lstDownloadAlready", "lstDownloadDenied" }) {
        const auto* list = window.findChild<QListWidget*>(QLatin1String(name));
        QStringList rows;
        for (int row = 0; row < list->count(); ++row)
            rows.append(list->item(row)->text() + (list->item(row)->isSelected() ? u"*" : u""));
        lists.append(rows.join(u' '));
    }
    return lists.join(u'|');
}

QString RunFixture::requested() const
{
    QStringList paths;
    for (const RecordedRequest& request : server.requests())
        paths.append(request.path);
    paths.sort();
    return paths.join(u' ');
}
