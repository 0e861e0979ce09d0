// A scripted web server on 127.0.0.1 inside a test.
#include "support/loopbackserver.h"

#include <QFile>
#include <QUrl>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

struct LoopbackServer::Link
{
    int fd;
    SSL* ssl = nullptr;
    ~Link()
    {
        if (ssl)
            SSL_free(ssl);
        ::shutdown(fd, SHUT_RDWR); // closed by the server's destructor, so the number stays taken
    }
    ssize_t read(char* bytes, int size)
    {
        return ssl ? SSL_read(ssl, bytes, size) : ::recv(fd, bytes, size_t(size), 0);
    }
    bool write(const QByteArray& bytes)
    {
        if (ssl)
            return bytes.isEmpty() || SSL_write(ssl, bytes.constData(), int(bytes.size())) > 0;
        return ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
};

LoopbackServer::LoopbackServer(const QString& certificateFile, const QString& keyFile)
{
    std::signal(SIGPIPE, SIG_IGN); // a client that leaves makes a write fail, nothing more
    if (!certificateFile.isEmpty()) {
        SSL_CTX* tls = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(tls, QFile::encodeName(certificateFile).constData());
        SSL_CTX_use_PrivateKey_file(tls, QFile::encodeName(keyFile).constData(), SSL_FILETYPE_PEM);
        m_tls = tls;
    }
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address {
        .sin_family = AF_INET, .sin_port = 0, .sin_addr = { htonl(INADDR_LOOPBACK) }, .sin_zero = {}
    };
    socklen_t length = sizeof address;
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    ::listen(m_listener, 64);
    m_acceptor = std::thread([this] {
        for (int client; (client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            ++m_connections;
            auto link = std::make_unique<Link>(client);
            std::lock_guard lock(m_mutex);
            m_clients.append(client);
            m_threads.emplace_back(&LoopbackServer::converse, this, std::move(link));
        }
    });
}

LoopbackServer::~LoopbackServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
    }
    ::shutdown(m_listener, SHUT_RDWR);
    if (m_acceptor.joinable())
        m_acceptor.join();
    for (const int client : std::as_const(m_clients))
        ::shutdown(client, SHUT_RDWR);
    for (std::thread& thread : m_threads)
        thread.join();
    for (const int fd : std::as_const(m_clients))
        ::close(fd);
    ::close(m_listener);
    SSL_CTX_free(static_cast<SSL_CTX*>(m_tls));
}

void LoopbackServer::converse(std::unique_ptr<Link> link)
{
    if (m_tls) {
        link->ssl = SSL_new(static_cast<SSL_CTX*>(m_tls));
        SSL_set_fd(link->ssl, link->fd);
        if (SSL_accept(link->ssl) != 1)
            return;
    }
    QByteArray received;
    for (;;) {
        qsizetype end;
        while ((end = received.indexOf("\r\n\r\n")) < 0) {
            char bytes[16384];
            const ssize_t got = link->read(bytes, sizeof bytes);
            if (got <= 0)
                return;
            received.append(bytes, got);
        }
        const QList<QByteArray> lines = received.first(end).split('\n');
        received.remove(0, end + 4);
        const QList<QByteArray> words = lines.first().trimmed().split(' ');
        RecordedRequest request { QString::fromLatin1(words.value(1)), {}, {} };
        request.path = QUrl::fromPercentEncoding(words.value(1).split('?').first());
        for (const QByteArray& line : lines.sliced(1)) {
            const qsizetype colon = line.indexOf(':');
            request.headers.insert(QString::fromLatin1(line.first(qMax(colon, 0))).toLower(),
                QString::fromLatin1(line.sliced(colon + 1).trimmed()));
        }
        Conversation conversation;
        {
            std::lock_guard lock(m_mutex);
            m_requests.append(request);
            ++m_countByPath[request.path];
            conversation = m_answers.value(request.path, reply("none", 404));
        }
        bool keepOpen = false;
        for (const Piece& piece : std::as_const(conversation)) {
            for (int i = 0; piece.times < 0 || i < piece.times; ++i) {
                if (!wait(*link, piece))
                    return;
                if (!link->write(piece.bytes))
                    return void(m_clientLeft = true);
                m_bytesSent += piece.bytes.size();
            }
            if (piece.reset) {
                // Disconnecting a connected socket aborts it with a reset; the number stays taken.
                sockaddr unspecified {};
                unspecified.sa_family = AF_UNSPEC;
                ::connect(link->fd, &unspecified, sizeof unspecified);
                return;
            }
            keepOpen = piece.keepOpen;
        }
        if (!keepOpen)
            return;
    }
}

bool LoopbackServer::wait(Link& link, const Piece& piece)
{
    if (piece.held) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_released || m_stopping; });
    }
    const auto deadline = std::chrono::steady_clock::now() + piece.pauseMs * 1ms;
    while (!m_stopping && std::chrono::steady_clock::now() < deadline) {
        pollfd watch { link.fd, POLLIN | POLLRDHUP, 0 };
        if (::poll(&watch, 1, 10) <= 0)
            continue;
        char byte;
        if (::recv(link.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) {
            m_clientLeft = true;
            return false;
        }
        std::this_thread::sleep_for(10ms); // the next request is already waiting
    }
    return !m_stopping;
}

void LoopbackServer::answer(const QString& path, const Conversation& conversation)
{
    std::lock_guard lock(m_mutex);
    m_answers.insert(path, conversation);
}

LoopbackServer::Conversation LoopbackServer::reply(
    const QByteArray& body, int status, const QByteArray& fields, bool held)
{
    const QByteArray length = "Content-Length: " + QByteArray::number(body.size());
    return { { head(status, fields.isEmpty() ? length : fields + "\r\n" + length) + body, 0, 1,
        held, true } };
}

QByteArray LoopbackServer::head(int status, const QByteArray& fields)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n" + fields + "\r\n\r\n";
}

void LoopbackServer::release(bool send)
{
    std::lock_guard lock(m_mutex);
    m_released = send;
    m_changed.notify_all();
}

QString LoopbackServer::url(const QString& path) const
{
    return u"http://127.0.0.1:" + QString::number(m_port) + path;
}

QList<RecordedRequest> LoopbackServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int LoopbackServer::requestCount(const QString& path) const
{
    std::lock_guard lock(m_mutex);
    return m_countByPath.value(path);
}
