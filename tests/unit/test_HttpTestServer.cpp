// The loopback server that the download tests rely on: if it misbehaves in the
// wrong way, every download test would test the server instead of the program.
#include <gtest/gtest.h>

#include "HttpTestServer.h"
#include "TestSupport.h"

#include <string>

using fwtest::HttpTestServer;

namespace
{
struct Reply
{
    bool connected = false;
    bool reset = false;      // the server broke the connection
    std::string bytes;       // everything received before the end or the break
};

// A raw client: one GET, reads to the end of the connection.
Reply Get(unsigned short port, const std::string& target)
{
    Reply reply;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return reply;
    DWORD timeout = 10000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof(timeout));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(s, (sockaddr*)&address, sizeof(address)) != 0)
    {
        closesocket(s);
        return reply;
    }
    reply.connected = true;
    std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    send(s, request.data(), (int)request.size(), 0);
    char buffer[4096];
    for (;;)
    {
        int got = recv(s, buffer, sizeof(buffer), 0);
        if (got == 0)
            break;
        if (got < 0)
        {
            reply.reset = true;
            break;
        }
        reply.bytes.append(buffer, (size_t)got);
    }
    closesocket(s);
    return reply;
}

// The request target of a path below the server's base URL.
std::string Target(const HttpTestServer& server, const std::string& relative)
{
    std::string base = server.BaseUrl();
    return base.substr(base.find('/', strlen("http://"))) + relative;
}

std::string Body(const Reply& reply)
{
    size_t end = reply.bytes.find("\r\n\r\n");
    return end == std::string::npos ? "" : reply.bytes.substr(end + 4);
}

class HttpTestServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data)); // our own client's, apart from the server's
        content.assign(10000, 'x');
        for (size_t i = 0; i < content.size(); ++i)
            content[i] = (char)('a' + i % 26);
        CreateDirectoryA(folder.File("sub").c_str(), NULL);
        ASSERT_TRUE(fwtest::WriteBytes(folder.File("sub\\data.bin"), content));
        ASSERT_TRUE(server.Start());
        ASSERT_NE(0, server.Port());
    }

    void TearDown() override
    {
        server.Stop();
        WSACleanup();
    }

    fwtest::TempDir folder{"fwhttp"};
    HttpTestServer server{folder.Path()};
    std::string content;
};
} // namespace

TEST_F(HttpTestServerTest, ServesFilesWithLengthAndAnswers404ForMissingOnes)
{
    Reply ok = Get(server.Port(), Target(server, "sub/Data.bin"));
    ASSERT_TRUE(ok.connected);
    EXPECT_EQ(0u, ok.bytes.find("HTTP/1.0 200 OK\r\n"));
    EXPECT_NE(std::string::npos, ok.bytes.find("Content-Length: 10000\r\n"));
    EXPECT_EQ(content, Body(ok));

    Reply missing = Get(server.Port(), Target(server, "sub/none.bin"));
    EXPECT_EQ(0u, missing.bytes.find("HTTP/1.0 404"));

    // Nothing outside the served folder or the base, however the path is spelled.
    EXPECT_EQ(0u, Get(server.Port(), "/sub/data.bin").bytes.find("HTTP/1.0 404"));
    EXPECT_EQ(0u, Get(server.Port(), Target(server, "../x")).bytes.find("HTTP/1.0 404"));
    EXPECT_EQ(0u, Get(server.Port(), Target(server, "sub/%2e%2e/%2e%2e/x")).bytes.find("HTTP/1.0 404"));

    EXPECT_EQ(0u, server.BaseUrl().find("http://127.0.0.1:" + std::to_string(server.Port()) + "/run"));
    EXPECT_EQ('/', server.BaseUrl().back());
    EXPECT_EQ(1, server.RequestCount("SUB/data.bin"));
}

TEST_F(HttpTestServerTest, NoLengthSendsTheWholeBodyWithoutContentLength)
{
    server.SetBehaviour("sub/data.bin", HttpTestServer::SERVE_NO_LENGTH);
    Reply reply = Get(server.Port(), Target(server, "sub/data.bin"));
    EXPECT_EQ(std::string::npos, reply.bytes.find("Content-Length"));
    EXPECT_EQ(content, Body(reply));
    EXPECT_FALSE(reply.reset);
}

TEST_F(HttpTestServerTest, DropsBreakTheConnection)
{
    server.SetBehaviour("sub/data.bin", HttpTestServer::SERVE_DROP);
    Reply partway = Get(server.Port(), Target(server, "sub/data.bin"));
    EXPECT_TRUE(partway.reset);
    EXPECT_LT(Body(partway).size(), content.size());

    // The default applies to paths without a behaviour of their own, even missing files.
    server.SetDefaultBehaviour(HttpTestServer::SERVE_DROP_AT_START);
    Reply atStart = Get(server.Port(), Target(server, "sub/other.bin"));
    EXPECT_TRUE(atStart.connected);
    EXPECT_TRUE(atStart.bytes.empty());
}

TEST_F(HttpTestServerTest, StallHoldsTheSecondHalfUntilReleased)
{
    server.SetBehaviour("sub/data.bin", HttpTestServer::SERVE_STALL);
    struct Call
    {
        unsigned short port;
        std::string target;
        Reply reply;
        static DWORD WINAPI Run(void* p)
        {
            Call* call = static_cast<Call*>(p);
            call->reply = Get(call->port, call->target);
            return 0;
        }
    } call;
    call.port = server.Port();
    call.target = Target(server, "sub/data.bin");
    HANDLE thread = CreateThread(NULL, 0, Call::Run, &call, 0, NULL);
    ASSERT_NE(HANDLE(NULL), thread);
    ASSERT_TRUE(server.WaitForStall(10000));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 200)); // still waiting for the rest
    server.ReleaseStalls();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    EXPECT_EQ(content, Body(call.reply));
}

TEST_F(HttpTestServerTest, StopEndsAStallAndTheServer)
{
    server.SetBehaviour("sub/data.bin", HttpTestServer::SERVE_STALL);
    struct Call
    {
        unsigned short port;
        std::string target;
        Reply reply;
        static DWORD WINAPI Run(void* p)
        {
            Call* call = static_cast<Call*>(p);
            call->reply = Get(call->port, call->target);
            return 0;
        }
    } call;
    call.port = server.Port();
    call.target = Target(server, "sub/data.bin");
    HANDLE thread = CreateThread(NULL, 0, Call::Run, &call, 0, NULL);
    ASSERT_TRUE(server.WaitForStall(10000));
    DWORD started = GetTickCount();
    server.Stop();
    EXPECT_LT(GetTickCount() - started, 5000u);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    EXPECT_LT(Body(call.reply).size(), content.size());
    EXPECT_FALSE(Get(call.port, call.target).connected);
}
