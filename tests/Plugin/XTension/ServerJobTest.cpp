// Conversion jobs of the module's server as a remote client sees them: xthost loads Kesto.so in
// server mode and a client written from the wire protocol alone (no server code) drives it.
// Exports of documents convert and send their results; uploads that are no document, and JPEG
// images, end with the failure replies.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "Plugin/Batch/SyncedOnlyMount.h"
#include "ServerHostTest.h"
#include "platform/fs/Sweep.h"
#include "platform/fs/TempFiles.h"

namespace fs = std::filesystem;
using kesto_test::ReadText;
using protocol::Client;

namespace {

const std::regex kJobFolderName("OMRA_[0-9]{14}_[A-Z]{16}");

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(n, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator());
    return bytes;
}

size_t OpenDescriptors()
{
    size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++count;
        ::closedir(dir);
    }
    return count;
}

// Every file below the folder with its size and content, to see that nothing changed.
std::map<std::string, std::string> Snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file())
            files[it->path().string()] = ReadText(it->path());
    return files;
}

class ServerJobTest : public kesto_test::ServerHostTest {
protected:
    ServerJobTest() : ServerHostTest("kesto-server") {}

    void SetUp() override
    {
        ServerHostTest::SetUp();
        ShareExample({"logs", "tmp", "alive", "out"});
        WriteServerSettings("");
    }

    void WriteServerSettings(const std::string& extraServer, const std::string& paths = "")
    {
        WriteSettings("[Server]\nserverMode=True\nlistenPort=" + std::to_string(port) +
                      "\nactivateServerLog=True\nkeepServerLog=True\nserverLogMinPriority=0\nsocketTransferMode=True\n" +
                      "sharedFolders=" + app.string() + "\n" + extraServer + "[Path]\nLogPath=" + (app / "logs").string() + "\n" +
                      (paths.empty() ? "TemporaryPath=" + (app / "tmp").string() +
                                           "\nServerAlivePath=" + (app / "alive").string() + "\n"
                                     : paths));
    }

    // Socket mode up to the uploaded source; answers the last reply.
    static std::string Upload(Client& client, const std::string& name, const std::string& bytes, bool deflate)
    {
        for (const std::string& line : {std::string("///file_sock_transfer///"), std::string("file_transfer_start"),
                                        name, std::to_string(bytes.size())}) {
            const std::string reply = Ask(client, line);
            // A refusal may quote a path, which may hold "ok" anywhere; an acceptance ends in it.
            if (reply.size() < 3 || reply.compare(reply.size() - 3, 3, " ok") != 0)
                return reply;
        }
        client.SendBlocks(deflate ? protocol::EncodeStream(protocol::Deflate(bytes, 1), 8)
                                  : protocol::EncodeStream(bytes, 0));
        const std::string reply = client.ReadLine().value_or("<closed>");
        return reply == "file ok" ? Ask(client, "0") : reply;
    }

    // One socket-mode job whose conversion fails: the result is asked for and the server says it
    // has none, then closes. Answers the replies after the announcement.
    std::vector<std::string> SocketJob(const std::string& word, const std::string& name, const std::string& bytes,
                                       const std::string& target, bool deflate)
    {
        auto client = Login();
        std::vector<std::string> replies{Ask(*client, word)};
        replies.push_back(Upload(*client, name, bytes, deflate));
        replies.push_back(Ask(*client, target));
        if (replies.back() == "target name ok") {
            replies.push_back(Ask(*client, "wait_for_file"));
            replies.push_back(Ask(*client, "file_transfer_start ok"));
            replies.push_back(Ask(*client, "filename ok"));
        }
        EXPECT_TRUE(client->AtEof()) << "a failed job closes the connection";
        return replies;
    }

    // The checks of a job that failed only in its conversion.
    void ExpectFailedConversion(const std::vector<std::string>& replies, const std::string& announcement,
                                const std::string& resultName)
    {
        ASSERT_EQ(replies.size(), 6u);
        EXPECT_EQ(replies[0], announcement);
        EXPECT_EQ(replies[1], "hash ok");
        EXPECT_EQ(replies[2], "target name ok");
        EXPECT_EQ(replies[3], "file_transfer_start");
        EXPECT_EQ(replies[4], resultName);
        const std::string head = "File transfer error: non-existing or empty file: " + (app / "tmp").string() + "/OMRA_";
        EXPECT_EQ(replies[5].rfind(head, 0), 0u) << replies[5];
        EXPECT_EQ(replies[5].substr(replies[5].size() - resultName.size() - 1), "/" + resultName);
    }

