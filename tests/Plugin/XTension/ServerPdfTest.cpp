// The server's PDF words as a remote client sees them: xthost loads Kesto.so in server mode and a
// client written from the wire protocol alone asks for PDFs in socket and shared-folder mode and
// takes every result the server sends, in order.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "PdfTools.h"
#include "ServerHostTest.h"
#include "platform/host/documents/FlowSuites.h"

namespace fs = std::filesystem;
using kesto_test::ReadText;
using protocol::Client;

namespace {

// What a job gave back: its replies and, in socket mode, the files in the order they came.
struct JobResult {
    std::vector<std::string> replies;
    std::vector<std::pair<std::string, std::string>> files;

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& file : files)
            names.push_back(file.first);
        return names;
    }
};

class ServerPdfTest : public kesto_test::ServerHostTest {
protected:
    ServerPdfTest() : ServerHostTest("kesto-server-pdf") {}

    void SetUp() override
    {
        ServerHostTest::SetUp();
        ShareExample({"logs", "tmp", "out"}, "two-page-linked.qxp");
        WriteSettings("[Server]\nserverMode=True\nlistenPort=" + std::to_string(port) +
                      "\nsocketTransferMode=True\nsharedFolders=" + app.string() + "\n[Path]\nLogPath=" + (app / "logs").string() +
                      "\nTemporaryPath=" + (app / "tmp").string() + "\n");
    }

    // Uploads the source, names the target and takes every result until the server has none.
    JobResult SocketJob(const std::string& word, const std::string& name, const std::string& bytes)
    {
        JobResult result;
        auto client = Login();
        result.replies.push_back(Ask(*client, word));
        for (const std::string& line : {std::string("///file_sock_transfer///"), std::string("file_transfer_start"),
                                        name, std::to_string(bytes.size())})
            result.replies.push_back(Ask(*client, line));
        client->SendBlocks(protocol::EncodeStream(bytes, 0));
        result.replies.push_back(client->ReadLine().value_or("<closed>"));
        result.replies.push_back(Ask(*client, "0"));
        result.replies.push_back(Ask(*client, "result"));
        for (int i = 0; i < 4; ++i) {
            const std::string reply = Ask(*client, "wait_for_file");
            result.replies.push_back(reply);
            if (reply != "file_transfer_start")
                break;
            const std::string fileName = Ask(*client, "file_transfer_start ok");
            Ask(*client, "filename ok");
            client->SendLine("size ok");
            const auto blocks = client->ReadBlocks();
            if (!blocks)
                break;
            result.files.emplace_back(fileName, protocol::DecodeBlocks(*blocks).value_or(""));
            Ask(*client, "file ok");
            Ask(*client, "hash ok");
        }
        if (result.replies.back() == "no_more_files")
            result.replies.push_back(Ask(*client, "no_more_files ok"));
        return result;
    }

    // Source, folder and name, then what the server says until it closes.
    std::vector<std::string> SharedJob(const std::string& word, const std::string& sourcePath, const std::string& name)
    {
        auto client = Login();
        std::vector<std::string> replies{Ask(*client, word)};
        for (const std::string& line : {sourcePath, (app / "out").string(), name}) {
            replies.push_back(Ask(*client, line));
            if (replies.back().find("ok") == std::string::npos)
                return replies;
        }
        while (auto line = client->ReadLine()) {
            replies.push_back(*line);
            if (*line == "export finished")
                break;
        }
        // A job that succeeded leaves the connection open for the next command; a failed one
        // closes it.
        replies.push_back(Ask(*client, "serveralive"));
        return replies;
    }

    // The PDF's page count, through a file of its own.
    std::string Pages(const std::string& bytes, const std::string& name) const
    {
        const fs::path file = app / "received" / name;
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
        return kesto_test::PdfInfoField(file.string(), "Pages");
    }

    // Files in the folder, by name.
    static std::vector<std::string> FilesIn(const fs::path& folder)
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // The replies of a shared-folder job that succeeded.
    static std::vector<std::string> Done(const std::string& announcement)
    {
        return {announcement, "filename ok", "target folder ok", "target name ok", "export finished", "server alive v2"};
    }

    bool ImportAvailable() const
    {
        return GeneralLog().find("Import of a Verbant file: not available") == std::string::npos;
    }

    // The server in a host that names PDFs the given way.
    void ServeNamed(const std::string& naming, const std::function<void()>& scenario)
    {
        Serve(scenario, [&](xthost::Host& host) {
            xthost::PdfOf(host).naming = naming == "as-given" ? xthost::PdfNaming::AsGiven : xthost::PdfNaming::Append;
        });
    }
};

