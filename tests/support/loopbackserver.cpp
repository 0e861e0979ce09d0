// A real HTTP server on 127.0.0.1 inside a test.
#include "support/loopbackserver.h"

#include <QFile>

LoopbackServer::LoopbackServer()
    : m_server(std::make_unique<httplib::Server>())
{
    record();
}

LoopbackServer::LoopbackServer(const QString& certificateFile, const QString& keyFile)
    : m_server(std::make_unique<httplib::SSLServer>(
        QFile::encodeName(certificateFile).constData(), QFile::encodeName(keyFile).constData()))
{
    record();
}

LoopbackServer::~LoopbackServer() { stop(); }

void LoopbackServer::record()
{
    // Headers and body go out in separate writes; without this each response waits for a delayed
    // acknowledgement, some 40 ms a request.
    m_server->set_tcp_nodelay(true);
    // Recorded on arrival, before any handler runs, so a test sees a request that is still being
    // answered (a slow body, say).
    m_server->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
        RecordedRequest recorded;
        recorded.method = QString::fromStdString(request.method);
        recorded.target = QString::fromStdString(request.target);
        recorded.path = QString::fromStdString(request.path);
        recorded.remotePort = request.remote_port;
        for (const auto& [name, value] : request.headers)
            recorded.headers.insert(
                QString::fromStdString(name).toLower(), QString::fromStdString(value));
        std::lock_guard lock(m_mutex);
        m_requests.append(recorded);
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

void LoopbackServer::serve(
    const std::string& path, const QByteArray& body, int status, const std::string& contentType)
{
    const std::string bytes = body.toStdString();
    m_server->Get(
        path, [bytes, status, contentType](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_content(bytes, contentType);
        });
}

void LoopbackServer::start()
{
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::yield();
}

void LoopbackServer::stop()
{
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
}

QString LoopbackServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:") + QString::number(m_port) + path;
}

QList<RecordedRequest> LoopbackServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

QStringList LoopbackServer::targets() const
{
    QStringList targets;
    for (const RecordedRequest& request : requests())
        targets.append(request.target);
    return targets;
}

int LoopbackServer::requestCount(const QString& path) const
{
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (const auto& request : m_requests)
        count += request.path == path ? 1 : 0;
    return count;
}

void LoopbackServer::clearRequests()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}
