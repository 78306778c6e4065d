#include "platform/sockets/Sockets.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Listener {
    sockets::Handle s = sockets::OpenTcp();
    uint16_t port = 0;
    Listener() {
        EXPECT_TRUE(sockets::Bind(s, 0, sockets::kLoopbackAddress));
        EXPECT_TRUE(sockets::Listen(s, 1));
        port = sockets::LocalPort(s);
    }
    ~Listener() { sockets::Close(s); }
};

struct Pair {
    Listener l;
    sockets::Handle client = sockets::ConnectLoopback(l.port);
    std::string peer;
    uint16_t peerPort = 0;
    sockets::Handle server = sockets::Accept(l.s, &peer, &peerPort);
    ~Pair() {
        if (client != sockets::kInvalid)
            sockets::Close(client);
        if (server != sockets::kInvalid)
            sockets::Close(server);
    }
};

} // namespace

TEST(Sockets, ErrnoMapsToWindowsCodes) {
    EXPECT_EQ(sockets::WsaCodeFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(sockets::WsaCodeFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(sockets::WsaCodeFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(sockets::WsaCodeFromErrno(ENOTSOCK), 10038);
    EXPECT_EQ(sockets::WsaCodeFromErrno(EAGAIN), 10060);
    EXPECT_EQ(sockets::WsaCodeFromErrno(0), 0);
}

TEST(Sockets, LargeSendCompletesWhileThePeerReadsSlowly) {
    Pair p;
    ASSERT_NE(p.server, sockets::kInvalid);
    const std::string data(8 << 20, 'x');
    std::thread reader([&] {
        std::vector<char> buf(4096);
        size_t total = 0;
        while (total < data.size()) {
            const long n = sockets::Receive(p.client, buf.data(), buf.size());
            if (n <= 0)
                break;
            total += static_cast<size_t>(n);
        }
        EXPECT_EQ(total, data.size());
    });
    EXPECT_EQ(sockets::SendAll(p.server, data.data(), data.size()), static_cast<long>(data.size()));
    reader.join();
}

TEST(Sockets, SendToAClosedPeerFailsWithoutSignal) {
    Pair p;
    ASSERT_NE(p.server, sockets::kInvalid);
    sockets::Close(p.client);
    p.client = sockets::kInvalid;
    const std::string chunk(65536, 'y');
    long rc = 0;
    for (int i = 0; i < 100 && rc >= 0; ++i)
        rc = sockets::SendAll(p.server, chunk.data(), chunk.size());
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(sockets::LastError(), 10054);
}

TEST(Sockets, ReceiveTimeoutReadsAsTimedOut) {
    Pair p;
    ASSERT_NE(p.server, sockets::kInvalid);
    ASSERT_TRUE(sockets::SetReceiveTimeout(p.server, 50));
    char c;
    EXPECT_EQ(sockets::Receive(p.server, &c, 1), -1);
    EXPECT_EQ(sockets::LastError(), 10060);
}

TEST(Sockets, ListenerRebindsWhileAClosedConnectionLingers) {
    uint16_t port;
    {
        Pair p;
        ASSERT_NE(p.server, sockets::kInvalid);
        port = p.l.port;
        // The server side closes first and keeps the address in TIME_WAIT.
        sockets::Close(p.server);
        p.server = sockets::kInvalid;
    }
    sockets::Handle s = sockets::OpenTcp();
    EXPECT_TRUE(sockets::Bind(s, port, sockets::kLoopbackAddress));
    sockets::Close(s);
}