    // Takes every result the server offers after a conversion, by name.
    static void TakeResults(Client& client, bool deflate, std::map<std::string, std::string>& files)
    {
        for (;;) {
            const std::string reply = Ask(client, "wait_for_file");
            if (reply == "no_more_files") {
                EXPECT_EQ(Ask(client, "no_more_files ok"), "export finished");
                return;
            }
            ASSERT_EQ(reply, "file_transfer_start");
            const std::string fileName = Ask(client, "file_transfer_start ok");
            Ask(client, "filename ok");
            client.SendLine("size ok");
            auto blocks = client.ReadBlocks();
            ASSERT_TRUE(blocks);
            // The closing block is never flagged; every block before it is deflated exactly when
            // the upload was.
            for (const auto& b : *blocks) {
                if (!(b[0] & 2)) {
                    EXPECT_EQ((b[0] & 8) != 0, deflate) << "deflated exactly when the upload was";
                }
            }
            files[fileName] = protocol::DecodeBlocks(*blocks).value_or("");
            EXPECT_EQ(Ask(client, "file ok"), "0");
            EXPECT_EQ(Ask(client, "hash ok"), "file_transfer_end");
        }
    }

    // One socket-mode job that converts: the source up, every result down, then the client
    // quits. Answers the results by name.
    std::map<std::string, std::string> SocketExport(const std::string& word, const std::string& name,
                                                    const std::string& bytes, const std::string& target, bool deflate)
    {
        std::map<std::string, std::string> files;
        auto client = Login();
        EXPECT_NE(Ask(*client, word), "<closed>");
        EXPECT_EQ(Upload(*client, name, bytes, deflate), "hash ok");
        EXPECT_EQ(Ask(*client, target), "target name ok");
        TakeResults(*client, deflate, files);
        EXPECT_EQ(Ask(*client, "quit"), "<closed>");
        return files;
    }

    // What the server says to a shared-folder job that converts, after its announcement.
    static std::vector<std::string> Converted(const std::string& announcement)
    {
        return {announcement, "filename ok", "target folder ok", "target name ok", "export finished"};
    }

    static bool IsExchangeFile(const std::string& bytes)
    {
        return bytes.compare(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0;
    }

    // The texts of the kept server log, one per line.
    std::vector<std::string> ServerLogTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& entry : fs::directory_iterator(app / "logs")) {
            std::istringstream lines(ReadText(entry.path() / "KS7_srv.log"));
            for (std::string line; std::getline(lines, line);) {
                const size_t first = line.find('\t');
                const size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
                if (second != std::string::npos)
                    texts.push_back(line.substr(second + 1));
            }
        }
        return texts;
    }

    // Each expected text, in this order, among the log's texts (others may come between).
    static void ExpectInOrder(const std::vector<std::string>& texts, const std::vector<std::string>& expected,
                              size_t& from)
    {
        for (const std::string& text : expected) {
            const auto it = std::find(texts.begin() + static_cast<long>(from), texts.end(), text);
            ASSERT_NE(it, texts.end()) << "missing in the server log after line " << from << ": " << text;
            from = static_cast<size_t>(it - texts.begin()) + 1;
        }
    }

    std::vector<std::string> JobFolders(const fs::path& root) const
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(root, ec))
            if (std::regex_match(entry.path().filename().string(), kJobFolderName))
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::string Padded(const std::string& name) { return name + std::string(48 - name.size(), ' '); }

    // A server in an xthost of its own, with an application folder of its own under this test's
    // and the job folders under this test's "tmp"; apart, it runs in a new pid namespace, where
    // it is process 1, as in a container.
    class OutsideServer {
    public:
        OutsideServer(const std::string& name, bool apart, const ServerJobTest& test)
            : m_port(protocol::FreeLoopbackPort())
        {
            const fs::path folder = test.app / name;
            fs::remove_all(folder);
            fs::create_directories(folder / "XTensions");
            fs::create_symlink(KESTO_MODULE, folder / "XTensions" / "Kesto.so");
            std::ofstream(folder / "XTensions" / "kesto.ini")
                << "[Server]\nserverMode=True\nlistenPort=" << m_port
                << "\nactivateServerLog=True\nkeepServerLog=True\nsocketTransferMode=True\n[Path]\nLogPath="
                << (folder / "logs").string() << "\nTemporaryPath=" << (test.app / "tmp").string() << "\n";
            fs::create_directories(folder / "logs");
            std::ofstream(folder / "serve.xts") << "start\nidle 1\nquit\n";
            m_pid = ::fork();
            if (m_pid == 0) {
                const int quiet = ::open("/dev/null", O_WRONLY);
                if (::dup2(quiet, 1) >= 0 && ::dup2(quiet, 2) >= 0 && ::chdir(folder.c_str()) == 0) {
                    if (apart)
                        ::execlp("unshare", "unshare", "--pid", "--fork", "--kill-child", XTHOST_PROGRAM, "--app", ".",
                                 "--module", KESTO_MODULE, "--script", "serve.xts", "--quiet",
                                 static_cast<char*>(nullptr));
                    else
                        ::execl(XTHOST_PROGRAM, XTHOST_PROGRAM, "--app", ".", "--module", KESTO_MODULE, "--script",
                                "serve.xts", "--quiet", static_cast<char*>(nullptr));
                }
                ::_exit(127);
            }
        }
        ~OutsideServer()
        {
            if (m_pid > 0 && ::kill(m_pid, SIGKILL) == 0)
                ::waitpid(m_pid, nullptr, 0);
        }
        OutsideServer(const OutsideServer&) = delete;
        OutsideServer& operator=(const OutsideServer&) = delete;

        // Whether it takes clients within 30 seconds.
        bool Up() const
        {
            for (int i = 0; i < 600; ++i) {
                if (Client(m_port, 1000).Connected())
                    return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            return false;
        }

        std::unique_ptr<Client> Login() const
        {
            auto client = std::make_unique<Client>(m_port, 30000);
            client->SendLine(kPassword);
            EXPECT_EQ(client->ReadLine(), "password ok");
            return client;
        }

    private:
        uint16_t m_port;
        pid_t m_pid = -1;
    };
};

} // namespace

