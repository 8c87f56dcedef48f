#include "HttpTestServer.h"
#include "TestSupport.h"

#include <ws2tcpip.h>
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace fwtest
{
namespace
{
const size_t MAX_REQUEST_HEADER = 16384;
const DWORD SOCKET_TIMEOUT_MS = 10000;    // a silent client cannot hold a thread for long
const DWORD THREAD_JOIN_TIMEOUT_MS = 10000;
const DWORD STALL_LIMIT_MS = 30000;       // a stall ends by itself after this

struct ConnectionStart
{
    HttpTestServer* server;
    SOCKET client;
};

std::string Lower(std::string text)
{
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = (char)tolower((unsigned char)text[i]);
    return text;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = (char)tolower((unsigned char)c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "/a%20b/c.zip?x=1" -> "a b/c.zip"; false for anything we refuse to map to a file.
bool DecodePath(const std::string& target, std::string& path)
{
    path.clear();
    size_t end = target.find_first_of("?#");
    std::string raw = target.substr(0, end);
    if (raw.empty() || raw[0] != '/')
        return false;
    for (size_t i = 1; i < raw.size(); ++i)
    {
        char c = raw[i];
        if (c == '%' && i + 2 < raw.size() && HexValue(raw[i + 1]) >= 0 && HexValue(raw[i + 2]) >= 0)
        {
            c = (char)(HexValue(raw[i + 1]) * 16 + HexValue(raw[i + 2]));
            i += 2;
        }
        if (c == 0)
            return false;
        path += c;
    }
    // Never leave the served folder.
    std::string check = "/" + path + "/";
    std::replace(check.begin(), check.end(), '\\', '/');
    if (check.find("/../") != std::string::npos || path.find(':') != std::string::npos)
        return false;
    return true;
}

} // namespace

HttpTestServer::HttpTestServer(const std::string& folder)
    : m_folder(folder), m_listener(INVALID_SOCKET), m_port(0), m_acceptThread(NULL),
      m_winsockStarted(false), m_chunkSize(4096)
{
    InitializeCriticalSection(&m_lock);
    static LONG instances = 0;
    char prefix[64];
    _snprintf(prefix, sizeof(prefix), "run%lu_%lu_%ld/", GetCurrentProcessId(), GetTickCount(),
              InterlockedIncrement(&instances));
    m_runPrefix = prefix;
    m_stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    m_releaseEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    m_stalledEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
}

HttpTestServer::~HttpTestServer()
{
    Stop();
    CloseHandle(m_stopEvent);
    CloseHandle(m_releaseEvent);
    CloseHandle(m_stalledEvent);
    DeleteCriticalSection(&m_lock);
}

bool HttpTestServer::Start()
{
    if (m_acceptThread != NULL)
        return true;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    m_winsockStarted = true;
    ResetEvent(m_stopEvent);

    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_listener == INVALID_SOCKET)
        return false;
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK); // loopback only, never the network
    address.sin_port = 0;                             // any free port
    int length = sizeof(address);
    if (bind(m_listener, (sockaddr*)&address, sizeof(address)) != 0 ||
        listen(m_listener, SOMAXCONN) != 0 ||
        getsockname(m_listener, (sockaddr*)&address, &length) != 0)
    {
        closesocket(m_listener);
        m_listener = INVALID_SOCKET;
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_acceptThread = CreateThread(NULL, 0, AcceptThread, this, 0, NULL);
    if (m_acceptThread == NULL)
    {
        closesocket(m_listener);
        m_listener = INVALID_SOCKET;
        return false;
    }
    return true;
}

void HttpTestServer::Stop()
{
    SetEvent(m_stopEvent);
    if (m_acceptThread != NULL)
    {
        WaitForSingleObject(m_acceptThread, THREAD_JOIN_TIMEOUT_MS);
        CloseHandle(m_acceptThread);
        m_acceptThread = NULL;
    }
    if (m_listener != INVALID_SOCKET)
    {
        closesocket(m_listener);
        m_listener = INVALID_SOCKET;
    }
    std::vector<HANDLE> threads;
    EnterCriticalSection(&m_lock);
    threads.swap(m_connectionThreads);
    LeaveCriticalSection(&m_lock);
    for (size_t i = 0; i < threads.size(); ++i)
    {
        WaitForSingleObject(threads[i], THREAD_JOIN_TIMEOUT_MS);
        CloseHandle(threads[i]);
    }
    if (m_winsockStarted)
    {
        WSACleanup();
        m_winsockStarted = false;
    }
}

std::string HttpTestServer::BaseUrl() const
{
    char text[64];
    _snprintf(text, sizeof(text), "http://127.0.0.1:%u/", (unsigned)m_port);
    return text + m_runPrefix;
}

void HttpTestServer::SetBehaviour(const std::string& path, Behaviour behaviour)
{
    EnterCriticalSection(&m_lock);
    m_behaviours[Lower(path)] = behaviour;
    LeaveCriticalSection(&m_lock);
}

void HttpTestServer::SetChunkSize(size_t bytes)
{
    EnterCriticalSection(&m_lock);
    m_chunkSize = bytes == 0 ? 1 : bytes;
    LeaveCriticalSection(&m_lock);
}

bool HttpTestServer::WaitForStall(DWORD timeoutMs)
{
    return WaitForSingleObject(m_stalledEvent, timeoutMs) == WAIT_OBJECT_0;
}

void HttpTestServer::ReleaseStalls()
{
    SetEvent(m_releaseEvent);
}

std::vector<std::string> HttpTestServer::Requests() const
{
    EnterCriticalSection(&m_lock);
    std::vector<std::string> copy = m_requests;
    LeaveCriticalSection(&m_lock);
    return copy;
}

int HttpTestServer::RequestCount(const std::string& path) const
{
    std::string wanted = Lower(path);
    int count = 0;
    EnterCriticalSection(&m_lock);
    for (size_t i = 0; i < m_requests.size(); ++i)
        if (Lower(m_requests[i]) == wanted)
            ++count;
    LeaveCriticalSection(&m_lock);
    return count;
}

DWORD WINAPI HttpTestServer::AcceptThread(void* param)
{
    static_cast<HttpTestServer*>(param)->AcceptLoop();
    return 0;
}

DWORD WINAPI HttpTestServer::ConnectionThread(void* param)
{
    ConnectionStart start = *static_cast<ConnectionStart*>(param);
    delete static_cast<ConnectionStart*>(param);
    start.server->Serve(start.client);
    return 0;
}

void HttpTestServer::AcceptLoop()
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
        if (ready == 0)
            continue;
        SOCKET client = accept(m_listener, NULL, NULL);
        if (client == INVALID_SOCKET)
            continue;
        DWORD timeout = SOCKET_TIMEOUT_MS;
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof(timeout));
        setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, (const char*)&timeout, sizeof(timeout));
        ConnectionStart* start = new ConnectionStart;
        start->server = this;
        start->client = client;
        HANDLE thread = CreateThread(NULL, 0, ConnectionThread, start, 0, NULL);
        if (thread == NULL)
        {
            delete start;
            closesocket(client);
            continue;
        }
        EnterCriticalSection(&m_lock);
        m_connectionThreads.push_back(thread);
        LeaveCriticalSection(&m_lock);
    }
}