class ServerPdfNamingTest : public ServerPdfTest, public ::testing::WithParamInterface<const char*> {};

} // namespace

TEST_P(ServerPdfNamingTest, SocketModeSendsTheResultsInOrder)
{
    const std::string document = ReadText(source);
    JobResult pdf, overset, both;
    ServeNamed(GetParam(), [&] {
        pdf = SocketJob("exportpdf", "doc.qxp", document);
        overset = SocketJob("exportpdfandoverset", "doc.qxp", document);
        both = SocketJob("exportdwqandpdf", "doc.qxp", document);
    });
    using Names = std::vector<std::string>;
    EXPECT_EQ(pdf.replies.front(), "export pdf");
    EXPECT_EQ(pdf.Names(), Names{"result.pdf"});
    EXPECT_EQ(overset.replies.front(), "export pdf and overset");
    EXPECT_EQ(overset.Names(), Names{"result.pdf"});
    EXPECT_EQ(both.replies.front(), "export dwx and pdf");
    EXPECT_EQ(both.Names(), (Names{"result.dwq", "result.pdf"}));
    for (const JobResult* job : {&pdf, &overset, &both}) {
        EXPECT_EQ(job->replies.back(), "export finished");
        if (!job->files.empty()) {
            EXPECT_EQ(Pages(job->files.back().second, job->files.back().first), "2");
        }
    }
    if (both.files.size() == 2) {
        EXPECT_EQ(both.files.front().second.substr(0, 8), std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    }
    EXPECT_TRUE(FilesIn(app / "tmp").empty());
    EXPECT_EQ(kesto_test::PdfLeftovers(app), std::vector<std::string>{});
}

TEST_P(ServerPdfNamingTest, SharedFolderModeWritesTheResultsBesideEachOther)
{
    std::vector<std::string> pdf, overset, both;
    ServeNamed(GetParam(), [&] {
        pdf = SharedJob("exportpdf", source, "a");
        overset = SharedJob("exportpdfandoverset", source, "b");
        both = SharedJob("exportdwqandpdf", source, "c");
    });
    EXPECT_EQ(pdf, Done("export pdf"));
    EXPECT_EQ(overset, Done("export pdf and overset"));
    EXPECT_EQ(both, Done("export dwx and pdf"));
    EXPECT_EQ(FilesIn(app / "out"), (std::vector<std::string>{"a.pdf", "b.pdf", "c.dwq", "c.pdf"}));
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf"})
        EXPECT_EQ(kesto_test::PdfInfoField((app / "out" / name).string(), "Pages"), "2") << name;
    EXPECT_EQ(kesto_test::PdfLeftovers(app), std::vector<std::string>{});
}

// From an exchange file the job makes a document on the way and sends back only the PDF.
TEST_P(ServerPdfNamingTest, PdfOfAnExchangeFileComesBackAlone)
{
    JobResult dwq, fromDwq;
    std::vector<std::string> shared;
    ServeNamed(GetParam(), [&] {
        dwq = SocketJob("exportdwq", "doc.qxp", ReadText(source));
        if (dwq.files.size() == 1) {
            std::ofstream(app / "out" / "c.dwq", std::ios::binary) << dwq.files.front().second;
            fromDwq = SocketJob("exportpdf", "doc.dwq", dwq.files.front().second);
            shared = SharedJob("exportpdf", (app / "out" / "c.dwq").string(), "d");
        }
    });
    ASSERT_EQ(dwq.Names(), std::vector<std::string>{"result.dwq"});
    EXPECT_EQ(fromDwq.replies.front(), "export pdf");
    if (!ImportAvailable()) {
        // Without the document on the way there is no PDF, and the job says so.
        EXPECT_TRUE(fromDwq.files.empty());
        EXPECT_EQ(shared.back(), "<closed>");
        EXPECT_EQ(FilesIn(app / "out"), std::vector<std::string>{"c.dwq"});
        EXPECT_TRUE(FilesIn(app / "tmp").empty());
        EXPECT_EQ(kesto_test::PdfLeftovers(app), std::vector<std::string>{});
        for (const auto& entry : fs::recursive_directory_iterator(app / "Temp"))
            EXPECT_NE(entry.path().extension(), ".qxp") << entry.path();
        GTEST_SKIP() << "a PDF of an exchange file needs the import command";
    }
    ASSERT_EQ(fromDwq.Names(), std::vector<std::string>{"result.pdf"});
    EXPECT_EQ(Pages(fromDwq.files.front().second, "from-dwq.pdf"), "2");
    EXPECT_EQ(shared, Done("export pdf"));
    EXPECT_EQ(FilesIn(app / "out"), (std::vector<std::string>{"c.dwq", "d.pdf"}));
    EXPECT_EQ(kesto_test::PdfInfoField((app / "out" / "d.pdf").string(), "Pages"), "2");
    EXPECT_TRUE(FilesIn(app / "tmp").empty());
    EXPECT_EQ(kesto_test::PdfLeftovers(app), std::vector<std::string>{});
}

// From an exchange file the job sends back, in this order, the document it made, the PDF of that
// document and the coordinates of its paragraphs; the overset form gives the same three.
TEST_P(ServerPdfNamingTest, DocumentPdfAndCoordinatesOfAnExchangeFileComeInOrder)
{
    JobResult dwq;
    std::vector<JobResult> socket;
    std::vector<std::vector<std::string>> shared;
    const std::vector<std::string> words{"exportqxpandpdf", "exportqxpandpdfandoverset"};
    ServeNamed(GetParam(), [&] {
        dwq = SocketJob("exportdwq", "doc.qxp", ReadText(source));
        if (dwq.files.size() != 1)
            return;
        fs::create_directories(app / "upload");
        std::ofstream(app / "upload" / "c.dwq", std::ios::binary) << dwq.files.front().second;
        for (size_t i = 0; i < words.size(); ++i) {
            socket.push_back(SocketJob(words[i], "doc.dwq", dwq.files.front().second));
            shared.push_back(SharedJob(words[i], (app / "upload" / "c.dwq").string(), i == 0 ? "e" : "f"));
        }
    });
    ASSERT_EQ(dwq.Names(), std::vector<std::string>{"result.dwq"});
    ASSERT_TRUE(ImportAvailable());
    ASSERT_EQ(socket.size(), 2u);
    const std::vector<std::string> announcements{"export indd and pdf", "export indd and pdf and overset"};
    const auto check = [&](const fs::path& qxp, const fs::path& pdf, const fs::path& coo) {
        const std::string command = "'" + std::string(XTHOST_PROGRAM) + "' doc check '" + qxp.string() + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << qxp;
        EXPECT_EQ(kesto_test::PdfInfoField(pdf.string(), "Pages"), "2") << pdf;
        const std::string rule(80, '-');
        const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<!--\n" + rule +
                                 "\nParagraph coordinates:\n";
        const std::string text = ReadText(coo);
        EXPECT_EQ(text.substr(0, head.size()), head) << coo;
        EXPECT_NE(text.find("\n" + rule + "\n-->\n"), std::string::npos) << coo;
        EXPECT_NE(text.find("<coord><p uid="), std::string::npos) << coo;
    };
    for (size_t i = 0; i < words.size(); ++i) {
        SCOPED_TRACE(words[i]);
        const JobResult& job = socket[i];
        EXPECT_EQ(job.replies.front(), announcements[i]);
        EXPECT_EQ(job.replies.back(), "export finished");
        ASSERT_EQ(job.Names(), (std::vector<std::string>{"result.qxp", "result.pdf", "result.coo"}));
        const fs::path received = app / "received" / words[i];
        fs::create_directories(received);
        for (const auto& [name, bytes] : job.files)
            std::ofstream(received / name, std::ios::binary) << bytes;
        check(received / "result.qxp", received / "result.pdf", received / "result.coo");

        EXPECT_EQ(shared[i], Done(announcements[i]));
        const std::string name = i == 0 ? "e" : "f";
        check(app / "out" / (name + ".qxp"), app / "out" / (name + ".pdf"), app / "out" / (name + ".coo"));
    }
    EXPECT_EQ(FilesIn(app / "out"),
              (std::vector<std::string>{"e.coo", "e.pdf", "e.qxp", "f.coo", "f.pdf", "f.qxp"}));
    EXPECT_EQ(FilesIn(app / "upload"), std::vector<std::string>{"c.dwq"});
    EXPECT_TRUE(FilesIn(app / "tmp").empty());
    for (const auto& entry : fs::recursive_directory_iterator(app / "Temp")) {
        const std::string extension = entry.path().extension().string();
        EXPECT_TRUE(extension != ".qxp" && extension != ".pdf" && extension != ".coo") << entry.path();
    }
    EXPECT_EQ(kesto_test::PdfLeftovers(app), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Naming, ServerPdfNamingTest, ::testing::Values("append", "as-given"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "append" ? "Append" : "AsGiven";
                         });
