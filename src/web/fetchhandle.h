// The handles of a fetch as the window holds them (hInternet: the session, hUrl: the request),
// so that Cancel and closing the window can end the transfer under way.
#pragma once

#include "web/curlhandles.h"
#include "web/transfer.h"

#include <QList>

class FetchHandle
{
public:
    virtual ~FetchHandle() = default;
    // Ends what the handle stands for at once; later calls do nothing. The object itself stays
    // valid: its owner sees isOpen() turn false and stops using it.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
};

// A session: the multi handle that drives the transfers of one fetch.
class FetchSession final : public FetchHandle
{
public:
    FetchSession() = default;
    FetchSession(const FetchSession&) = delete;
    FetchSession& operator=(const FetchSession&) = delete;
    ~FetchSession() override { close(); }

    // False when libcurl could not make the multi handle, or when the session was closed.
    bool open();
    // Takes the transfers still attached out of it before releasing the multi handle. A closed
    // session stays closed, even one closed before it was opened.
    void close() override;
    bool isOpen() const override { return bool(m_multi); }
    bool isClosed() const { return m_closed; }
    CURLM* multi() const { return m_multi.get(); }

    // Adds an open transfer to the session; false when libcurl refused it or the session is
    // closed.
    bool attach(Transfer& transfer);
    // Takes the transfer out of the session; nothing when it is not in it.
    void detach(Transfer& transfer);

private:
    CurlMulti m_multi;
    QList<Transfer*> m_attached;
    bool m_closed = false;
};

// A request: one transfer running in a session.
class FetchRequest final : public FetchHandle
{
public:
    explicit FetchRequest(FetchSession& session)
        : m_session(session)
    { }
    FetchRequest(const FetchRequest&) = delete;
    FetchRequest& operator=(const FetchRequest&) = delete;
    ~FetchRequest() override { close(); }

    // Opens the transfer and adds it to the session. False when either failed; the transfer then
    // tells why (it is finished, with mayRetry() false).
    bool start(const Transfer::Request& request);
    // Takes the transfer out of the session and releases its easy handle; the body stays.
    void close() override;
    bool isOpen() const override { return m_transfer.isOpen(); }

    Transfer& transfer() { return m_transfer; }

private:
    FetchSession& m_session;
    Transfer m_transfer;
};
