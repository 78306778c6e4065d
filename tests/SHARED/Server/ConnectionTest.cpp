#include "SHARED/Server/Connection.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "SHARED/Server/ServerTestSupport.h"
#include "platform/storage/CompoundFile.h"

using protocol::Block;
using protocol::Client;
using namespace servertest;

namespace {

class ConnectionTest : public ::testing::Test {
protected:
    explicit ConnectionTest(int idleTimeoutMs = 10000) : m_Limits(idleTimeoutMs) {}

    void SetUp() override {
        m_Port = protocol::FreeLoopbackPort();
        ASSERT_EQ(m_Conn.startServer(m_Port), 0);
    }

    // Connects a test client and accepts it.
    std::unique_ptr<Client> Accept() {
        auto client = std::make_unique<Client>(m_Port);
        EXPECT_TRUE(client->Connected());
        EXPECT_EQ(m_Conn.waitForClient(), 0);
        EXPECT_EQ(m_Conn.GetCurrentStatus(), ct_Connection::ec_Connected);
        return client;
    }

    ScopedLimits m_Limits;
    ct_Connection m_Conn;
    uint16_t m_Port = 0;
};

struct BlockShape {
    uint8_t flags;
    size_t length; // payload bytes
};

std::vector<BlockShape> ShapesOf(const std::vector<Block>& blocks) {
    std::vector<BlockShape> shapes;
    for (const Block& b : blocks)
        shapes.push_back({b[0], (b[0] & 1) ? protocol::kFull : size_t(b[1] | b[2] << 8)});
    return shapes;
}

bool operator==(const BlockShape& a, const BlockShape& b) { return a.flags == b.flags && a.length == b.length; }
void PrintTo(const BlockShape& s, std::ostream* os) { *os << "{" << int(s.flags) << "," << s.length << "}"; }

} // namespace

// ---- States --------------------------------------------------------------------------------

TEST(ConnectionStates, FollowStartAcceptCloseAndHalt) {
    ScopedLimits limits;
    ct_Connection conn;
    EXPECT_EQ(conn.GetCurrentStatus(), ct_Connection::ec_NotStarted);
    EXPECT_EQ(conn.waitForClient(), 1); // not started
    const uint16_t port = protocol::FreeLoopbackPort();
    ASSERT_EQ(conn.startServer(port), 0);
    EXPECT_EQ(conn.GetPort(), port);
    EXPECT_EQ(conn.GetCurrentStatus(), ct_Connection::ec_ServerUp);
    EXPECT_TRUE(conn.IsServerOk());
    EXPECT_FALSE(conn.IsConnected());

    EXPECT_EQ(conn.closeClient(), 1); // no client: nothing changes
    EXPECT_EQ(conn.GetCurrentStatus(), ct_Connection::ec_ServerUp);

    {
        Client client(port);
        ASSERT_EQ(conn.waitForClient(), 0);
        EXPECT_TRUE(conn.IsConnected());
        client.Close();
        EXPECT_EQ(conn.closeClient(), 0);
        EXPECT_EQ(conn.GetCurrentStatus(), ct_Connection::ec_ServerUp);
    }
    EXPECT_EQ(conn.haltServer(), 0);
    EXPECT_EQ(conn.GetCurrentStatus(), ct_Connection::ec_ServerDown);
    EXPECT_FALSE(conn.IsServerOk());
    EXPECT_FALSE(conn.writeLine("nobody")); // nothing goes out, and that is no success
    EXPECT_EQ(conn.readLine(), "");
}

TEST(ConnectionStates, PortZeroBindsTheDefaultPort) {
    ScopedLimits limits;
    ct_Connection conn;
    if (conn.startServer(0) != 0)
        GTEST_SKIP() << "port 8126 is taken on this machine";
    EXPECT_EQ(conn.GetPort(), 8126);
    conn.haltServer();
}

TEST(ConnectionStates, BindFailureHaltsTheServer) {
    ScopedLimits limits;
    ct_Connection first;
    const uint16_t port = protocol::FreeLoopbackPort();
    ASSERT_EQ(first.startServer(port), 0);
    ct_Connection second;
    testing::internal::CaptureStderr();
    EXPECT_EQ(second.startServer(port), 1);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("SOCKET ERROR - Failed bind(): Address already in use (10048)"), std::string::npos);
    EXPECT_EQ(second.GetCurrentStatus(), ct_Connection::ec_ServerDown);
}

