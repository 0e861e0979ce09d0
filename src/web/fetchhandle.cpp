// The handles of a fetch as the window holds them.
#include "web/fetchhandle.h"

bool FetchSession::open()
{
    if (!m_multi && !m_closed)
        m_multi.reset(curl_multi_init());
    return bool(m_multi);
}

void FetchSession::close()
{
    // libcurl wants every easy handle out of a multi handle before either is freed.
    while (!m_attached.isEmpty())
        detach(*m_attached.constLast());
    m_multi.reset();
    m_closed = true;
}

bool FetchSession::attach(Transfer& transfer)
{
    if (!m_multi || !transfer.isOpen() || m_attached.contains(&transfer))
        return false;
    if (curl_multi_add_handle(m_multi.get(), transfer.easy()) != CURLM_OK)
        return false;
    m_attached.append(&transfer);
    return true;
}

void FetchSession::detach(Transfer& transfer)
{
    if (!m_attached.removeOne(&transfer))
        return;
    const CURLMcode code = curl_multi_remove_handle(m_multi.get(), transfer.easy());
    if (code != CURLM_OK)
        qWarning("FetchSession: curl_multi_remove_handle failed: %s", curl_multi_strerror(code));
}

bool FetchRequest::start(const Transfer::Request& request)
{
    if (!m_transfer.open(request))
        return false;
    if (!m_session.attach(m_transfer)) {
        m_transfer.close();
        m_transfer.finish(CURLE_FAILED_INIT);
        return false;
    }
    return true;
}

void FetchRequest::close()
{
    m_session.detach(m_transfer);
    m_transfer.close();
}
