// A small HTTP/1.0 server on the loopback interface that the tests start and
// stop themselves: it serves the files of one folder, and per request path it
// can misbehave the ways a real server or network does (no length, a stall,
// a connection dropped part-way), so that downloads through urlmon can be
// tested for real under Wine without any outside network.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace fwtest
{
class HttpTestServer
{
public:
    enum Behaviour
    {
        SERVE_NORMAL,      // 200 with Content-Length, or 404 for a missing file
        SERVE_NO_LENGTH,   // 200 without Content-Length: the body ends with the connection
        SERVE_STALL,       // headers and the first half of the body, then nothing until
                           // ReleaseStalls (rest is sent) or Stop / the stall limit (closed)
        SERVE_SHORT,       // headers and the first half of the body, then an orderly close
        SERVE_DROP_AT_START // the connection is reset before anything is answered: what a
                            // failed download looks like under Wine, which caches a 404
                            // page as a success and a short body closed gracefully too
    };

    // Serves the files below folder (a Windows path); nothing is served outside it.
    explicit HttpTestServer(const std::string& folder);
    ~HttpTestServer(); // stops the server

    // Binds 127.0.0.1 on a port chosen by the system and starts the accepting thread.
    bool Start();
    // Closes the listener, ends every stall and waits (bounded) for every thread.
    void Stop();

    unsigned short Port() const { return m_port; }
    // "http://127.0.0.1:<port>/<run>/": every server instance serves under a
    // folder name of its own, so that nothing one test downloaded can be
    // answered from the Internet cache in another (ports get reused).
    std::string BaseUrl() const;

    // Behaviour for one request path (without the leading slash, compared
    // without regard to case); every other path is served normally.
    void SetBehaviour(const std::string& path, Behaviour behaviour);
    // How many body bytes to send per write (smaller: more progress reports).
    void SetChunkSize(size_t bytes);

    // Waits until a stalled response has sent its first half; false on timeout.
    bool WaitForStall(DWORD timeoutMs);
    // Lets every stalled response (present and future) finish.
    void ReleaseStalls();

    // A proxy only: a request for a whole address ("GET http://host/...") is
    // served as the path it names; a direct one ("GET /...") is refused
    // (connection reset).
    void SetProxyOnly(bool proxyOnly) { m_proxyOnly = proxyOnly; }

    // Decoded request paths (below BaseUrl) in the order received.
    std::vector<std::string> Requests() const;
    int RequestCount(const std::string& path) const;

private:
    HttpTestServer(const HttpTestServer&);
    HttpTestServer& operator=(const HttpTestServer&);

    static DWORD WINAPI AcceptThread(void* param);
    static DWORD WINAPI ConnectionThread(void* param);
    void AcceptLoop();
    void Serve(SOCKET client);
    // The path's behaviour, with the chunk size of the moment.
    Behaviour BehaviourFor(const std::string& path, size_t& chunk) const;
    bool SendAll(SOCKET client, const char* data, size_t size);
    bool SendBody(SOCKET client, const std::string& body, size_t from, size_t to, size_t chunk);
    void Reset(SOCKET client);

    std::string m_folder;
    std::string m_runPrefix;   // "<run>/" of BaseUrl
    SOCKET m_listener;
    unsigned short m_port;
    HANDLE m_acceptThread;
    HANDLE m_stopEvent;    // manual reset: the server is stopping
    HANDLE m_releaseEvent; // manual reset: stalls may finish
    HANDLE m_stalledEvent; // manual reset: a stall has begun
    bool m_winsockStarted;

    mutable CRITICAL_SECTION m_lock; // guards everything below
    std::map<std::string, Behaviour> m_behaviours;
    size_t m_chunkSize;
    std::vector<std::string> m_requests;
    std::vector<HANDLE> m_connectionThreads;
    volatile bool m_proxyOnly = false;
};
} // namespace fwtest