TEST(ConnectionStates, RestartBindsAgainWhileOldConnectionsLinger) {
    ScopedLimits limits;
    const uint16_t port = protocol::FreeLoopbackPort();
    {
        ct_Connection conn;
        ASSERT_EQ(conn.startServer(port), 0);
        Client client(port);
        ASSERT_EQ(conn.waitForClient(), 0);
        client.Close();
        conn.haltServer(); // the server closed first: its side lingers
    }
    ct_Connection again;
    EXPECT_EQ(again.startServer(port), 0);
}

// ---- Lines ---------------------------------------------------------------------------------

// What the server reads of one send: a carriage return stays and one line feed goes, unless it
// is asked to keep it; two lines are two lines; a zero byte ends the line.
TEST_F(ConnectionTest, LinesReadAsTheyWereSent) {
    const struct {
        std::string sent;
        bool strip;
        std::vector<std::string> lines;
    } cases[] = {
        {"serveralive\r\n", true, {"serveralive\r"}},
        {"x\n", false, {"x\n"}},
        {"serveralive\nget_server_version\n", true, {"serveralive", "get_server_version"}},
        {std::string("ab\0cd\n", 6), true, {"ab"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent);
        auto client = Accept();
        client->SendRaw(c.sent);
        for (const std::string& line : c.lines)
            EXPECT_EQ(m_Conn.readLine(c.strip), line);
    }
}

TEST_F(ConnectionTest, LineSplitOverSeveralSendsIsOneLine) {
    auto client = Accept();
    std::thread sender([&] {
        for (const char* part : {"ser", "vera", "live", "\n"}) {
            client->SendRaw(part);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    EXPECT_EQ(m_Conn.readLine(), "serveralive");
    sender.join();
}

TEST_F(ConnectionTest, LongestLineIsAcceptedAndALongerOneClosesTheClient) {
    auto client = Accept();
    const std::string longest(ct_Connection::kMaxLineLength, 'a');
    client->SendLine(longest);
    EXPECT_EQ(m_Conn.readLine(), longest);
    client->SendLine(std::string(ct_Connection::kMaxLineLength + 1, 'b') + "\nserveralive");
    EXPECT_EQ(m_Conn.readLine(), "");
    EXPECT_FALSE(m_Conn.IsConnected());
    EXPECT_TRUE(client->AtEof());
}

TEST_F(ConnectionTest, UnterminatedLineWithoutEndClosesTheClient) {
    auto client = Accept();
    client->SendRaw(std::string(3 * ct_Connection::kMaxLineLength, 'c'));
    EXPECT_EQ(m_Conn.readLine(), "");
    EXPECT_FALSE(m_Conn.IsConnected());
}

TEST_F(ConnectionTest, PeerCloseDeliversTheLastPartialLineThenEmptyLines) {
    auto client = Accept();
    client->SendRaw("quit");
    client->ShutdownSend();
    EXPECT_EQ(m_Conn.readLine(), "quit");
    EXPECT_EQ(m_Conn.readLine(), "");
    EXPECT_TRUE(m_Conn.IsConnected()); // an orderly close alone closes nothing here
}

TEST_F(ConnectionTest, WriteLineAppendsOneTerminatorAndSendsNothingForEmptyText) {
    auto client = Accept();
    EXPECT_TRUE(m_Conn.writeLine("password ok"));
    EXPECT_TRUE(m_Conn.writeLine("already\n"));
    EXPECT_TRUE(m_Conn.writeLine(""));
    EXPECT_TRUE(m_Conn.writeLine("last"));
    EXPECT_EQ(client->ReadLine(), "password ok");
    EXPECT_EQ(client->ReadLine(), "already");
    EXPECT_EQ(client->ReadLine(), "last");
}

TEST_F(ConnectionTest, WritingToAGoneClientFailsAndClosesIt) {
    auto client = Accept();
    client->Close();
    bool ok = true;
    const std::string chunk(60000, 'z');
    for (int i = 0; i < 200 && ok; ++i)
        ok = m_Conn.writeLine(chunk);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(m_Conn.IsConnected());
    EXPECT_EQ(m_Conn.GetCurrentStatus(), ct_Connection::ec_ServerUp);
}

TEST_F(ConnectionTest, AcceptingAgainClosesAClientStillConnected) {
    auto first = Accept();
    auto second = Accept();
    EXPECT_TRUE(first->AtEof());
    second->SendLine("hello");
    EXPECT_EQ(m_Conn.readLine(), "hello");
}

class SilentClientTest : public ConnectionTest {
protected:
    SilentClientTest() : ConnectionTest(150) {}
};

TEST_F(SilentClientTest, SilentClientTimesOutAndIsClosed) {
    auto client = Accept();
    testing::internal::CaptureStderr();
    EXPECT_EQ(m_Conn.readLine(), "");
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(m_Conn.IsConnected());
    EXPECT_NE(log.find("SOCKET ERROR - Failed recv(): Connection timed out (10060)"), std::string::npos);
    EXPECT_TRUE(client->AtEof());
}

TEST_F(SilentClientTest, ClientThatStopsInsideABlockTimesOut) {
    auto client = Accept();
    Block half(protocol::kBlock / 2, 0);
    client->SendRaw(half.data(), half.size());
    ScratchDir dir;
    bool compressed = true;
    EXPECT_FALSE(m_Conn.ReceiveFileData(dir.File("x"), compressed));
    EXPECT_FALSE(m_Conn.IsConnected());
}

// ---- Error texts ---------------------------------------------------------------------------

TEST(ConnectionErrors, WinsockTextsNameCodeAndMeaning) {
    EXPECT_EQ(ct_Connection::WinsockErrorText("Failed recv()", 10054),
              "Failed recv(): Connection reset by peer (10054)");
    EXPECT_EQ(ct_Connection::WinsockErrorText("Failed bind()", 10048),
              "Failed bind(): Address already in use (10048)");
    EXPECT_EQ(ct_Connection::WinsockErrorText("x", 11004), "x: No host data of that type was found (11004)");
    EXPECT_EQ(ct_Connection::WinsockErrorText("x", 10003), "x: unknown error (10003)");
    EXPECT_EQ(ct_Connection::WinsockErrorText("x", 99999), "x: unknown error (99999)");
}

TEST(ConnectionErrors, SocketErrorLineCarriesCommentAndFallback) {
    const std::string text = ct_Connection::SocketErrorText("WSAStartup()", "code 5\n");
    EXPECT_EQ(text.rfind("WSAStartup(): ", 0), 0u);
    EXPECT_NE(text.find("\tCOMMENT: code 5\n"), std::string::npos);
    testing::internal::CaptureStderr();
    ct_Connection::socketError("", "");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("SOCKET ERROR - UNKNOWN REASON"), std::string::npos);
}

// ---- Block transfer ------------------------------------------------------------------------

struct GoldenCase {
    size_t size;
    std::vector<BlockShape> plain;
};

class BlockGoldenTest : public ConnectionTest, public ::testing::WithParamInterface<GoldenCase> {};

TEST_P(BlockGoldenTest, PlainSenderWritesTheExactBlocks) {
    const GoldenCase& gc = GetParam();
    ScratchDir dir;
    const std::string data = RandomBytes(gc.size, static_cast<unsigned>(gc.size));
    WriteFile(dir.File("in"), data);
    auto client = Accept();
    auto sent = std::async(std::launch::async, [&] { return m_Conn.SendFileData(dir.File("in")); });
    auto blocks = client->ReadBlocks();
    ASSERT_TRUE(sent.get());
    ASSERT_TRUE(blocks);
    EXPECT_EQ(ShapesOf(*blocks), gc.plain);
    EXPECT_EQ(protocol::DecodeBlocks(*blocks), data);
    for (const Block& b : *blocks) {
        if (b[0] & 1)
            continue;
        const size_t n = b[1] | b[2] << 8;
        EXPECT_TRUE(std::all_of(b.begin() + 3 + static_cast<long>(n), b.end(), [](uint8_t c) { return c == 0; }))
            << "header block filler must carry no old data";
    }
}

TEST_P(BlockGoldenTest, CompressedSenderWritesOneZlibStreamInBlocks) {
    const size_t size = GetParam().size;
    ScratchDir dir;
    const std::string data = RandomBytes(size, static_cast<unsigned>(size) + 7);
    WriteFile(dir.File("in"), data);
    auto client = Accept();
    auto sent = std::async(std::launch::async, [&] { return m_Conn.SendFileDataCompressed(dir.File("in"), 1); });
    auto blocks = client->ReadBlocks();
    ASSERT_TRUE(sent.get());
    ASSERT_TRUE(blocks);
    // The stream bytes are exactly zlib's at level 1, cut into full blocks (flags 9) and a
    // tail (flags 8), closed by an empty block with flags 2 alone.
    const std::string stream = protocol::Deflate(data, 1);
    std::vector<BlockShape> expected(stream.size() / protocol::kFull, BlockShape{9, protocol::kFull});
    size_t tail = stream.size() % protocol::kFull;
    if (tail > protocol::kHeader) {
        expected.push_back({8, protocol::kHeader});
        tail -= protocol::kHeader;
    }
    if (tail)
        expected.push_back({8, tail});
    expected.push_back({2, 0});
    EXPECT_EQ(ShapesOf(*blocks), expected);
    std::string carried;
    for (const Block& b : *blocks)
        carried += *protocol::PayloadOf(b);
    EXPECT_EQ(carried, stream);
    EXPECT_EQ(protocol::DecodeBlocks(*blocks), data);
}

TEST_P(BlockGoldenTest, ReceiverStoresPlainAndDeflatedUploads) {
    const size_t size = GetParam().size;
    ScratchDir dir;
    const std::string data = RandomBytes(size, static_cast<unsigned>(size) + 3);
    auto client = Accept();
    for (bool deflate : {false, true}) {
        const auto blocks = deflate ? protocol::EncodeStream(protocol::Deflate(data, 6), 8)
                                    : protocol::EncodeStream(data, 0);
        auto received = std::async(std::launch::async, [&] { client->SendBlocks(blocks); });
        bool compressed = !deflate;
        uint64_t count = 0;
        ASSERT_TRUE(m_Conn.ReceiveFileData(dir.File("out"), compressed, UINT64_MAX, &count));
        received.get();
        EXPECT_EQ(compressed, deflate);
        EXPECT_EQ(count, data.size());
        EXPECT_EQ(ReadFile(dir.File("out")), data);
    }
}

INSTANTIATE_TEST_SUITE_P(
    BlockBoundaries, BlockGoldenTest,
    ::testing::Values(GoldenCase{0, {{2, 0}}},
                      GoldenCase{1, {{0, 1}, {2, 0}}},
                      GoldenCase{31941, {{0, 31941}, {2, 0}}},
                      GoldenCase{31942, {{0, 31941}, {2, 1}}},
                      GoldenCase{31943, {{1, 31943}, {2, 0}}},
                      GoldenCase{63886, {{1, 31943}, {1, 31943}, {2, 0}}}),
    [](const ::testing::TestParamInfo<GoldenCase>& info) { return "Bytes" + std::to_string(info.param.size); });

TEST_F(ConnectionTest, LargeFilesRoundTripBothWaysPlainAndCompressed) {
    ScratchDir dir;
    const std::string data = TextBytes(5 << 20) + RandomBytes(1 << 20, 42);
    WriteFile(dir.File("in"), data);
    auto client = Accept();
    for (bool deflate : {false, true}) {
        auto sent = std::async(std::launch::async, [&] {
            return deflate ? m_Conn.SendFileDataCompressed(dir.File("in"), 1) : m_Conn.SendFileData(dir.File("in"));
        });
        auto blocks = client->ReadBlocks();
        ASSERT_TRUE(sent.get());
        ASSERT_TRUE(blocks);
        auto decoded = protocol::DecodeBlocks(*blocks);
        ASSERT_TRUE(decoded);
        EXPECT_TRUE(*decoded == data);

        // Send the very blocks back: the receiver must rebuild the same file.
        auto back = std::async(std::launch::async, [&] { client->SendBlocks(*blocks); });
        bool compressed = false;
        ASSERT_TRUE(m_Conn.ReceiveFileData(dir.File("back"), compressed));
        back.get();
        EXPECT_EQ(compressed, deflate);
        EXPECT_TRUE(ReadFile(dir.File("back")) == data);
    }
}

// Received bytes are written behind the receiving: a file that cannot take them still fails the
// transfer, whether the write fails with the first piece or only when the file is closed.
TEST_F(ConnectionTest, AFileThatCannotBeWrittenFailsTheTransfer) {
    for (const size_t size : {size_t(100), size_t(3) << 20}) {
        auto client = Accept();
        const std::string data = RandomBytes(size, 11);
        const auto blocks = protocol::EncodeStream(data, 0);
        auto sender = std::async(std::launch::async, [&] { client->SendBlocks(blocks); });
        bool compressed = true;
        uint64_t count = 0;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(m_Conn.ReceiveFileData("/dev/full", compressed, UINT64_MAX, &count)) << size;
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("Failed receive: error writing file!"), std::string::npos) << log;
        EXPECT_FALSE(m_Conn.IsConnected());
        client->Close();
        sender.get();
    }
}

TEST_F(ConnectionTest, BlocksRightBehindALineAreNotLost) {
    ScratchDir dir;
    auto client = Accept();
    const std::string data = RandomBytes(40000, 9);
    std::string wire = "1234\n";
    for (const Block& b : protocol::EncodeStream(data, 0))
        wire.append(b.begin(), b.end());
    auto sender = std::async(std::launch::async, [&] { client->SendRaw(wire); });
    EXPECT_EQ(m_Conn.readLine(), "1234");
    bool compressed = true;
    EXPECT_TRUE(m_Conn.ReceiveFileData(dir.File("out"), compressed));
    sender.get();
    EXPECT_EQ(ReadFile(dir.File("out")), data);
}

TEST_F(ConnectionTest, PlainBlocksThenDeflatedBlocksSwitchToInflation) {
    ScratchDir dir;
    auto client = Accept();
    const std::string head = "plain part|";
    const std::string tail = TextBytes(100000);
    std::vector<Block> blocks{protocol::HeaderBlock(0, reinterpret_cast<const uint8_t*>(head.data()), head.size())};
    for (const Block& b : protocol::EncodeStream(protocol::Deflate(tail, 9), 8))
        blocks.push_back(b);
    auto sender = std::async(std::launch::async, [&] { client->SendBlocks(blocks); });
    bool compressed = false;
    EXPECT_TRUE(m_Conn.ReceiveFileData(dir.File("out"), compressed));
    sender.get();
    EXPECT_TRUE(compressed);
    EXPECT_EQ(ReadFile(dir.File("out")), head + tail);
}

struct RefusedUpload {
    const char* name;
    std::vector<Block> (*blocks)();
    const char* logText;
};

class RefusedUploadTest : public ConnectionTest, public ::testing::WithParamInterface<RefusedUpload> {};

TEST_P(RefusedUploadTest, ReceiverRefusesAndClosesTheClient) {
    ScratchDir dir;
    auto client = Accept();
    const auto blocks = GetParam().blocks();
    auto sender = std::async(std::launch::async, [&] { client->SendBlocks(blocks); });
    testing::internal::CaptureStderr();
    bool compressed = false;
    EXPECT_FALSE(m_Conn.ReceiveFileData(dir.File("out"), compressed, 1 << 20));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find(GetParam().logText), std::string::npos) << log;
    EXPECT_FALSE(m_Conn.IsConnected());
    client->Close();
    sender.get();
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusedUploadTest,
    ::testing::Values(
        RefusedUpload{"HeaderLengthTooLarge",
                      [] {
                          Block b = protocol::HeaderBlock(2, nullptr, 0);
                          b[1] = 31942 & 0xFF;
                          b[2] = 31942 >> 8;
                          return std::vector<Block>{b};
                      },
                      "Failed receive: file transfer error! (Header: bytes to write invalid!)"},
        RefusedUpload{"Cancelled",
                      [] {
                          const uint8_t x[3] = {1, 2, 3};
                          return std::vector<Block>{protocol::HeaderBlock(0, x, 3), protocol::HeaderBlock(4, x, 3)};
                      },
                      "Failed receive: file transfer canceled by user!"},
        RefusedUpload{"TruncatedZlibStream",
                      [] {
                          std::string z = protocol::Deflate(TextBytes(200000), 6);
                          z.resize(z.size() - 12);
                          return protocol::EncodeStream(z, 8);
                      },
                      "Failed receive: compressed data incomplete!"},
        RefusedUpload{"CorruptZlibStream",
                      [] {
                          std::string z = protocol::Deflate(TextBytes(200000), 6);
                          for (size_t i = 20; i < 60; ++i)
                              z[i] = static_cast<char>(z[i] ^ 0x5A);
                          return protocol::EncodeStream(z, 8);
                      },
                      "Failed receive: DeCompression error!"},
        RefusedUpload{"LargerThanAllowed",
                      [] { return protocol::EncodeStream(RandomBytes((1 << 20) + 1, 5), 0); },
                      "Failed receive: file larger than allowed!"},
        RefusedUpload{"DecompressionBomb",
                      [] { return protocol::EncodeStream(protocol::Deflate(std::string(8 << 20, '\0'), 9), 8); },
                      "Failed receive: file larger than allowed!"}),
    [](const ::testing::TestParamInfo<RefusedUpload>& info) { return std::string(info.param.name); });

// Without a size to hold it to, an upload may grow, inflated or not, only as far as the largest
// stream the module stores, so that a small deflated upload cannot fill the disk.
TEST(ConnectionLimits, NoUploadGrowsBeyondTheLargestStoredStream) {
    EXPECT_EQ(ct_Connection::Limits{}.maxReceivedFileBytes, cfb::kMaxStreamSize);
}

TEST_F(ConnectionTest, PeerClosingInsideABlockFailsWithoutSocketError) {
    ScratchDir dir;
    auto client = Accept();
    const Block b = protocol::HeaderBlock(0, nullptr, 0);
    client->SendRaw(b.data(), 1000);
    client->ShutdownSend();
    testing::internal::CaptureStderr();
    bool compressed = true;
    EXPECT_FALSE(m_Conn.ReceiveFileData(dir.File("out"), compressed));
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("SOCKET ERROR"), std::string::npos);
    EXPECT_FALSE(compressed);
}

