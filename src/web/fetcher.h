// The program's only client for pages and images: one GET, driven from the GUI thread and run on
// the pool's transfer thread, the GUI thread yielding to its event loop while it waits, with the
// byte count on the status line.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class BodySink;
class ConnectionCache;
class PooledFetch;
class RunHost;
struct RunState;

enum class FetchOutcome {
    Complete, // the whole body arrived (whatever the HTTP status)
    Incomplete, // the transfer failed part-way; data holds what arrived
    NoConnection, // the server could not be reached; data is empty
    Cancelled, // blnCancel was set; data must be discarded
    NoRoot, // no root could be formed for the address; nothing was done
    TooLarge, // the body passed maxBytes; data holds the first maxBytes bytes
};

// What one fetch amounted to, besides its bytes.
struct FetchResult
{
    FetchOutcome outcome = FetchOutcome::NoRoot;
    // The address the body was served from: after redirects, the last one; without a redirect,
    // exactly the address that was asked for (the same QString, not a re-spelling of it).
    QString finalUrl;
    // Empty unless the fetch failed in a way worth telling the user: then a Japanese status-line
    // text naming the cause and the host (a refused certificate, an unknown host, a refused
    // connection, no answer, an HTTP status of 400 or more on a Complete body, ...).
    QString failureText;
    // The Content-Type the server sent with the body; empty when it sent none.
    QByteArray contentType;
};

constexpr qint64 pageBodyLimit = 64LL * 1024 * 1024;
constexpr qint64 imageBodyLimit = 256LL * 1024 * 1024;

// Fetches url into data with the program's User-Agent and a Referer naming the address's root
// (without a user name or password).
// The status line shows the text it had when the call began, "(", the bytes so far and
// "Bytes完了)", and always ends on the final count (except on Cancelled and NoRoot, which leave
// it alone). data holds exactly the body bytes except on NoRoot (left as given).
// A server that cannot be reached is tried for 5 s, then once more with a fresh session after
// 1.5 s: NoConnection after about 6.5 s, with no message. A server that took the request is
// never asked again: one that then sends nothing for RunState::fetchStallSeconds ends the fetch
// (NoConnection, or Incomplete once bytes had come). The call yields to the event loop while
// it waits; it returns Cancelled right after the wait in which blnCancel was set or the handles
// were closed (stopTransfers). The host and its run state must outlive the call.
FetchResult Get_UrlData(
    RunHost& host, const QString& url, QByteArray& data, qint64 maxBytes = pageBodyLimit);

// Starts fetching url, as Get_UrlData would, in the window's pool; it moves on the transfer thread
// from now on. With a sink the body goes there, and only its first bytes stay in memory. None
// when no root can be formed for the address (NoRoot). gate: see PooledFetch::setGate, in force
// from the first byte. ahead: fetched before its turn, it may wait in the pool for a connection
// (Transfer::Request::ahead), before those that are not urgent when it is.
std::unique_ptr<PooledFetch> startFetch(RunState& state, const QString& url, qint64 maxBytes,
    std::shared_ptr<BodySink> sink = {}, std::function<bool(qint64)> gate = {}, bool ahead = false,
    bool urgent = false);
// The connections of the run (state.connections), made on first use.
std::shared_ptr<ConnectionCache> runConnections(RunState& state);
// Waits for fetch, started by startFetch for url, and tells what it amounted to, exactly as
// Get_UrlData(url) would have (status texts included).
FetchResult awaitFetchResult(
    RunHost& host, const QString& url, PooledFetch& fetch, QByteArray& data);
// Waits in the event loop until fetch has ended, with the byte count on the status line exactly as
// Get_UrlData shows it, and hands over its body (with a sink, its first bytes) and outcome.
// Cancelled (the fetch closed, data empty) right after the wait in which blnCancel was set, the
// handles were closed, or, with endOnSkip, blnSkip was set. The fetch is the window's (hInternet,
// hUrl) while the call waits.
FetchOutcome awaitFetch(RunHost& host, PooledFetch& fetch, QByteArray& data, bool endOnSkip);

// The address without its fragment: the text before the first "#".
QString Cut_URLTail(const QString& url);

// What Cancel (after Yes) and closing the window do first: sets blnCancel, closes the pool to new
// requests until allowTransfers, then closes the transfer under way, hUrl first, then hInternet
// (each at most once, both cleared), and every other transfer of the window. From here on no
// request leaves, whatever event loop runs meanwhile. Safe to call from inside a yield of
// Get_UrlData, and when nothing is open.
void stopTransfers(RunState& state);
// Opens the pool again: a new run starts.
void allowTransfers(RunState& state);

// The address as a browser puts it on the wire: spaces, controls and non-ASCII characters
// percent-encoded as UTF-8 (a non-ASCII host name in its IDNA form), everything else as written.
QByteArray wireAddress(const QString& url);
// The scheme, the host and the port of a wire address, as written: what libcurl counts a
// server's connections by.
QByteArray serverOfWire(const QByteArray& wireUrl);
