// The core of one transfer: an easy handle set up the program's way, the body it receives and
// what became of it. Independent of the loop that drives it, so that several can run at once.
#pragma once

#include "web/bodysink.h"
#include "web/curlhandles.h"
#include "web/fetcher.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <memory>

// The program's User-Agent, sent with every request.
inline constexpr char pixhoundUserAgent[] = "Mozilla/4.0 (compatible; MSIE 5.0; Win32)";

class Transfer
{
public:
    struct Request
    {
        QByteArray url; // as it goes on the wire (wireAddress)
        QByteArray root; // the address's root, as it goes on the wire, for the Referer line
        qint64 maxBytes = pageBodyLimit;
        long connectTimeoutMs = 0; // 0: libcurl's own limit
        bool freshConnection = false; // never reuse a kept connection
        long stallSeconds = 60; // a server that sends nothing for this long has gone away
        void* share = nullptr; // a CURLSH* from ConnectionCache, or none
        // Where the body goes; none: into memory (body()). With a sink, body() holds only the
        // first headBytes bytes.
        std::shared_ptr<BodySink> sink;
        // Fetched before its turn: the pool may keep it waiting for one of the connections it
        // gives to fetches ahead, and starts it the moment one comes free.
        bool ahead = false;
        // Among the fetches ahead that wait, the urgent ones (the crawl's pages, which lead to
        // more work) go first.
        bool urgent = false;
    };
    static constexpr qsizetype headBytes = 16;

    Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Makes the easy handle for request. False when libcurl refused a setting; the transfer is
    // then finished (mayRetry() false) and holds no handle.
    bool open(const Request& request);
    // Releases the easy handle; the body and the ending stay. It must not be in a multi handle.
    void close();
    bool isOpen() const { return bool(m_easy); }
    CURL* easy() const { return m_easy.get(); }

    // A transfer with a gate holds received bytes only while gate(more) allows them: asked once
    // for the whole announced length before the first byte is kept, else for every piece. A
    // refusal ends the transfer at once (refusedByGate()), so that it never holds its connection
    // while it waits for room. No gate: every piece up to maxBytes is held. The gate stays
    // through open().
    void setGate(std::function<bool(qint64)> gate) { m_gate = std::move(gate); }
    bool refusedByGate() const { return m_refused; }
    // The body's bytes received so far; safe to ask from any thread while the transfer runs.
    qint64 received() const { return m_received.load(std::memory_order_relaxed); }

    // Records how libcurl ended the transfer.
    void finish(CURLcode result);
    bool isFinished() const { return m_finished; }

    // The body bytes received so far (never more than maxBytes); with a sink, the first of them.
    const QByteArray& body() const { return m_body; }
    QByteArray takeBody() { return std::exchange(m_body, {}); }

    // What the finished transfer amounts to: Complete, Incomplete, TooLarge or NoConnection.
    FetchOutcome outcome() const;
    // True for a NoConnection that another attempt could mend: the server was not reached, and
    // the reason is not one that a new attempt would meet again (a refused certificate, an
    // address libcurl cannot use). A server that took the request and then failed to answer is
    // not asked again: that would only make the user wait for it twice.
    bool mayRetry() const;
    // The address the transfer ended at, as on the wire, when it followed a redirect; else empty.
    QByteArray redirectedTo() const { return m_redirectedTo; }
    // The Content-Type the server sent, as sent; empty when it sent none.
    QByteArray contentType() const { return m_contentType; }
    // What failed, for the status line, naming the host the transfer ended at: a refused
    // certificate, an unknown host, a refused connection, no answer, or an HTTP status of 400 or
    // more on a complete body. Empty for any other ending.
    QString failureText() const;

private:
    static size_t onWrite(char* bytes, size_t size, size_t count, void* self) noexcept;
    static size_t onHeader(char* bytes, size_t size, size_t count, void* self) noexcept;
    static int onRequestReady(void* self, char*, char*, int, int) noexcept;
    size_t receive(const char* bytes, size_t size) noexcept;
    bool applyOptions(const Request& request);

    CurlEasy m_easy;
    CurlSlist m_headers;
    QByteArray m_body;
    std::shared_ptr<BodySink> m_sink;
    std::atomic<qint64> m_received { 0 };
    qint64 m_maxBytes = pageBodyLimit;
    CURLcode m_result = CURLE_OK;
    bool m_finished = false;
    bool m_responseStarted = false;
    bool m_requestSent = false;
    long m_status = 0; // the HTTP status; 0 for other protocols
    QByteArray m_endedAt; // the address the transfer ended at, as on the wire
    QByteArray m_redirectedTo;
    QByteArray m_contentType;
    bool m_sizeChecked = false;
    bool m_tooLarge = false;
    bool m_refused = false;
    qint64 m_announced = 0; // the length the server announced and the gate allowed
    std::function<bool(qint64)> m_gate;
};