TEST_F(ConnectionTest, SendersStopWhenTheClientIsGone) {
    ScratchDir dir;
    WriteFile(dir.File("in"), RandomBytes(8 << 20, 1));
    for (bool deflate : {false, true}) {
        auto client = Accept();
        client->Close();
        EXPECT_FALSE(deflate ? m_Conn.SendFileDataCompressed(dir.File("in"), 1) : m_Conn.SendFileData(dir.File("in")));
        EXPECT_FALSE(m_Conn.IsConnected());
    }
}

TEST_F(ConnectionTest, MissingFileIsReportedAndClosesTheClient) {
    auto client = Accept();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(m_Conn.SendFileData("/nonexistent/kesto/file"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Failed send: error opening file!"), std::string::npos);
    EXPECT_TRUE(client->AtEof());
}

// ---- Closing -------------------------------------------------------------------------------

TEST_F(ConnectionTest, ClosingDrainIsBoundedInTotalNotPerReceive) {
    auto client = Accept();
    // A byte every 100 ms: each receive would succeed well within a per-receive limit.
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        while (!stop) {
            if (!client->SendRaw("x"))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_Conn.closeClient(), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    testing::internal::GetCapturedStderr();
    stop = true;
    trickle.join();
    EXPECT_LT(took, std::chrono::milliseconds(1500)); // the drain limit here is 500 ms
    EXPECT_EQ(m_Conn.GetCurrentStatus(), ct_Connection::ec_ServerUp);
}

TEST_F(ConnectionTest, ClosingDrainStopsAtItsByteCap) {
    ct_Connection::Limits limits = ct_Connection::GetLimits();
    limits.drainTimeoutMs = 20000;
    limits.drainByteCap = 64 * 1024;
    ct_Connection::SetLimits(limits);
    auto client = Accept();
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        const std::string chunk(4096, 'y');
        while (!stop && client->SendRaw(chunk)) {
        }
    });
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    m_Conn.closeClient();
    const auto took = std::chrono::steady_clock::now() - start;
    const std::string err = testing::internal::GetCapturedStderr();
    stop = true;
    client->Close();
    flood.join();
    EXPECT_LT(took, std::chrono::milliseconds(5000));
    size_t drained = 0;
    for (size_t at = err.find("FYI, received "); at != std::string::npos; at = err.find("FYI, received ", at + 1))
        drained += std::stoul(err.substr(at + 14));
    EXPECT_LE(drained, limits.drainByteCap);
}

TEST_F(ConnectionTest, FailedShutdownLogsTheFailingCallsOwnError) {
    const sockets::Handle peer = sockets::ConnectLoopback(m_Port);
    ASSERT_NE(peer, sockets::kInvalid);
    ASSERT_EQ(m_Conn.waitForClient(), 0);
    // The peer resets the connection: the server's shutdown then finds it not connected.
    linger reset{1, 0};
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    sockets::Close(peer);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    testing::internal::CaptureStderr();
    EXPECT_EQ(m_Conn.closeClient(), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("SOCKET ERROR - Shutdown connection: Socket is not connected (10057)"), std::string::npos)
        << err;
    EXPECT_EQ(err.find("No error (0)"), std::string::npos) << err;
    EXPECT_EQ(m_Conn.GetCurrentStatus(), ct_Connection::ec_ServerUp);
}
