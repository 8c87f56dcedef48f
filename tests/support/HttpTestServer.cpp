#include "HttpTestServer.h"
#include "TestSupport.h"

#include <ctype.h>

#include <algorithm>

namespace fwtest
{
namespace
{
const size_t MAX_REQUEST_HEADER = 16384;
const DWORD SOCKET_TIMEOUT_MS = 10000;    // a silent client cannot hold a thread for long
const DWORD STALL_LIMIT_MS = 30000;       // a stall ends by itself after this

std::string Lower(std::string text)
{
    for (char& c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}

// The value of a request header ("" when absent), its name without regard to case.
std::string HeaderValue(const std::string& request, const std::string& name)
{
    std::string lower = Lower(request), key = "\r\n" + Lower(name) + ":";
    size_t at = lower.find(key);
    if (at == std::string::npos)
        return "";
    size_t from = request.find_first_not_of(' ', at + key.size());
    size_t end = request.find("\r\n", at + key.size());
    return from == std::string::npos || from >= end ? "" : request.substr(from, end - from);
}

// An abortive close (RST): the client sees a broken transfer, not an end of data.
void Reset(SOCKET client)
{
    linger abort = {1, 0};
    setsockopt(client, SOL_SOCKET, SO_LINGER, (const char*)&abort, sizeof(abort));
    closesocket(client);
}
} // namespace

HttpTestServer::HttpTestServer(const std::string& folder) : m_folder(folder)
{
    static LONG instances = 0;
    m_runPrefix = "run" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount()) + "_" +
                  std::to_string(InterlockedIncrement(&instances)) + "/";
    m_stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    m_releaseEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    m_stalledEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

HttpTestServer::~HttpTestServer()
{
    Stop();
    WSACleanup();
    CloseHandle(m_stopEvent);
    CloseHandle(m_releaseEvent);
    CloseHandle(m_stalledEvent);
}

bool HttpTestServer::Start()
{
    if (m_acceptThread.joinable())
        return true;
    ResetEvent(m_stopEvent);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK); // loopback only, never the network
    int length = sizeof(address);                     // port 0: any free port
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_listener != INVALID_SOCKET && bind(m_listener, (sockaddr*)&address, sizeof(address)) == 0 &&
        listen(m_listener, SOMAXCONN) == 0 && getsockname(m_listener, (sockaddr*)&address, &length) == 0)
    {
        m_port = ntohs(address.sin_port);
        m_acceptThread = std::thread(&HttpTestServer::Accept, this);
        return true;
    }
    Stop();
    return false;
}

void HttpTestServer::Stop()
{
    SetEvent(m_stopEvent);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    if (m_listener != INVALID_SOCKET)
    {
        closesocket(m_listener);
        m_listener = INVALID_SOCKET;
    }
    for (std::thread& thread : m_connectionThreads)
        thread.join();
    m_connectionThreads.clear();
}

std::string HttpTestServer::BaseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/" + m_runPrefix;
}

void HttpTestServer::SetBehaviour(const std::string& path, Behaviour behaviour)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_behaviours[Lower(path)] = behaviour;
    m_answered.erase(Lower(path));
}

bool HttpTestServer::WaitForStall(DWORD timeoutMs)
{
    return WaitForSingleObject(m_stalledEvent, timeoutMs) == WAIT_OBJECT_0;
}

void HttpTestServer::SetDefaultBehaviour(Behaviour behaviour)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_default = behaviour;
}

std::vector<HttpTestServer::Served> HttpTestServer::Log() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_log;
}

size_t HttpTestServer::BytesServed(const std::string& path) const
{
    size_t bytes = 0;
    for (const Served& served : Log())
        bytes += Lower(served.path) == Lower(path) ? served.bytes : 0;
    return bytes;
}

// The behaviour of this answer (the lock held): a drop or a busy answer only
// as often as the mode says, then served normally.
HttpTestServer::Behaviour HttpTestServer::BehaviourOf(const std::string& path, const std::string&)
{
    std::string key = Lower(path);
    Behaviour behaviour = m_behaviours.count(key) ? m_behaviours[key] : m_default;
    int answered = m_answered[key]++;
    bool drop = behaviour == SERVE_DROP_ONCE || behaviour == SERVE_DROP_ONCE_NO_RANGES;
    if ((drop && answered > 0) || (behaviour == SERVE_BUSY && answered >= m_busyAnswers))
        return SERVE_NORMAL;
    return behaviour;
}

void HttpTestServer::Record(const std::string& path, const std::string& range, int status, size_t bytes)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_log.push_back({path, range, status, bytes});
}

std::vector<std::string> HttpTestServer::Requests() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_requests;
}

int HttpTestServer::RequestCount(const std::string& path) const
{
    int count = 0;
    for (const std::string& request : Requests())
        count += Lower(request) == Lower(path);
    return count;
}

void HttpTestServer::Accept()
{
    // Polls the stop event between short selects, so Stop never waits long.
    while (WaitForSingleObject(m_stopEvent, 0) == WAIT_TIMEOUT)
    {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_listener, &readable);
        timeval wait = {0, 50000};
        int ready = select(0, &readable, NULL, NULL, &wait);
        if (ready < 0)
            break;
        SOCKET client = ready == 0 ? INVALID_SOCKET : accept(m_listener, NULL, NULL);
        if (client == INVALID_SOCKET)
            continue;
        DWORD timeout = SOCKET_TIMEOUT_MS;
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof(timeout));
        setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, (const char*)&timeout, sizeof(timeout));
        std::lock_guard<std::mutex> hold(m_lock);
        m_connectionThreads.emplace_back(&HttpTestServer::Serve, this, client);
    }
}