TEST_F(ServerJobTest, TargetNamesAndRefusalsGiveTheirExactRepliesAndLogLines)
{
    const std::string shared = (app / "shared").string();
    std::map<std::string, std::vector<std::string>> replies;
    Serve([&] {
        replies["report"] = SharedJob("exportdwqandpdf", source, shared, "report");
        replies["report.pdf"] = SharedJob("exportdwqandpdf", source, shared + "/", "report.pdf");
        replies["report.PDF"] = SharedJob("exportdwqandpdf", source, shared + "//\\", "report.PDF");
        replies["empty"] = SharedJob("exportdwq", source, shared, "");
        replies["missing source"] = SharedJob("exportdwq", shared + "/none.qxp", shared, "r");
        replies["missing folder"] = SharedJob("exportdwq", source, shared + "/none/", "r");
        replies["type 0"] = SocketJob("exportjpgs", "doc.qxp", ReadText(source), "pics", false);
    });
    const std::vector<std::string> converted = Converted("export dwx and pdf");
    EXPECT_EQ(replies["report"], converted);
    EXPECT_EQ(replies["report.pdf"], converted);
    EXPECT_EQ(replies["report.PDF"], converted);
    EXPECT_EQ(replies["empty"], (std::vector<std::string>{"export dwx", "filename ok", "target folder ok",
                                                          "target file name missing."}));
    EXPECT_EQ(replies["missing source"],
              (std::vector<std::string>{"export dwx", "Could not open file '" + shared + "/none.qxp'."}));
    EXPECT_EQ(replies["missing folder"], (std::vector<std::string>{"export dwx", "filename ok",
                                                                   "Target folder '" + shared + "/none' does not exist."}));
    ExpectFailedConversion(replies["type 0"], "export jpgs", "pics.jpg");

    const auto texts = ServerLogTexts();
    size_t at = 0;
    for (const auto& [removed, name1, name2] :
         {std::tuple<int, std::string, std::string>{0, "report.dwq", "report.pdf"},
          {1, "report.dwq", "report.pdf"},
          {3, "report.PDF.dwq", "report.PDF.pdf"}}) {
        ExpectInOrder(texts,
                      {"WRITE:\texport dwx and pdf", "File mode: shared folder",
                       "WARNING: Removed " + std::to_string(removed) + " path separators.", "doExport[BEFORE 1]",
                       "Target: .dwq", "Source is QXP: YES\t", ".dwq - BEFORE FolderUtils::ProcessConversion()",
                       ".dwq - AFTER FolderUtils::ProcessConversion()", "doExport[AFTER 1] - Job done: SUCCESS",
                       "Task 1/2: SUCCESS\t[" + Padded("doc.qxp") + " -> " + Padded(name1) + "]",
                       "doExport[BEFORE 2]", "switch (m_eo_CnvType) - In: " + source,
                       "In: " + source + "\tOut: " + shared + "/" + name2, "doExport[AFTER 2] - Job done: SUCCESS",
                       "Task 2/2: SUCCESS\t[" + Padded("doc.qxp") + " -> " + Padded(name2) + "]",
                       "Closed all documents: SUCCESS", "WRITE:\texport finished", "Conversion successful"},
                      at);
    }
    ExpectInOrder(texts, {"WRITE:\ttarget file name missing.", "WRITE:\tCould not open file '" + shared + "/none.qxp'.",
                          "WARNING: Removed 1 path separators.",
                          "WRITE:\tTarget folder '" + shared + "/none' does not exist.", "WRITE:\texport jpgs",
                          "File mode: socket transfer\tCompression: off", "Task 1/1: FAILURE\t[" + Padded("doc.qxp") +
                                                                              " -> " + Padded("pics.jpg") + "]",
                          "File transfer failed: pics.jpg"},
                  at);
    // The conversions reached the driver, which fired the export command; JPEG images never do.
    for (const char* name : {"report.dwq", "report.PDF.dwq"})
        EXPECT_TRUE(IsExchangeFile(ReadText(app / "shared" / name))) << name;
    const std::string general = GeneralLog();
    EXPECT_EQ(general.find("pics.jpg"), std::string::npos);
    EXPECT_TRUE(JobFolders(app / "tmp").empty());
}

