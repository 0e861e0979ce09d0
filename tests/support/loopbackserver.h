// A real HTTP server on 127.0.0.1 on a free port, run on its own thread inside a test. It records
// every request it gets, so that a test asserts what the program sent as well as what it did.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <httplib.h>

#include <memory>
#include <mutex>
#include <thread>

struct RecordedRequest
{
    QString method;
    QString target; // the path and query as they arrived on the wire, undecoded
    QString path; // decoded path
    QMap<QString, QString> headers; // names in lower case
    int remotePort = 0; // the client's end of the connection
};

class LoopbackServer
{
public:
    LoopbackServer();
    // An https server with the given certificate chain and key (PEM files).
    LoopbackServer(const QString& certificateFile, const QString& keyFile);
    ~LoopbackServer();

    // Serves body with the given status and content type at path.
    void serve(const std::string& path, const QByteArray& body, int status = 200,
        const std::string& contentType = "text/html");
    // Full control: the handler of cpp-httplib for GET at path (a regular expression).
    httplib::Server& server() { return *m_server; }
    bool isValid() const { return m_server->is_valid(); }

    // Starts listening; call after registering the handlers.
    void start();
    void stop();

    int port() const { return m_port; }
    QString url(const QString& path) const; // "http://127.0.0.1:PORT" + path

    QList<RecordedRequest> requests() const;
    QStringList targets() const; // the target of every request, in order
    int requestCount(const QString& path) const;
    void clearRequests();

private:
    void record();

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    QList<RecordedRequest> m_requests;
};