void HttpTestServer::Serve(SOCKET client)
{
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < MAX_REQUEST_HEADER)
    {
        int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0)
        {
            closesocket(client);
            return;
        }
        request.append(buffer, (size_t)got);
    }

    // Request line: GET SP target SP version
    std::string line = request.substr(0, request.find("\r\n"));
    size_t space = line.find(' ');
    std::string target = space == std::string::npos ? "" : line.substr(space + 1, line.find(' ', space + 1) - space - 1);
    if (m_proxyOnly)
    {
        const std::string scheme = "http://";
        if (Lower(target.substr(0, scheme.size())) != scheme)
        {
            Reset(client);
            return;
        }
        size_t slash = target.find('/', scheme.size());
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    // Only what lies below BaseUrl is served, and never anything outside the folder.
    const std::string prefix = "/" + m_runPrefix;
    bool below = Lower(target.substr(0, prefix.size())) == Lower(prefix) && target.find("..") == std::string::npos;
    std::string path = below ? target.substr(prefix.size()) : target;

    std::string range = HeaderValue(request, "Range"), ifRange = HeaderValue(request, "If-Range");
    Behaviour behaviour = SERVE_NORMAL;
    bool ranges = true;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_requests.push_back(path);
        std::string key = Lower(path);
        ranges = (m_behaviours.count(key) ? m_behaviours[key] : m_default) != SERVE_DROP_ONCE_NO_RANGES;
        behaviour = BehaviourOf(path, range);
    }
    if (behaviour == SERVE_DROP_AT_START)
    {
        Record(path, range, 0, 0);
        Reset(client);
        return;
    }

    std::string body, file = m_folder + "\\" + path;
    std::replace(file.begin(), file.end(), '/', '\\');
    DWORD attributes = GetFileAttributesA(file.c_str());
    bool found = behaviour != SERVE_MISSING && below && line.compare(0, 4, "GET ") == 0 &&
                 attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) && ReadBytes(file, body);
    bool busy = found && behaviour == SERVE_BUSY;
    // The file's validator: its size and a hash of its bytes, as a server's ETag.
    unsigned long long hash = 14695981039346656037ull;
    for (char c : body)
        hash = (hash ^ (unsigned char)c) * 1099511628211ull;
    std::string etag = "\"" + std::to_string(body.size()) + "-" + std::to_string(hash % 1000000007ull) + "\"";
    size_t from = 0;
    if (found && !busy && ranges && range.compare(0, 6, "bytes=") == 0 && (ifRange.empty() || ifRange == etag))
        from = strtoul(range.c_str() + 6, NULL, 10);
    int status = !found ? 404 : busy ? 503 : (from > 0 && from < body.size()) ? 206 : 200;
    if (status != 206)
        from = 0;
    std::string header = status == 200   ? "HTTP/1.0 200 OK\r\n"
                         : status == 206 ? "HTTP/1.0 206 Partial Content\r\n"
                         : status == 503 ? "HTTP/1.0 503 Service Unavailable\r\nRetry-After: 1\r\n"
                                         : "HTTP/1.0 404 Not Found\r\n";
    if (status == 200 || status == 206)
    {
        header += "Content-Type: application/octet-stream\r\nCache-Control: no-cache\r\nETag: " + etag + "\r\n";
        if (ranges)
            header += "Accept-Ranges: bytes\r\n";
        if (status == 206)
            header += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(body.size() - 1) + "/" +
                      std::to_string(body.size()) + "\r\n";
        body.erase(0, from);
    }
    else
    {
        header += "Content-Type: text/plain\r\n";
        body = status == 503 ? "busy" : "not found";
        behaviour = SERVE_NORMAL;
    }
    header += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    size_t sentBody = 0;
    auto sendAll = [&](const char* data, size_t size, bool isBody) {
        while (size > 0)
        {
            if (WaitForSingleObject(m_stopEvent, 0) == WAIT_OBJECT_0)
                return false;
            int sent = send(client, data, (int)std::min(size, (size_t)65536), 0);
            if (sent <= 0)
                return false;
            data += sent;
            size -= (size_t)sent;
            sentBody += isBody ? (size_t)sent : 0;
        }
        return true;
    };
    size_t half = body.size() / 2;
    bool cut = behaviour == SERVE_STALL || behaviour == SERVE_SHORT || behaviour == SERVE_DROP_ONCE ||
               behaviour == SERVE_DROP_ONCE_NO_RANGES;
    bool ok = sendAll(header.data(), header.size(), false) && sendAll(body.data(), cut ? half : body.size(), true);
    if (ok && behaviour == SERVE_STALL)
    {
        SetEvent(m_stalledEvent);
        HANDLE events[2] = {m_stopEvent, m_releaseEvent};
        ok = WaitForMultipleObjects(2, events, FALSE, STALL_LIMIT_MS) == WAIT_OBJECT_0 + 1 &&
             sendAll(body.data() + half, body.size() - half, true);
    }
    Record(path, range, status, status == 200 || status == 206 ? sentBody : 0);
    // A drop ends in an orderly close: the bytes sent all reach the client,
    // so what it asks for next shows what it kept.
    if (!ok)
    {
        Reset(client);
        return;
    }
    shutdown(client, SD_SEND);
    // Drain what the client may still send so that the close is graceful.
    DWORD shortWait = 1000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, (const char*)&shortWait, sizeof(shortWait));
    while (recv(client, buffer, sizeof(buffer), 0) > 0)
    {
    }
    closesocket(client);
}
} // namespace fwtest
