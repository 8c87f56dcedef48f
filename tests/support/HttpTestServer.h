// A small HTTP/1.0 server on the loopback interface that the tests start and
// stop themselves: it serves the files of one folder, and per request path it
// can misbehave the ways a real server or network does (a stall, a body cut
// short, a connection reset, a connection cut once mid-file, a busy server),
// so that downloads through wininet can be tested for real under Wine without
// any outside network. It answers range requests ("Range: bytes=N-" with
// "If-Range") as real servers do, and logs what it served.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fwtest
{
class HttpTestServer
{
public:
    enum Behaviour
    {
        SERVE_NORMAL,      // 200 with Content-Length, or 404 for a missing file
        SERVE_STALL,       // headers and the first half of the body, then nothing until
                           // ReleaseStalls (rest is sent) or Stop / the stall limit (reset)
        SERVE_SHORT,       // headers and the first half of the body, then an orderly close
        SERVE_DROP_AT_START, // the connection is reset before anything is answered
        SERVE_DROP_ONCE,     // the first answer is cut off after half the body; later ones whole, ranges served
        SERVE_DROP_ONCE_NO_RANGES, // the same from a server that ignores Range (always 200, the whole file)
        SERVE_BUSY,          // 503 for the first SetBusyAnswers requests, then served normally
        SERVE_MISSING        // 404, whether the file is there or not
    };

    // One answer: the path, the request's Range header ("" none), the status
    // and the bytes of the body sent.
    struct Served
    {
        std::string path, range;
        int status;
        size_t bytes;
    };

    // Serves the files below folder (a Windows path); nothing is served outside it.
    explicit HttpTestServer(const std::string& folder);
    ~HttpTestServer(); // stops the server

    // Binds 127.0.0.1 on a port chosen by the system and starts the accepting thread.
    bool Start();
    // Closes the listener, ends every stall and waits for every connection
    // (each is bounded by the time-outs of its socket).
    void Stop();

    unsigned short Port() const { return m_port; }
    // "http://127.0.0.1:<port>/<run>/": every server instance serves under a
    // folder name of its own, so that nothing one test downloaded can be
    // answered from the Internet cache in another (ports get reused).
    std::string BaseUrl() const;

    // Behaviour for one request path (below BaseUrl, compared without regard
    // to case); every other path is served normally.
    void SetBehaviour(const std::string& path, Behaviour behaviour);
    // The behaviour of every path that has none of its own (SERVE_NORMAL at first).
    void SetDefaultBehaviour(Behaviour behaviour);
    // How many requests of each SERVE_BUSY path are answered 503 (2 at first).
    void SetBusyAnswers(int count) { m_busyAnswers = count; }

    // Waits until a stalled response has sent its first half; false on timeout.
    bool WaitForStall(DWORD timeoutMs);
    // Lets every stalled response (present and future) finish.
    void ReleaseStalls() { SetEvent(m_releaseEvent); }

    // A proxy only: a request for a whole address ("GET http://host/...") is
    // served as the path it names; a direct one ("GET /...") is reset.
    void SetProxyOnly(bool proxyOnly) { m_proxyOnly = proxyOnly; }

    // Request paths (below BaseUrl) in the order received.
    std::vector<std::string> Requests() const;
    int RequestCount(const std::string& path) const;
    // Every answer, in order, and the body bytes sent for one path.
    std::vector<Served> Log() const;
    size_t BytesServed(const std::string& path) const;

private:
    HttpTestServer(const HttpTestServer&);
    HttpTestServer& operator=(const HttpTestServer&);

    void Accept();
    void Serve(SOCKET client);
    Behaviour BehaviourOf(const std::string& path, const std::string& range);
    void Record(const std::string& path, const std::string& range, int status, size_t bytes);

    std::string m_folder;
    std::string m_runPrefix;   // "<run>/" of BaseUrl
    SOCKET m_listener = INVALID_SOCKET;
    unsigned short m_port = 0;
    std::thread m_acceptThread;
    HANDLE m_stopEvent;    // manual reset: the server is stopping
    HANDLE m_releaseEvent; // manual reset: stalls may finish
    HANDLE m_stalledEvent; // manual reset: a stall has begun
    volatile bool m_proxyOnly = false;
    volatile int m_busyAnswers = 2;

    mutable std::mutex m_lock; // guards everything below
    std::map<std::string, Behaviour> m_behaviours;
    Behaviour m_default = SERVE_NORMAL;
    std::map<std::string, int> m_answered;   // requests per path so far
    std::vector<std::string> m_requests;
    std::vector<Served> m_log;
    std::vector<std::thread> m_connectionThreads;
};
} // namespace fwtest
