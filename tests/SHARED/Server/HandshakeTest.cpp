#include "SHARED/Server/ConversionBase.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>

#include "Foundation/AllocTracker.h"
#include "SHARED/Server/ServerTestSupport.h"

using protocol::Client;
using namespace servertest;

namespace {

// The handshakes without a conversion behind them.
class HandshakeConversion : public ct_ConversionBase {
public:
    explicit HandshakeConversion(ct_Connection& conn) : ct_ConversionBase(conn, 3) {}
    bool doExport(ServerFileType, const std::string&, const std::string&) override { return false; }
    bool closeAllDocuments() override { return true; }

    void MakeIncomingFolder(const std::string& parent) {
        m_IncomingFolder = new t_Folder("incoming", parent, true, false);
        TrackAlloc("t_Folder", m_IncomingFolder);
    }
    t_Folder* Incoming() const { return m_IncomingFolder; }
    t_File* Received() const { return m_ReceivedFile; }
};

class HandshakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const uint16_t port = protocol::FreeLoopbackPort();
        ASSERT_EQ(m_Conn.startServer(port), 0);
        m_Client = std::make_unique<Client>(port);
        ASSERT_EQ(m_Conn.waitForClient(), 0);
    }

    // Runs the client's side of an upload up to the blocks; answers the server's replies.
    std::vector<std::string> Upload(const std::vector<std::string>& lines,
                                    const std::vector<protocol::Block>& blocks, const std::string& hash) {
        std::vector<std::string> replies;
        for (const std::string& line : lines) {
            m_Client->SendLine(line);
            auto reply = m_Client->ReadLine();
            if (!reply)
                return replies;
            replies.push_back(*reply);
            if (reply->find("ok") == std::string::npos)
                return replies;
        }
        m_Client->SendBlocks(blocks);
        auto reply = m_Client->ReadLine();
        if (!reply)
            return replies;
        replies.push_back(*reply);
        if (*reply != "file ok")
            return replies;
        m_Client->SendLine(hash);
        if (auto last = m_Client->ReadLine())
            replies.push_back(*last);
        return replies;
    }

    // Runs the client's side of a download with the given answers; the file arrives in *data.
    std::vector<std::string> Download(const std::vector<std::string>& answers, std::string* data) {
        std::vector<std::string> replies;
        for (size_t i = 0; i < answers.size(); ++i) {
            m_Client->SendLine(answers[i]);
            if (answers[i] == "size ok") {
                auto blocks = m_Client->ReadBlocks();
                if (!blocks)
                    return replies;
                if (data)
                    *data = protocol::DecodeBlocks(*blocks).value_or("<undecodable>");
                continue; // the blocks are the server's answer
            }
            auto reply = m_Client->ReadLine();
            if (!reply)
                return replies;
            replies.push_back(*reply);
        }
        return replies;
    }

    ScopedLimits m_Limits;
    ScratchDir m_Dir;
    ct_Connection m_Conn;
    std::unique_ptr<Client> m_Client;
    HandshakeConversion m_Job{m_Conn};
};

using Replies = std::vector<std::string>;

} // namespace

TEST_F(HandshakeTest, UploadStoresTheFileUnderTheClientsName) {
    for (bool deflate : {false, true}) {
        const std::string data = RandomBytes(70000, deflate ? 2 : 1);
        bool compressed = !deflate;
        auto stored = std::async(std::launch::async, [&] { return m_Job.ReceiveFile(m_Dir.Path(), compressed); });
        const auto blocks = deflate ? protocol::EncodeStream(protocol::Deflate(data, 1), 8) : protocol::EncodeStream(data, 0);
        const Replies replies = Upload({"file_transfer_start", "report.qxp", std::to_string(data.size())}, blocks, "0");
        EXPECT_EQ(replies, (Replies{"file_transfer_start ok", "filename ok", "size ok", "file ok", "hash ok"}));
        EXPECT_EQ(stored.get(), m_Dir.File("report.qxp"));
        EXPECT_EQ(compressed, deflate);
        EXPECT_TRUE(ReadFile(m_Dir.File("report.qxp")) == data);
    }
}

TEST_F(HandshakeTest, UploadTakesAnyTextAsHash) {
    bool compressed = false;
    auto stored = std::async(std::launch::async, [&] { return m_Job.ReceiveFile(m_Dir.Path(), compressed); });
    const Replies replies = Upload({"file_transfer_start", "a.dwq", "3"}, protocol::EncodeStream("abc", 0), "no hash");
    EXPECT_EQ(replies.back(), "hash ok");
    EXPECT_EQ(stored.get(), m_Dir.File("a.dwq"));
}

TEST_F(HandshakeTest, UploadIntoTheIncomingFolderMakesTheReceivedFileNode) {
    ModuleGlobals::Init();
    m_Job.MakeIncomingFolder(m_Dir.Path());
    const std::string incoming = m_Job.Incoming()->GetFullPath();
    bool compressed = false;
    auto stored = std::async(std::launch::async, [&] { return m_Job.ReceiveFile(incoming, compressed); });
    Upload({"file_transfer_start", "src.qxp", "3"}, protocol::EncodeStream("abc", 0), "0");
    EXPECT_EQ(stored.get(), incoming + "/src.qxp");
    ASSERT_NE(m_Job.Received(), nullptr);
    EXPECT_EQ(m_Job.Received()->GetFullPath(), incoming + "/src.qxp");
    EXPECT_EQ(ReadFile(incoming + "/src.qxp"), "abc");
    EXPECT_EQ(Allocations->GetCount("t_File"), 1);
}