HttpTestServer::Behaviour HttpTestServer::BehaviourFor(const std::string& path, size_t& chunk) const
{
    EnterCriticalSection(&m_lock);
    chunk = m_chunkSize;
    Behaviour behaviour = SERVE_NORMAL;
    std::map<std::string, Behaviour>::const_iterator found = m_behaviours.find(Lower(path));
    if (found != m_behaviours.end())
        behaviour = found->second;
    LeaveCriticalSection(&m_lock);
    return behaviour;
}

bool HttpTestServer::SendAll(SOCKET client, const char* data, size_t size)
{
    while (size > 0)
    {
        int sent = send(client, data, (int)std::min(size, (size_t)65536), 0);
        if (sent <= 0)
            return false;
        data += sent;
        size -= (size_t)sent;
    }
    return true;
}

bool HttpTestServer::SendBody(SOCKET client, const std::string& body, size_t from, size_t to, size_t chunk)
{
    for (size_t at = from; at < to; at += chunk)
    {
        if (WaitForSingleObject(m_stopEvent, 0) == WAIT_OBJECT_0)
            return false;
        if (!SendAll(client, body.data() + at, std::min(chunk, to - at)))
            return false;
    }
    return true;
}

void HttpTestServer::Reset(SOCKET client)
{
    // An abortive close (RST): the client sees a broken transfer, not an end of data.
    linger abort = {1, 0};
    setsockopt(client, SOL_SOCKET, SO_LINGER, (const char*)&abort, sizeof(abort));
    closesocket(client);
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

    // Request line: METHOD SP target SP version
    size_t lineEnd = request.find("\r\n");
    std::string line = request.substr(0, lineEnd);
    size_t space1 = line.find(' ');
    size_t space2 = space1 == std::string::npos ? std::string::npos : line.find(' ', space1 + 1);
    std::string method = space1 == std::string::npos ? "" : line.substr(0, space1);
    std::string target = space2 == std::string::npos ? "" : line.substr(space1 + 1, space2 - space1 - 1);
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
    std::string path;
    bool pathOk = DecodePath(target, path);
    if (pathOk && Lower(path.substr(0, m_runPrefix.size())) == Lower(m_runPrefix))
        path = path.substr(m_runPrefix.size());
    else
    {
        pathOk = false;   // only what lies below BaseUrl is served
        path = target;
    }

    EnterCriticalSection(&m_lock);
    m_requests.push_back(path);
    LeaveCriticalSection(&m_lock);

    size_t chunk;
    Behaviour behaviour = BehaviourFor(path, chunk);
    if (behaviour == SERVE_DROP_AT_START)
    {
        Reset(client);
        return;
    }

    std::string body;
    bool found = false;
    if (pathOk && method == "GET")
    {
        std::string file = m_folder + "\\" + path;
        std::replace(file.begin(), file.end(), '/', '\\');
        DWORD attributes = GetFileAttributesA(file.c_str());
        found = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                ReadBytes(file, body);
    }

    char header[512];
    if (!found)
    {
        const char* text = "not found";
        _snprintf(header, sizeof(header),
                  "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: %u\r\n"
                  "Connection: close\r\n\r\n%s",
                  (unsigned)strlen(text), text);
        SendAll(client, header, strlen(header));
        shutdown(client, SD_SEND);
        closesocket(client);
        return;
    }

    if (behaviour == SERVE_NO_LENGTH)
        _snprintf(header, sizeof(header),
                  "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
                  "Cache-Control: no-cache\r\nConnection: close\r\n\r\n");
    else
        _snprintf(header, sizeof(header),
                  "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: %u\r\n"
                  "Cache-Control: no-cache\r\nConnection: close\r\n\r\n",
                  (unsigned)body.size());
    if (!SendAll(client, header, strlen(header)))
    {
        closesocket(client);
        return;
    }

    size_t half = body.size() / 2;
    bool ok = true;
    switch (behaviour)
    {
    case SERVE_STALL:
    {
        ok = SendBody(client, body, 0, half, chunk);
        SetEvent(m_stalledEvent);
        HANDLE events[2] = {m_stopEvent, m_releaseEvent};
        DWORD woke = WaitForMultipleObjects(2, events, FALSE, STALL_LIMIT_MS);
        if (ok && woke == WAIT_OBJECT_0 + 1)
            ok = SendBody(client, body, half, body.size(), chunk);
        else
        {
            Reset(client);
            return;
        }
        break;
    }
    case SERVE_SHORT:
        ok = SendBody(client, body, 0, half, chunk);
        break;
    default:
        ok = SendBody(client, body, 0, body.size(), chunk);
        break;
    }
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