TEST_F(ServerJobTest, BadClientsLeaveNothingBehindAndTheNextClientIsServed)
{
    const std::string document = ReadText(source);
    const auto before = Snapshot(app / "shared");
    size_t descriptors = 0;
    std::vector<std::string> failures;
    auto normal = [&](const std::string& after) {
        const auto files = SocketExport("exportdwq", "doc.qxp", document, "report", after.size() % 2 == 0);
        if (files.size() != 1 || !IsExchangeFile(files.begin()->second) || files.begin()->first != "report.dwq")
            failures.push_back(after);
    };
    auto leaves = [&](const std::function<void(Client&)>& bad) {
        auto client = Login();
        bad(*client);
        client->Close();
    };
    auto settled = [&] {
        // The server closes its side of the last client right after it.
        for (int i = 0; i < 200 && OpenDescriptors() != descriptors; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return OpenDescriptors();
    };
    Serve([&] {
        normal("start");
        descriptors = settled();

        leaves([](Client& c) { Ask(c, "exportdwq"); });
        normal("after the announcement");
        leaves([&](Client& c) {
            Ask(c, "exportdwq");
            for (const char* line : {"///file_sock_transfer///", "file_transfer_start", "big.qxp", "200000"})
                Ask(c, line);
            auto blocks = protocol::EncodeStream(RandomBytes(200000, 1), 0);
            blocks.resize(3);
            c.SendBlocks(blocks);
        });
        normal("mid-upload");
        leaves([&](Client& c) {
            Ask(c, "exportdwqandpdf");
            Upload(c, "doc.qxp", document, true);
            c.SendLine("report"); // gone while the conversion runs
        });
        normal("during the conversion");
        leaves([&](Client& c) {
            Ask(c, "exportdwq");
            Upload(c, "doc.qxp", document, false);
            Ask(c, "report");
            Ask(c, "wait_for_file");
        });
        normal("mid-download");
        for (const std::string& name :
             {std::string("../x"), std::string("/etc/x"), std::string("a\\b"), std::string(".."), std::string("x\r"),
              std::string(256, 'n')}) {
            auto client = Login();
            Ask(*client, "exportdwq");
            Upload(*client, "doc.qxp", document, false);
            if (Ask(*client, name) != "target file name invalid.")
                failures.push_back("name " + name);
            EXPECT_TRUE(client->AtEof());
            normal("name " + name);
        }
        // Uploads that are no document: random bytes as a document, text as an exchange file.
        ExpectFailedConversion(SocketJob("exportdwq", "x.qxp", RandomBytes(50000, 2), "back", true), "export dwx",
                               "back.dwq");
        normal("random bytes as a document");
        ExpectFailedConversion(SocketJob("exportqxp", "x.dwq", "some plain text\n", "back", false), "export indd",
                               "back.qxp");
        normal("text as an exchange file");
        EXPECT_EQ(settled(), descriptors) << "the server holds descriptors it did not hold before";
    });
    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_TRUE(JobFolders(app / "tmp").empty());
    EXPECT_EQ(Snapshot(app / "shared"), before);
    EXPECT_FALSE(fs::exists(app / "x"));
    EXPECT_FALSE(fs::exists(app / "tmp" / "x"));
}

TEST_F(ServerJobTest, JobFoldersAreKeptWithClearTempFilesOffAndTheHeartbeatHoldsOneLine)
{
    WriteServerSettings("clearTempFiles=False\n");
    const std::string document = ReadText(source);
    Serve([&] {
        for (int i = 0; i < 2; ++i) {
            const auto files = SocketExport("exportdwq", "doc.qxp", document, "r", i == 1);
            EXPECT_EQ(files.size(), 1u);
            EXPECT_TRUE(files.count("r.dwq") && IsExchangeFile(files.at("r.dwq")));
        }
    });
    const auto folders = JobFolders(app / "tmp");
    ASSERT_EQ(folders.size(), 2u) << "two jobs within a second have folders of their own";
    // Each keeps its upload, which the export saved again as a sound document.
    for (const auto& name : folders) {
        const std::string check = "'" + std::string(XTHOST_PROGRAM) + "' doc check '" +
                                  (app / "tmp" / name / "incoming" / "doc.qxp").string() + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(check.c_str()), 0) << name;
    }
    const std::string beat = ReadText(app / "alive" / "ServerAlive");
    EXPECT_TRUE(std::regex_match(beat, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\r\n"))) << beat;
    EXPECT_EQ(std::distance(fs::directory_iterator(app / "alive"), fs::directory_iterator()), 1);
}

TEST_F(ServerJobTest, WithoutPathsJobsUseTheSystemTemporaryFolderAndWriteNoHeartbeat)
{
    fs::create_directories(app / "system-temp");
    const char* saved = std::getenv("TMPDIR");
    const std::string savedText = saved ? saved : "";
    ::setenv("TMPDIR", (app / "system-temp").c_str(), 1);
    WriteServerSettings("clearTempFiles=False\n", "ServerAlivePath= \n");
    Serve([&] {
        auto client = Login();
        Ask(*client, "exportdwq");
        EXPECT_EQ(Upload(*client, "doc.qxp", "x", false), "hash ok");
        client->Close();
    });
    if (saved)
        ::setenv("TMPDIR", savedText.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_EQ(JobFolders(app / "system-temp").size(), 1u);
    EXPECT_TRUE(JobFolders(app / "tmp").empty());
    EXPECT_FALSE(fs::exists(app / "alive" / "ServerAlive"));
    EXPECT_FALSE(fs::exists(app / "ServerAlive"));
    EXPECT_FALSE(fs::exists(app / " " / "ServerAlive"));
}

TEST_F(ServerJobTest, FourClientsInParallelFiftyJobsEach)
{
    const std::string document = ReadText(source);
    std::atomic<int> complete{0};
    Serve([&] {
        std::vector<std::thread> clients;
        for (int c = 0; c < 4; ++c)
            clients.emplace_back([&, c] {
                for (int job = 0; job < 50; ++job) {
                    const std::string target = "c" + std::to_string(c) + "j" + std::to_string(job);
                    const auto files = SocketExport("exportdwq", "doc.qxp", document, target, (job + c) % 2 == 0);
                    if (files.size() == 1 && files.count(target + ".dwq") && IsExchangeFile(files.at(target + ".dwq")))
                        ++complete;
                }
            });
        for (auto& t : clients)
            t.join();
    });
    EXPECT_EQ(complete, 200);
    EXPECT_TRUE(JobFolders(app / "tmp").empty());
}

// ---- Results of real conversions ----------------------------------------------------------

TEST_F(ServerJobTest, ExportDwqThenExportQxpOfItsResultInEveryMode)
{
    const std::string document = ReadText(source);
    std::map<std::string, std::string> results;
    const std::string out = (app / "out").string();
    // The exchange files come first; the documents back from them only once the import converts.
    bool importConverts = false;
    Serve([&] {
        std::map<std::string, std::string> dwq[2];
        for (bool deflate : {false, true}) {
            dwq[deflate] = SocketExport("exportdwq", "minimal.qxp", document, "minimal", deflate);
            ASSERT_EQ(dwq[deflate].size(), 1u);
            ASSERT_EQ(dwq[deflate].begin()->first, "minimal.dwq");
            results[std::string(deflate ? "deflated" : "plain") + ".dwq"] = dwq[deflate].begin()->second;
        }
        EXPECT_EQ(SharedJob("exportdwq", source, out, "minimal"),
                  Converted("export dwx"));
        const auto back = SharedJob("exportqxp", out + "/minimal.dwq", out, "minimal");
        importConverts = GeneralLog().find("Import of a Verbant file: not available") == std::string::npos;
        if (!importConverts)
            return;
        EXPECT_EQ(back, Converted("export indd"));
        for (bool deflate : {false, true}) {
            const auto qxp = SocketExport("exportqxp", "minimal.dwq", dwq[deflate].begin()->second, "minimal", deflate);
            ASSERT_EQ(qxp.size(), 1u);
            ASSERT_EQ(qxp.begin()->first, "minimal.qxp");
            results[std::string(deflate ? "deflated" : "plain") + ".qxp"] = qxp.begin()->second;
        }
    });
    for (const auto& [name, bytes] : results) {
        const fs::path file = app / "out" / name;
        std::ofstream(file, std::ios::binary) << bytes;
    }
    for (const char* name : {"plain.dwq", "deflated.dwq", "minimal.dwq"}) {
        // Debian's Python, which has olefile.
        const std::string command = "/usr/bin/python3 -c \"import olefile,sys; olefile.OleFileIO(sys.argv[1])\" '" +
                                    (app / "out" / name).string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << name;
    }
    if (!importConverts)
        GTEST_SKIP() << "needs the import command";
    for (const char* name : {"plain.qxp", "deflated.qxp", "minimal.qxp"}) {
        const std::string command = "'" + std::string(XTHOST_PROGRAM) + "' doc check '" + (app / "out" / name).string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << name;
    }
}

// A server killed during a shared-folder job left temporary files of both writers (module and
// host) in the client's folder; the next job there removes them, and only them: whatever process
// id a name carries (process 1, a running process), a file goes when nobody holds it, and stays
// while a process holds it, also one whose id names no process here (a server in another pid
// namespace that shares the folder).
TEST_F(ServerJobTest, TheNextJobRemovesTheTemporaryFilesThatNoServerHoldsInTheClientsFolder)
{
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const fs::path out = app / "out";
    const auto temp = [&](const char* name, pid_t pid, const char* suffix) {
        return fs::path(platform::fs::TempNameBeside((out / name).string(), pid, 0x5EED, suffix)).filename().string();
    };
    const std::vector<std::string> left = {temp("dir.dwq", gone, ".tmp"), temp("dir.pdf", gone, ".part"),
                                           temp("dir.dwq", ::getppid(), ".tmp"), temp("dir.pdf", 1, ".part")};
    const std::string held = temp("held.dwq", gone, ".tmp");
    // A user's files of like names, one of them of an earlier build's form, are not the server's.
    const std::vector<std::string> kept = {held, "dir.pdf.part", ".dir.dwq." + std::to_string(gone) + "-5.tmp"};
    for (const auto& names : {left, kept})
        for (const std::string& name : names)
            std::ofstream(out / name) << name;
    const int holder = ::open((out / held).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_SH), 0);
    Serve([&] {
        EXPECT_EQ(SharedJob("exportdwqandpdf", source, out.string(), "dir"),
                  Converted("export dwx and pdf"));
    });
    ::close(holder);
    for (const std::string& name : left)
        EXPECT_FALSE(fs::exists(out / name)) << name;
    for (const std::string& name : kept)
        EXPECT_EQ(ReadText(out / name), name);
}

// A server holds its job folders for as long as it uses them, whichever pid namespace it runs
// in: another server that starts meanwhile in a pid namespace of its own (a container that
// shares the working folder) keeps them, with the client's upload, also when both run as process
// 1 there; the job then goes on. Folders that no server holds go, whatever process id they carry.
TEST_F(ServerJobTest, AServerStartingInAnotherPidNamespaceKeepsTheJobFoldersOfRunningServers)
{
    if (std::system("unshare --pid --fork --kill-child true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no new pid namespace here (unshare --pid needs privileges)";
    const std::string stamp = "20261208010203";
    for (const bool holderApart : {false, true}) {
        SCOPED_TRACE(holderApart ? "both servers in pid namespaces of their own" : "the starting server apart");
        fs::remove_all(app / "tmp");
        fs::create_directories(app / "tmp");
        OutsideServer holder("holder", holderApart, *this);
        ASSERT_TRUE(holder.Up());
        auto client = holder.Login();
        EXPECT_EQ(Ask(*client, "exportdwq"), "export dwx");
        EXPECT_EQ(Upload(*client, "doc.qxp", ReadText(source), false), "hash ok");
        const std::vector<std::string> jobs = JobFolders(app / "tmp");
        ASSERT_EQ(jobs.size(), 1u);
        for (const pid_t owner : {pid_t(1), ::getpid()}) {
            const std::string name = "OMRA_" + stamp + "_UNHELDXX" + platform::fs::JobOwnerLetters(stamp, owner);
            fs::create_directories(app / "tmp" / name / "incoming");
            std::ofstream(app / "tmp" / name / platform::fs::kLockName);
            std::ofstream(app / "tmp" / name / "incoming" / "doc.qxp") << "left by a server that is gone";
        }

        // It has swept once it takes clients.
        OutsideServer sweeper("sweeper", true, *this);
        ASSERT_TRUE(sweeper.Up());
        EXPECT_EQ(JobFolders(app / "tmp"), jobs);
        EXPECT_EQ(ReadText(app / "tmp" / jobs[0] / "incoming" / "doc.qxp"), ReadText(source));

        EXPECT_EQ(Ask(*client, "report"), "target name ok");
        EXPECT_EQ(Ask(*client, "wait_for_file"), "file_transfer_start");
    }
}

// A document at a path longer than 300 bytes converts in either mode: shared folders put the
// result in the folder the client names, a socket job in its own job folder as deep; nothing is
// written in the folder the host runs in.
TEST_F(ServerJobTest, DocumentsAtPathsLongerThanThreeHundredBytesConvertInsideTheirFolders)
{
    const fs::path deep = app / "shared" / std::string(100, 'd') / std::string(100, 'e') / std::string(100, 'f');
    fs::create_directories(deep / "out");
    fs::create_directories(deep / "tmp");
    const std::string longSource = (deep / "doc.qxp").string();
    ASSERT_GT(longSource.size(), 300u);
    fs::copy_file(source, longSource);
    WriteServerSettings("clearTempFiles=False\n", "TemporaryPath=" + (deep / "tmp").string() +
                                                      "\nServerAlivePath=" + (app / "alive").string() + "\n");
    const std::string document = ReadText(source);
    Serve([&] {
        EXPECT_EQ(SharedJob("exportdwq", longSource, (deep / "out").string(), "long"),
                  Converted("export dwx"));
        const auto files = SocketExport("exportdwq", "doc.qxp", document, "long", true);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(IsExchangeFile(files.begin()->second));
    });
    EXPECT_TRUE(IsExchangeFile(ReadText(deep / "out" / "long.dwq")));
    const auto jobs = JobFolders(deep / "tmp");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_TRUE(IsExchangeFile(ReadText(deep / "tmp" / jobs.front() / "long.dwq")));
    for (const auto& entry : fs::directory_iterator(app))
        EXPECT_NE(entry.path().extension(), ".dwq") << entry.path();
}

// Inputs a job may not take, each refused with its reply before the host sees them, after which
// the next client is served: a pipe as a shared source (the host's open would wait for a writer
// for ever), a device, and an upload whose name is not UTF-8.
TEST_F(ServerJobTest, APipeADeviceAndANameThatIsNoTextAreRefused)
{
    const std::string pipe = (app / "shared" / "pipe.qxp").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // Should the host open the pipe after all, a writer comes and goes, so that the test fails
    // instead of hanging.
    std::atomic<bool> done{false};
    std::atomic<bool> opened{false};
    std::thread writer([&] {
        while (!done) {
            const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                opened = true;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const std::string document = ReadText(source);
    const std::string out = (app / "out").string();
    Serve([&] {
        for (const std::string& path : {pipe, std::string("/dev/null")}) {
            EXPECT_EQ(SharedJob("exportdwq", path, out, "r"),
                      (std::vector<std::string>{"export dwx", "Could not open file '" + path + "'."}));
            EXPECT_EQ(SocketExport("exportdwq", "doc.qxp", document, "after", false).size(), 1u) << path;
        }
        auto client = Login();
        Ask(*client, "exportdwq");
        EXPECT_EQ(Upload(*client, "caf\xE9.qxp", document, false), "target file name invalid.");
        client->Close();
        EXPECT_EQ(SocketExport("exportdwq", "doc.qxp", document, "after", true).size(), 1u);
    });
    done = true;
    writer.join();
    EXPECT_FALSE(opened) << "the host opened the pipe";
    EXPECT_TRUE(fs::is_empty(app / "out"));
}

// Client paths reach the general log's conversion blocks with the server's password masked: the
// export's, and each line of an import that fails in the client's folder.
TEST_F(ServerJobTest, ThePasswordInAClientPathNeverReachesTheGeneralLog)
{
    const fs::path folder = app / "shared" / kPassword;
    const fs::path masked = app / "shared" / "********";
    fs::create_directories(folder);
    const std::string secretSource = (folder / "doc.qxp").string();
    fs::copy_file(source, secretSource);
    // One the host cannot open: its failure is logged with the same mask.
    const std::string brokenSource = (folder / "broken.qxp").string();
    std::ofstream(brokenSource) << "not a document";
    Serve([&] {
        const auto replies = SharedJob("exportdwqandpdf", secretSource, folder.string(), "r");
        ASSERT_FALSE(replies.empty());
        EXPECT_EQ(replies.back(), "export finished");
        SharedJob("exportdwq", brokenSource, folder.string(), "r");
    });
    std::string log = GeneralLog();
    EXPECT_NE(log.find("Unable to open \"" + (masked / "broken.qxp").string()), std::string::npos) << log;
    EXPECT_NE(log.find("Starting export ..."), std::string::npos) << log;
    EXPECT_NE(log.find("Starting PDF creation ..."), std::string::npos) << log;
    EXPECT_NE(log.find((masked / "doc.qxp").string()), std::string::npos) << log;
    EXPECT_EQ(log.find(kPassword), std::string::npos) << log;
    ASSERT_TRUE(fs::exists(folder / "r.dwq"));

    // Imports of the exchange file that fail, each in a host of its own (the fault plan is the
    // host's): the container `name`.dwq into `name`.qxp, both in the client's folder. (A
    // write-protected target never reaches the import in a server job: the conversion keeps it
    // before.)
    struct Case {
        const char* name;
        std::vector<xthost::FaultRule> faults;
        std::function<void(const fs::path& dwq, const fs::path& qxp)> prepare;
        std::function<std::string(const fs::path& dwq, const fs::path& qxp)> line;  // of the masked paths
    };
    const auto none = [](const fs::path&, const fs::path&) {};
    const Case cases[] = {
        {"restore", {{"write:FIO-6", 28}}, none,
         [](const fs::path&, const fs::path& qxp) {
             return "Unable to write the document restored from DWQ to " + qxp.string() + "!";
         }},
        {"save", {{"write:DOC-11", 28}}, none,
         [](const fs::path&, const fs::path& qxp) {
             return "Unable to save the imported document " + qxp.string() + ": ";
         }},
        {"own", {}, [](const fs::path& dwq, const fs::path& qxp) { fs::create_hard_link(dwq, qxp); },
         [](const fs::path&, const fs::path& qxp) {
             return "Unable to import " + qxp.string() + " into itself: the target is the DWQ being imported!";
         }},
        {"work", {{"XFJ12/8", -34, 0, 1}}, none,
         [](const fs::path& dwq, const fs::path&) { return " ->       " + dwq.parent_path().string() + "/.work.qxp."; }},
        {"load", {},
         [&](const fs::path& dwq, const fs::path&) {
             // The stored document's bytes become zeros: no zlib stream any more.
             const std::string command = "/usr/bin/python3 -c \"import olefile,sys; o=olefile.OleFileIO(sys.argv[1], "
                                         "write_mode=True); s='VerbantPluginPrivateData/KestoExportTemplates/0'; "
                                         "o.write_stream(s, bytes(len(o.openstream(s).read())))\" '" +
                                         dwq.string() + "'";
             ASSERT_EQ(std::system(command.c_str()), 0);
         },
         [](const fs::path& dwq, const fs::path&) { return " ->       " + dwq.string() + ": "; }},
    };
    for (const Case& c : cases) {
        const fs::path dwq = folder / (std::string(c.name) + ".dwq");
        const fs::path qxp = folder / (std::string(c.name) + ".qxp");
        fs::copy_file(folder / "r.dwq", dwq);
        c.prepare(dwq, qxp);
        fs::remove(app / "KestoLogfile.txt");
        Serve([&] { SharedJob("exportqxp", dwq.string(), folder.string(), c.name); },
              [&](xthost::Host& host) {
                  for (const xthost::FaultRule& rule : c.faults)
                      host.Faults().Add(rule);
              });
        log = GeneralLog();
        EXPECT_NE(log.find("Starting import ..."), std::string::npos) << c.name << "\n" << log;
        const fs::path maskedDwq = masked / dwq.filename();
        const fs::path maskedQxp = masked / qxp.filename();
        EXPECT_NE(log.find(c.line(maskedDwq, maskedQxp)), std::string::npos) << c.name << "\n" << log;
        EXPECT_EQ(log.find(kPassword), std::string::npos) << c.name << "\n" << log;
    }
}

// A client's job into its own folder: when the client hears "export finished", the exchange file
// and the PDF are on the disk, whole and with their mode, also after a power cut.
TEST_F(ServerJobTest, AJobsResultsAreOnTheDiskWhenTheClientHearsTheyAreDone)
{
    kesto_test::SyncedOnlyMount disk(app / "power-cut");
    fs::create_directories(disk.live / "out");
    SKIP_UNLESS_MOUNTED(disk.Mount());
    Serve([&] {
        EXPECT_EQ(SharedJob("exportdwqandpdf", source, (disk.mnt / "out").string(), "report").back(), "export finished");
    });
    disk.Cut();
    EXPECT_EQ(disk.ExpectKept("out"), 2);
}

namespace {

// The disk refuses every sync of a folder: the client never hears "export finished" for results
// that a power cut may take, and the general log names the first folder and the reason.
TEST_F(ServerJobTest, AJobWhoseResultsCannotBeSyncedIsNoJobFinished)
{
    std::vector<std::string> replies;
    Serve([&] { replies = SharedJob("exportdwq", source, (app / "out").string(), "report"); },
          [](xthost::Host& host) { host.Faults().Add({"fsync.folder", 5}); });
    ASSERT_FALSE(replies.empty());
    EXPECT_NE(replies.back(), "export finished");
    EXPECT_NE(GeneralLog().find("\" may not survive a power cut: Input/output error"), std::string::npos) << GeneralLog();
}

} // namespace