struct BadUpload {
    const char* name;
    std::vector<std::string> lines;
    std::string data;
    std::string hash;
    std::string lastReply;
};

class BadUploadTest : public HandshakeTest, public ::testing::WithParamInterface<BadUpload> {};

TEST_P(BadUploadTest, IsRefusedWithItsReply) {
    const BadUpload& p = GetParam();
    bool compressed = false;
    auto stored = std::async(std::launch::async, [&] { return m_Job.ReceiveFile(m_Dir.Path(), compressed); });
    const Replies replies = Upload(p.lines, protocol::EncodeStream(p.data, 0), p.hash);
    ASSERT_FALSE(replies.empty());
    EXPECT_EQ(replies.back(), p.lastReply);
    EXPECT_EQ(stored.get(), "");
    // Nothing was written beside the folder.
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(m_Dir.Path()).parent_path() / "escaped"));
}

INSTANTIATE_TEST_SUITE_P(
    Handshake, BadUploadTest,
    ::testing::Values(
        BadUpload{"UpperCaseStart", {"FILE_TRANSFER_START"}, "", "0", "File Transfer Command unknown: FILE_TRANSFER_START"},
        BadUpload{"EmptyName", {"file_transfer_start", ""}, "", "0", "target file name missing."},
        BadUpload{"ParentFolderName", {"file_transfer_start", "../escaped"}, "", "0", "target file name invalid."},
        BadUpload{"DotDot", {"file_transfer_start", ".."}, "", "0", "target file name invalid."},
        BadUpload{"SlashInName", {"file_transfer_start", "a/escaped"}, "", "0", "target file name invalid."},
        BadUpload{"BackslashInName", {"file_transfer_start", "a\\b"}, "", "0", "target file name invalid."},
        BadUpload{"AbsoluteName", {"file_transfer_start", "/srv/escaped"}, "", "0", "target file name invalid."},
        BadUpload{"CarriageReturnInName", {"file_transfer_start", "a.qxp\r"}, "", "0", "target file name invalid."},
        BadUpload{"EmptySize", {"file_transfer_start", "a.qxp", ""}, "", "0", "target file size missing."},
        // A size that is no number would leave the blocks without a bound.
        BadUpload{"SizeIsNoNumber", {"file_transfer_start", "a.qxp", "lots"}, "", "0", "File Transfer Command unknown: lots"},
        BadUpload{"Truncated", {"file_transfer_start", "a.qxp", "100"}, std::string(50, 'x'), "0", "target file transfer error."},
        // The receiver stops at the eleventh byte and closes: the reply finds no client.
        BadUpload{"LongerThanAnnounced", {"file_transfer_start", "a.qxp", "10"}, std::string(20, 'x'), "0", "size ok"},
        BadUpload{"EmptyHash", {"file_transfer_start", "a.qxp", "3"}, "abc", "", "target file hash missing."}),
    [](const ::testing::TestParamInfo<BadUpload>& info) { return std::string(info.param.name); });

TEST_F(HandshakeTest, DownloadSendsNameSizeBlocksAndHash) {
    const std::string path = m_Dir.File("result.pdf");
    for (bool deflate : {false, true}) {
        const std::string data = TextBytes(100000);
        WriteFile(path, data);
        auto sent = std::async(std::launch::async, [&] { return m_Job.SendFile(path, deflate); });
        std::string received;
        const Replies replies =
            Download({"wait_for_file", "file_transfer_start ok", "filename ok", "size ok", "file ok", "hash ok"}, &received);
        EXPECT_EQ(replies, (Replies{"file_transfer_start", "result.pdf", "100000", "0", "file_transfer_end"}));
        EXPECT_TRUE(sent.get());
        EXPECT_TRUE(received == data);
    }
}

TEST_F(HandshakeTest, DownloadEndsAtAnAnswerInTheWrongCase) {
    WriteFile(m_Dir.File("r.pdf"), "x");
    auto sent = std::async(std::launch::async, [&] { return m_Job.SendFile(m_Dir.File("r.pdf"), false); });
    const Replies replies = Download({"wait_for_file", "FILE_TRANSFER_START OK"}, nullptr);
    EXPECT_EQ(replies, (Replies{"file_transfer_start", "File Transfer Command unknown: FILE_TRANSFER_START OK"}));
    EXPECT_FALSE(sent.get());
}

TEST_F(HandshakeTest, DownloadRefusesMissingAndEmptyFiles) {
    WriteFile(m_Dir.File("empty.pdf"), "");
    for (const std::string& path : {m_Dir.File("missing.pdf"), m_Dir.File("empty.pdf")}) {
        auto sent = std::async(std::launch::async, [&] { return m_Job.SendFile(path, false); });
        const Replies replies = Download({"wait_for_file", "file_transfer_start ok", "filename ok"}, nullptr);
        EXPECT_EQ(replies.back(), "File transfer error: non-existing or empty file: " + path);
        EXPECT_FALSE(sent.get());
    }
}
