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
    DWORD timeout = 10000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof(timeout));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    reply.connected = s != INVALID_SOCKET && connect(s, (sockaddr*)&address, sizeof(address)) == 0;
    if (reply.connected)
    {
        std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        send(s, request.data(), (int)request.size(), 0);
        char buffer[4096];
        int got;
        while ((got = recv(s, buffer, sizeof(buffer), 0)) > 0)
            reply.bytes.append(buffer, (size_t)got);
        reply.reset = got < 0;
    }
    closesocket(s);
    return reply;
}

std::string Body(const Reply& reply)
{
    size_t end = reply.bytes.find("\r\n\r\n");
    return end == std::string::npos ? "" : reply.bytes.substr(end + 4);
}

// One GET on a thread of its own, for responses that stall.
struct AsyncGet
{
    unsigned short port;
    std::string target;
    Reply reply;
    HANDLE thread;

    AsyncGet(unsigned short p, const std::string& t) : port(p), target(t)
    {
        thread = CreateThread(NULL, 0, Run, this, 0, NULL);
    }
    ~AsyncGet() { CloseHandle(thread); }
    static DWORD WINAPI Run(void* self)
    {
        static_cast<AsyncGet*>(self)->reply = Get(static_cast<AsyncGet*>(self)->port,
                                                  static_cast<AsyncGet*>(self)->target);
        return 0;
    }
    bool Done(DWORD timeoutMs) { return WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0; }
};

class HttpTestServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data)); // our own client's, apart from the server's
        for (size_t i = 0; i < 10000; ++i)
            content += (char)('a' + i % 26);
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

    // The request target of a path below the server's base URL.
    std::string Target(const std::string& relative)
    {
        std::string base = server.BaseUrl();
        return base.substr(base.find('/', strlen("http://"))) + relative;
    }

    fwtest::TempDir folder{"fwhttp"};
    HttpTestServer server{folder.Path()};
    std::string content;
};
} // namespace

TEST_F(HttpTestServerTest, ServesFilesWithLengthAndAnswers404ForMissingOnes)
{
    Reply ok = Get(server.Port(), Target("sub/Data.bin"));
    ASSERT_TRUE(ok.connected);
    EXPECT_EQ(0u, ok.bytes.find("HTTP/1.0 200 OK\r\n"));
    EXPECT_NE(std::string::npos, ok.bytes.find("Content-Length: 10000\r\n"));
    EXPECT_EQ(content, Body(ok));

    // Missing, and nothing outside the served folder or the base, however the path is spelled.
    const std::string notServed[] = {Target("sub/none.bin"), "/sub/data.bin", Target("../x"),
                                     Target("sub/%2e%2e/%2e%2e/x")};
    for (const std::string& target : notServed)
        EXPECT_EQ(0u, Get(server.Port(), target).bytes.find("HTTP/1.0 404")) << target;

    EXPECT_EQ(0u, server.BaseUrl().find("http://127.0.0.1:" + std::to_string(server.Port()) + "/run"));
    EXPECT_EQ('/', server.BaseUrl().back());
    EXPECT_EQ(1, server.RequestCount("SUB/data.bin"));
}

TEST_F(HttpTestServerTest, NoLengthSendsTheWholeBodyWithoutContentLength)
{
    server.SetBehaviour("sub/data.bin", HttpTestServer::SERVE_NO_LENGTH);
    Reply reply = Get(server.Port(), Target("sub/data.bin"));
    EXPECT_EQ(std::string::npos, reply.bytes.find("Content-Length"));
    EXPECT_EQ(content, Body(reply));
    EXPECT_FALSE(reply.reset);
}

TEST_F(HttpTestServerTest, DropsBreakTheConnection)
{
    server.SetBehaviour("sub/data.bin", HttpTestServer::SERVE_DROP);
    Reply partway = Get(server.Port(), Target("sub/data.bin"));
    EXPECT_TRUE(partway.reset);
    EXPECT_LT(Body(partway).size(), content.size());

    // The default applies to paths without a behaviour of their own, even missing files.
    server.SetDefaultBehaviour(HttpTestServer::SERVE_DROP_AT_START);
    Reply atStart = Get(server.Port(), Target("sub/other.bin"));
    EXPECT_TRUE(atStart.connected);
    EXPECT_TRUE(atStart.bytes.empty());
}

TEST_F(HttpTestServerTest, StallHoldsTheSecondHalfUntilReleased)
{
    server.SetBehaviour("sub/data.bin", HttpTestServer::SERVE_STALL);
    AsyncGet call(server.Port(), Target("sub/data.bin"));
    ASSERT_TRUE(server.WaitForStall(10000));
    EXPECT_FALSE(call.Done(200)); // still waiting for the rest
    server.ReleaseStalls();
    ASSERT_TRUE(call.Done(10000));
    EXPECT_EQ(content, Body(call.reply));
}

TEST_F(HttpTestServerTest, StopEndsAStallAndTheServer)
{
    server.SetBehaviour("sub/data.bin", HttpTestServer::SERVE_STALL);
    AsyncGet call(server.Port(), Target("sub/data.bin"));
    ASSERT_TRUE(server.WaitForStall(10000));
    DWORD started = GetTickCount();
    server.Stop();
    EXPECT_LT(GetTickCount() - started, 5000u);
    ASSERT_TRUE(call.Done(10000));
    EXPECT_LT(Body(call.reply).size(), content.size());
    EXPECT_FALSE(Get(call.port, call.target).connected);
}
