// A scripted web server on 127.0.0.1, on threads of its own inside a test. Each path answers with a
// conversation of raw pieces, each sent after a pause or held until the test releases it, so one
// server plays a good site, a slow one or a liar. It records every request with its headers.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct RecordedRequest
{
    QString target; // the path and query as they arrived on the wire, undecoded
    QString path; // the path, percent-decoded
    QMap<QString, QString> headers; // names in lower case
};

class LoopbackServer
{
public:
    // A piece of the answer: bytes sent after pauseMs, or after release() when held, times times
    // (-1: again and again until the client leaves). keepOpen on the last piece: the connection
    // then waits for the next request; otherwise the server hangs up after the conversation.
    // reset: once sent, the connection is torn down (a TCP reset), not closed.
    struct Piece
    {
        QByteArray bytes;
        int pauseMs = 0;
        int times = 1;
        bool held = false;
        bool keepOpen = false;
        bool reset = false;
    };
    using Conversation = QList<Piece>;

    // Listens at once on a free port. With a certificate chain and key (PEM files) it speaks https.
    // Once destroyed, its port is one where nobody listens.
    explicit LoopbackServer(const QString& certificateFile = {}, const QString& keyFile = {});
    ~LoopbackServer();

    // The path answers with the conversation; paths given none get a 404.
    void answer(const QString& path, const Conversation& conversation);
    // Serves body at path as a well-behaved server does; held: only once released.
    void serve(const QString& path, const QByteArray& body, bool held = false)
    {
        answer(path, reply(body, 200, {}, held));
    }
    // A whole answer with its length and any further header lines, on a connection kept open.
    static Conversation reply(
        const QByteArray& body, int status = 200, const QByteArray& fields = {}, bool held = false);
    static QByteArray head(int status, const QByteArray& fields);
    // Sends every held piece; release(false) holds them again.
    void release(bool send = true);

    int port() const { return m_port; }
    QString url(const QString& path) const; // "http://127.0.0.1:PORT" + path

    QList<RecordedRequest> requests() const;
    int requestCount(const QString& path) const;
    int connections() const { return m_connections; }
    bool clientLeft() const { return m_clientLeft; } // a client hung up before all was sent
    qint64 bytesSent() const { return m_bytesSent; }

private:
    struct Link;
    void converse(std::unique_ptr<Link> link);
    bool wait(Link& link, const Piece& piece);

    int m_listener = -1;
    int m_port = 0;
    void* m_tls = nullptr; // SSL_CTX*
    std::thread m_acceptor;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QHash<QString, Conversation> m_answers;
    QList<RecordedRequest> m_requests;
    QHash<QString, int> m_countByPath; // asked at every yield of a long crawl: no scan
    QList<int> m_clients;
    std::vector<std::thread> m_threads;
    bool m_released = false;
    std::atomic<bool> m_stopping { false };
    std::atomic<int> m_connections { 0 };
    std::atomic<bool> m_clientLeft { false };
    std::atomic<qint64> m_bytesSent { 0 };
};
