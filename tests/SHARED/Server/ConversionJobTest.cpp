// The conversion job's dialogue with a client written from the protocol, over loopback, with a
// double of the conversion driver behind it: names and paths of the tasks, results going back
// in their order, working folders and the heartbeat.
#include "SHARED/Server/KS/Conversion.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <memory>
#include <regex>
#include <map>
#include <set>

#include "Foundation/Settings.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "SHARED/Server/DriverDouble.h"
#include "SHARED/Server/ServerLoops.h"
#include "SHARED/Server/ServerTestSupport.h"

using protocol::Client;
using namespace servertest;
using driverdouble::Driver;
namespace fs = std::filesystem;

namespace {

const std::regex kJobFolderName("OMRA_[0-9]{14}_[A-Z]{16}");

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ConversionJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        driverdouble::Reset();
        m_Temp = m_Dir.Path() + "/tmp";
        m_Alive = m_Dir.Path() + "/alive";
        m_Shared = m_Dir.Path() + "/shared";
        for (const std::string& d : {m_Temp, m_Alive, m_Shared})
            fs::create_directories(d);
        UseSettings("[Server]\nclearTempFiles=True\n[Path]\nTemporaryPath=" + m_Temp +
                    "\nServerAlivePath=" + m_Alive + "\n");
        const uint16_t port = protocol::FreeLoopbackPort();
        ASSERT_EQ(m_Conn.startServer(port), 0);
        m_Client = std::make_unique<Client>(port);
        ASSERT_EQ(m_Conn.waitForClient(), 0);
    }

    void TearDown() override { Settings.Build(false); }

    // The settings of the text, with the scratch folder shared.
    void UseSettings(std::string ini) {
        if (!Settings.IsBuilt())
            Settings.Build(false);
        const std::string shared = "[Server]\nsharedFolders=" + m_Dir.Path() + "\n";
        const size_t server = ini.find("[Server]\n");
        if (server == std::string::npos)
            ini = shared + ini;
        else
            ini.replace(server, 9, shared);
        WriteFile(m_Dir.File("kesto.ini"), ini);
        ASSERT_TRUE(Settings->Load(m_Dir.File("kesto.ini"), false));
    }

    std::future<bool> StartJob(CnvType type) {
        return std::async(std::launch::async, [this, type] {
            ct_Conversion job(m_Conn, type);
            return job.Run();
        });
    }

    bool JobResult(std::future<bool>& job) {
        EXPECT_EQ(job.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        return job.get();
    }

    std::string Ask(const std::string& line) {
        m_Client->SendLine(line);
        return m_Client->ReadLine().value_or("<closed>");
    }

    // The client's side of the socket-mode start: announcement answered, source uploaded.
    void UploadSource(const std::string& name, const std::string& bytes, bool deflate) {
        EXPECT_EQ(Ask("///file_sock_transfer///"), "file_sock_transfer ok");
        EXPECT_EQ(Ask("file_transfer_start"), "file_transfer_start ok");
        EXPECT_EQ(Ask(name), "filename ok");
        EXPECT_EQ(Ask(std::to_string(bytes.size())), "size ok");
        m_Client->SendBlocks(deflate ? protocol::EncodeStream(protocol::Deflate(bytes, 6), 8)
                                     : protocol::EncodeStream(bytes, 0));
        EXPECT_EQ(m_Client->ReadLine(), "file ok");
        EXPECT_EQ(Ask("abc"), "hash ok");
    }

    struct Download {
        std::string name;
        std::string data;
        bool deflated = false;
    };

    // Takes files until the server has no more; answers them, or stops at the first reply that
    // is not part of a download (kept in *stop).
    std::vector<Download> DownloadAll(std::string* stop) {
        std::vector<Download> files;
        for (;;) {
            const std::string reply = Ask("wait_for_file");
            if (reply == "no_more_files") {
                *stop = Ask("no_more_files ok");
                return files;
            }
            if (reply != "file_transfer_start") {
                *stop = reply;
                return files;
            }
            Download file;
            file.name = Ask("file_transfer_start ok");
            const std::string size = Ask("filename ok");
            if (size.find_first_not_of("0123456789") != std::string::npos) {
                *stop = size;
                return files;
            }
            m_Client->SendLine("size ok");
            auto blocks = m_Client->ReadBlocks();
            if (!blocks) {
                *stop = "<no blocks>";
                return files;
            }
            for (const auto& b : *blocks)
                file.deflated = file.deflated || (b[0] & 8);
            file.data = protocol::DecodeBlocks(*blocks).value_or("<undecodable>");
            EXPECT_EQ(file.data.size(), std::stoull(size));
            EXPECT_EQ(Ask("file ok"), "0");
            EXPECT_EQ(Ask("hash ok"), "file_transfer_end");
            files.push_back(file);
        }
    }

    // A socket-mode job whose tasks all succeed: its results, in the order they came.
    std::vector<Download> SucceedingSocketJob(CnvType type, const std::string& announcement,
                                              const std::string& name, const std::string& bytes, bool deflate,
                                              const std::string& target) {
        Driver().succeed = Driver().writeTargets = true;
        auto job = StartJob(type);
        EXPECT_EQ(m_Client->ReadLine(), announcement);
        UploadSource(name, bytes, deflate);
        EXPECT_EQ(Ask(target), "target name ok");
        std::string stop;
        auto files = DownloadAll(&stop);
        EXPECT_EQ(stop, "export finished");
        EXPECT_TRUE(JobResult(job));
        return files;
    }

    std::vector<std::string> JobFolders() const {
        std::vector<std::string> names;
        for (const std::string& name : Entries(m_Temp))
            if (std::regex_match(name, kJobFolderName))
                names.push_back(name);
        return names;
    }

    ScopedLimits m_Limits{10000};
    ScratchDir m_Dir;
    std::string m_Temp, m_Alive, m_Shared;
    ct_Connection m_Conn;
    std::unique_ptr<Client> m_Client;
    // A job folder's hold as a server elsewhere keeps it.
    platform::fs::OwnedLock m_Held;
};

} // namespace

TEST_F(ConversionJobTest, SocketJobSendsEachResultInOrderDeflatedOnlyAfterADeflatedUpload) {
    for (bool deflate : {false, true}) {
        SCOPED_TRACE(deflate ? "deflated" : "plain");
        driverdouble::Reset();
        const auto files = SucceedingSocketJob(7, "export indd and pdf", "book.dwq", TextBytes(100000), deflate, "report");

        // Document, then the PDF made from it, then the coordinates beside the PDF.
        ASSERT_EQ(files.size(), 3u);
        EXPECT_EQ(files[0].name, "report.qxp");
        EXPECT_EQ(files[1].name, "report.pdf");
        EXPECT_EQ(files[2].name, "report.coo");
        ASSERT_EQ(Driver().calls.size(), 3u);
        const auto& calls = Driver().calls;
        EXPECT_EQ(calls[0].sourceKind, FileKind::Dwq);
        EXPECT_EQ(calls[0].targetKind, FileKind::Qxp);
        EXPECT_EQ(calls[1].source, calls[0].target);
        EXPECT_EQ(calls[1].sourceKind, FileKind::Qxp);
        EXPECT_EQ(calls[1].targetKind, FileKind::Pdf);
        EXPECT_EQ(calls[2].targetKind, FileKind::Coo);
        EXPECT_EQ(files[0].data, driverdouble::TargetContent(calls[0].source, FileKind::Qxp));
        EXPECT_EQ(files[2].data, driverdouble::TargetContent(calls[1].source, FileKind::Coo));
        for (const auto& f : files)
            EXPECT_EQ(f.deflated, deflate) << f.name;
        // The job worked in a folder of its own, gone afterwards.
        EXPECT_NE(calls[0].source.find(m_Temp + "/OMRA_"), std::string::npos) << calls[0].source;
        EXPECT_NE(calls[0].source.find("/incoming/book.dwq"), std::string::npos) << calls[0].source;
        EXPECT_TRUE(JobFolders().empty());
    }
}

TEST_F(ConversionJobTest, ExchangeFileAndPdfConvertTheJobsOwnSource) {
    // An uploaded source without extension.
    const auto files = SucceedingSocketJob(4, "export dwx and pdf", "source", "not really a document", false, "report.pdf");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "report.dwq");
    EXPECT_EQ(files[1].name, "report.pdf");
    ASSERT_EQ(Driver().calls.size(), 2u);
    // The PDF comes from the uploaded file itself, never from a neighbour with another extension.
    EXPECT_EQ(Driver().calls[1].source, Driver().calls[0].source);
    EXPECT_EQ(GetFileName(Driver().calls[1].source, true), "source");
    EXPECT_EQ(Driver().calls[0].sourceKind, FileKind::Qxp);
}

TEST_F(ConversionJobTest, PdfFromAnExchangeFileSendsOnlyThePdfAndRemovesItsIntermediateDocument) {
    const auto files = SucceedingSocketJob(1, "export pdf", "a.DWQ", "exchange", true, "report");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, "report.pdf");
    ASSERT_EQ(Driver().calls.size(), 2u);
    const std::string intermediate = Driver().calls[0].target;
    EXPECT_EQ(GetFileName(intermediate, true), "report.qxp");
    EXPECT_EQ(Driver().calls[0].sourceKind, FileKind::Dwq);
    EXPECT_EQ(Driver().calls[1].source, intermediate);
    // Its own fresh folder under the job folders' root, never the host's temporary folder.
    std::string folder, name;
    ASSERT_TRUE(SplitPathAtBackslash(intermediate, folder, name, nullptr, true));
    EXPECT_TRUE(std::regex_match(GetFileName(folder, true), kJobFolderName)) << folder;
    EXPECT_EQ(folder.rfind(m_Temp + "/", 0), 0u) << folder;
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(JobFolders().empty());
}

TEST_F(ConversionJobTest, AResultWhoseTaskFailedIsNeverOffered) {
    Driver().writeButFail = true; // a task that wrote part of its target, then failed
    auto job = StartJob(3);
    EXPECT_EQ(m_Client->ReadLine(), "export dwx");
    UploadSource("a.qxp", "document", false);
    EXPECT_EQ(Ask("report"), "target name ok");
    std::string stop;
    const auto files = DownloadAll(&stop);
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(stop.rfind("File transfer error: non-existing or empty file: " + m_Temp + "/OMRA_", 0), 0u) << stop;
    EXPECT_EQ(stop.substr(stop.size() - 11), "/report.dwq");
    EXPECT_FALSE(JobResult(job));
    m_Conn.writeLine("job over");
    EXPECT_EQ(m_Client->ReadLine(), "job over") << "no export finished after a failed result";
    EXPECT_TRUE(JobFolders().empty());
}

TEST_F(ConversionJobTest, SharedFolderTargetNamesAndTheirPaths) {
    const std::string source = m_Shared + "/doc.qxp";
    WriteFile(source, "document");
    struct Case {
        std::string folder;
        std::string name;
        std::string path1;
        std::string path2;
        size_t separators;
    } cases[] = {
        {m_Shared, "report", "/report.dwq", "/report.pdf", 0},
        {m_Shared + "/", "report.pdf", "/report.dwq", "/report.pdf", 1},
        {m_Shared + "\\/", "report.dwq", "/report.dwq", "/report.pdf", 2},
        {m_Shared, "report.PDF", "/report.PDF.dwq", "/report.PDF.pdf", 0},
        {m_Shared, "my.report", "/my.report.dwq", "/my.report.pdf", 0},
    };
    Driver().succeed = Driver().writeTargets = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driverdouble::Reset();
        Driver().succeed = Driver().writeTargets = true;
        testing::internal::CaptureStderr();
        auto job = StartJob(4);
        EXPECT_EQ(m_Client->ReadLine(), "export dwx and pdf");
        EXPECT_EQ(Ask(source), "filename ok");
        EXPECT_EQ(Ask(c.folder), "target folder ok");
        EXPECT_EQ(Ask(c.name), "target name ok");
        EXPECT_EQ(m_Client->ReadLine(), "export finished");
        EXPECT_TRUE(JobResult(job));
        const std::string log = testing::internal::GetCapturedStderr();
        ASSERT_EQ(Driver().calls.size(), 2u);
        EXPECT_EQ(Driver().calls[0].target, m_Shared + c.path1);
        EXPECT_EQ(Driver().calls[1].target, m_Shared + c.path2);
        EXPECT_EQ(Driver().calls[1].source, source);
        EXPECT_NE(log.find(":\nWARNING: Removed " + std::to_string(c.separators) + " path separators."),
                  std::string::npos);
        const std::string pad1(48 - 7, ' ');
        const std::string target1 = GetFileName(m_Shared + c.path1, true);
        EXPECT_NE(log.find(":\nTask 1/2: SUCCESS\t[doc.qxp" + pad1 + " -> " + target1 +
                           std::string(48 - target1.size(), ' ') + "]"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find(":\nFile mode: shared folder"), std::string::npos);
        EXPECT_NE(log.find(":\nConversion successful"), std::string::npos);
        // Shared-folder jobs make no job folder.
        EXPECT_TRUE(JobFolders().empty());
    }
}

TEST_F(ConversionJobTest, TargetNamesThatCouldLeaveTheFolderAreRefusedInBothModes) {
    const std::string source = m_Shared + "/doc.qxp";
    WriteFile(source, "document");
    const std::vector<std::string> names = {"../x", "/etc/x", "a\\b", "..", ".", "x\r", std::string(256, 'n'), "c:x"};
    for (const std::string& name : names) {
        for (bool socket : {false, true}) {
            SCOPED_TRACE(name + (socket ? " socket" : " shared"));
            auto job = StartJob(3);
            EXPECT_EQ(m_Client->ReadLine(), "export dwx");
            if (socket) {
                UploadSource("doc.qxp", "document", false);
            } else {
                EXPECT_EQ(Ask(source), "filename ok");
                EXPECT_EQ(Ask(m_Shared), "target folder ok");
            }
            EXPECT_EQ(Ask(name), "target file name invalid.");
            EXPECT_FALSE(JobResult(job));
        }
    }
    EXPECT_TRUE(Driver().calls.empty());
    EXPECT_EQ(Entries(m_Shared), std::vector<std::string>{"doc.qxp"});
    EXPECT_TRUE(JobFolders().empty());
    // The longest plain name is taken.
    Driver().succeed = true;
    auto job = StartJob(3);
    EXPECT_EQ(m_Client->ReadLine(), "export dwx");
    EXPECT_EQ(Ask(source), "filename ok");
    EXPECT_EQ(Ask(m_Shared), "target folder ok");
    EXPECT_EQ(Ask(std::string(251, 'n') + ".dwq"), "target name ok");
    EXPECT_EQ(m_Client->ReadLine(), "export finished");
    EXPECT_TRUE(JobResult(job));
}

TEST_F(ConversionJobTest, MissingSourceOrTargetFolderAndEmptyNameEndTheJob) {
    const std::string source = m_Shared + "/doc.qxp";
    WriteFile(source, "document");
    // Each job's lines and what the server answers to each.
    const std::vector<std::pair<std::string, std::string>> dialogues[] = {
        {{m_Shared + "/none.qxp", "Could not open file '" + m_Shared + "/none.qxp'."}},
        // A folder is no source.
        {{m_Shared, "Could not open file '" + m_Shared + "'."}},
        {{source, "filename ok"}, {m_Shared + "/missing//", "Target folder '" + m_Shared + "/missing' does not exist."}},
        // A file is no folder.
        {{source, "filename ok"}, {source, "Target folder '" + source + "' does not exist."}},
        {{source, "filename ok"}, {m_Shared, "target folder ok"}, {"", "target file name missing."}},
    };
    for (const auto& dialogue : dialogues) {
        SCOPED_TRACE(dialogue.back().first);
        auto job = StartJob(3);
        m_Client->ReadLine();
        for (const auto& [line, reply] : dialogue)
            EXPECT_EQ(Ask(line), reply);
        EXPECT_FALSE(JobResult(job));
    }
    EXPECT_TRUE(Driver().calls.empty());
}

TEST_F(ConversionJobTest, AFailedTaskStillEndsTheSharedFolderDialogue) {
    const std::string source = m_Shared + "/doc.qxp";
    WriteFile(source, "document");
    Driver().succeed = true;
    Driver().failTargetsEndingIn = ".dwq";
    testing::internal::CaptureStderr();
    auto job = StartJob(5);
    EXPECT_EQ(m_Client->ReadLine(), "export dwx and pdf and overset");
    EXPECT_EQ(Ask(source), "filename ok");
    EXPECT_EQ(Ask(m_Shared), "target folder ok");
    EXPECT_EQ(Ask("r"), "target name ok");
    EXPECT_EQ(m_Client->ReadLine(), "export finished");
    EXPECT_FALSE(JobResult(job));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Driver().calls.size(), 2u) << "task 2 runs after task 1 failed";
    EXPECT_NE(log.find(":\nTask 1/2: FAILURE\t[doc.qxp"), std::string::npos);
    EXPECT_NE(log.find(":\nTask 2/2: SUCCESS\t[doc.qxp"), std::string::npos);
    EXPECT_NE(log.find(":\nConversion failed"), std::string::npos);
    EXPECT_NE(log.find(":\nClosed all documents: SUCCESS"), std::string::npos);
}

TEST_F(ConversionJobTest, JobFoldersAreFreshPerJobAndStayWithClearTempFilesOff) {
    UseSettings("[Server]\nclearTempFiles=False\n[Path]\nTemporaryPath=" + m_Temp + "/\n");
    std::set<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        auto job = StartJob(0);
        EXPECT_EQ(m_Client->ReadLine(), "export jpgs");
        UploadSource("in.qxp", "doc " + std::to_string(i), false);
        EXPECT_EQ(Ask("pics"), "target name ok");
        std::string stop;
        DownloadAll(&stop);
        EXPECT_EQ(stop.rfind("File transfer error: non-existing or empty file: ", 0), 0u) << stop;
        EXPECT_FALSE(JobResult(job));
    }
    // Three jobs within a second or two: three folders, each with what its client sent.
    const auto folders = JobFolders();
    ASSERT_EQ(folders.size(), 3u);
    for (const std::string& name : folders) {
        EXPECT_EQ(name.size(), 36u);
        seen.insert(name);
        EXPECT_EQ(Entries(m_Temp + "/" + name), (std::vector<std::string>{".kesto.lock", "incoming"}));
        EXPECT_EQ(Entries(m_Temp + "/" + name + "/incoming"), std::vector<std::string>{"in.qxp"});
    }
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(ConversionJobTest, JobFoldersGoToTheSystemTemporaryFolderByDefault) {
    ScratchDir systemTemp;
    const char* saved = std::getenv("TMPDIR");
    const std::string savedText = saved ? saved : "";
    setenv("TMPDIR", systemTemp.Path().c_str(), 1);
    UseSettings("[Server]\nclearTempFiles=False\n");
    ct_Conversion job(m_Conn, 3);
    EXPECT_TRUE(job.CreateTmpFolder());
    const auto names = Entries(systemTemp.Path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(std::regex_match(names[0], kJobFolderName)) << names[0];
    EXPECT_FALSE(job.RemoveTmpFolder()) << "kept with clearTempFiles off";
    UseSettings("[Server]\nclearTempFiles=True\n");
    EXPECT_TRUE(job.RemoveTmpFolder());
    EXPECT_TRUE(Entries(systemTemp.Path()).empty());
    if (saved)
        setenv("TMPDIR", savedText.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST_F(ConversionJobTest, RemovingAJobFolderFollowsNoLinks) {
    const std::string outside = m_Dir.Path() + "/outside";
    fs::create_directories(outside);
    WriteFile(outside + "/keep.txt", "keep");
    ct_Conversion job(m_Conn, 3);
    ASSERT_TRUE(job.CreateTmpFolder());
    const auto folders = JobFolders();
    ASSERT_EQ(folders.size(), 1u);
    const std::string folder = m_Temp + "/" + folders[0];
    fs::create_directory_symlink(outside, folder + "/incoming/link");
    fs::create_symlink(outside + "/keep.txt", folder + "/file-link");
    WriteFile(folder + "/left-by-the-host.bak", "no node for this one");
    EXPECT_TRUE(job.RemoveTmpFolder());
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(ReadFile(outside + "/keep.txt"), "keep");
}

// A starting server removes each job folder that no server holds, clients' documents and all,
// with a line in the log, whatever process id its name carries: process 1, a running process, or
// its own (an earlier process's). A folder that a running server holds stays, also when its name
// carries a process id that names no process here (a server in another pid namespace, such as a
// container sharing the folder). A folder without a lock, which an earlier build made, goes only
// when its process is gone. Names whose check fails, links, files and names the server does not
// make stay.
TEST_F(ConversionJobTest, AStartingServerRemovesTheJobFoldersThatNoServerHolds) {
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    const std::string stamp = "20261208010203";
    const std::string legacyGone = JobFolderName(stamp, gone), legacyRunning = JobFolderName(stamp, ::getppid());
    std::string forged = JobFolderName(stamp, gone);
    forged.back() = forged.back() == 'A' ? 'B' : 'A';
    for (const std::string& name : {legacyGone, legacyRunning, forged, std::string("OMRA_not_made_by_a_server")}) {
        fs::create_directories(m_Temp + "/" + name + "/incoming");
        WriteFile(m_Temp + "/" + name + "/incoming/doc.qxp", "a client's document");
    }
    // Folders with their lock file: held by a running server elsewhere, or by nobody.
    std::map<std::string, long> unheld;
    std::string held;
    for (const long owner : {long(gone), 1L, long(::getppid()), long(::getpid())}) {
        platform::fs::OwnedLock lock;
        const std::string name = MakeJobFolder(m_Temp, lock);
        ASSERT_FALSE(name.empty());
        const std::string renamed = JobFolderName(stamp, owner);
        fs::rename(m_Temp + "/" + name, m_Temp + "/" + renamed);
        fs::create_directories(m_Temp + "/" + renamed + "/incoming");
        WriteFile(m_Temp + "/" + renamed + "/incoming/doc.qxp", "a client's document");
        if (owner == gone && held.empty()) {
            held = renamed;
            m_Held = std::move(lock);
        } else {
            unheld[renamed] = owner;
        }
    }
    WriteFile(m_Shared + "/keep.txt", "keep");
    fs::create_directory_symlink(m_Shared, m_Temp + "/" + JobFolderName(stamp, gone));
    WriteFile(m_Temp + "/" + JobFolderName(stamp, gone), "a file");
    std::vector<std::string> kept = Entries(m_Temp);
    kept.erase(std::remove_if(kept.begin(), kept.end(),
                              [&](const auto& n) { return n == legacyGone || unheld.count(n) != 0; }),
               kept.end());
    ASSERT_EQ(kept.size(), 6u);
    unheld[legacyGone] = gone;

    testing::internal::CaptureStderr();
    const uint16_t port = protocol::FreeLoopbackPort();
    auto server = std::async(std::launch::async, [port] { return DoStartServer(port); });
    Client client(port);
    client.SendLine(ServerPassword);
    EXPECT_EQ(client.ReadLine(), "password ok");
    client.SendLine("haltServer");
    EXPECT_EQ(client.ReadLine(), "halt server");
    EXPECT_TRUE(server.get());
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Entries(m_Temp), kept);
    EXPECT_EQ(ReadFile(m_Temp + "/" + held + "/incoming/doc.qxp"), "a client's document");
    EXPECT_EQ(ReadFile(m_Shared + "/keep.txt"), "keep");
    for (const auto& [name, pid] : unheld)
        EXPECT_NE(log.find("Removed job folder of a server that is gone (process " + std::to_string(pid) +
                           "): " + m_Temp + "/" + name),
                  std::string::npos)
            << log;
    EXPECT_EQ(log.find(legacyRunning), std::string::npos) << log;
    EXPECT_EQ(log.find(held), std::string::npos) << log;
}

// One job stores at most maxUploadMB (512 MiB by default) of its client's file: a larger
// announcement is refused before any data, so a few deflated blocks cannot fill the disk.
TEST_F(ConversionJobTest, AnUploadBeyondTheJobsBoundIsRefusedBeforeItsData) {
    for (const auto& [setting, size] : {std::pair<std::string, uint64_t>{"", (uint64_t(512) << 20) + 1},
                                        {"maxUploadMB=1\n", (uint64_t(1) << 20) + 1}}) {
        UseSettings("[Server]\nclearTempFiles=True\n" + setting + "[Path]\nTemporaryPath=" + m_Temp + "\n");
        auto job = StartJob(3);
        EXPECT_EQ(m_Client->ReadLine(), "export dwx");
        EXPECT_EQ(Ask("///file_sock_transfer///"), "file_sock_transfer ok");
        EXPECT_EQ(Ask("file_transfer_start"), "file_transfer_start ok");
        EXPECT_EQ(Ask("doc.qxp"), "filename ok");
        EXPECT_EQ(Ask(std::to_string(size)), "target file transfer error.") << size;
        EXPECT_FALSE(JobResult(job));
        EXPECT_TRUE(Driver().calls.empty());
    }
    // The bound itself is taken.
    EXPECT_EQ(SucceedingSocketJob(3, "export dwx", "doc.qxp", TextBytes(1 << 20), true, "report").size(), 1u);
}

TEST_F(ConversionJobTest, HeartbeatHoldsOneLineAndIsWrittenOnlyWhenConfigured) {
    const std::string source = m_Shared + "/doc.qxp";
    WriteFile(source, "document");
    auto job = StartJob(3);
    m_Client->ReadLine();
    EXPECT_EQ(Ask(source), "filename ok");
    EXPECT_EQ(Ask(m_Shared), "target folder ok");
    EXPECT_EQ(Ask("r"), "target name ok");
    EXPECT_EQ(m_Client->ReadLine(), "export finished");
    JobResult(job);
    const std::string beat = ReadFile(m_Alive + "/ServerAlive");
    EXPECT_TRUE(std::regex_match(beat, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\r\n")))
        << beat;
    EXPECT_EQ(Entries(m_Alive), std::vector<std::string>{"ServerAlive"}) << "no temporary file is left";

    // Unset (the default is one blank) or empty: no heartbeat anywhere.
    for (const std::string& ini : {std::string("[Path]\n"), std::string("[Path]\nServerAlivePath= \n")}) {
        fs::remove(m_Alive + "/ServerAlive");
        UseSettings(ini);
        const fs::path before = fs::current_path();
        fs::current_path(m_Dir.Path());
        ServerAliveFile();
        fs::current_path(before);
        EXPECT_TRUE(Entries(m_Alive).empty());
        EXPECT_FALSE(fs::exists(m_Dir.Path() + "/ServerAlive"));
        EXPECT_FALSE(fs::exists(m_Dir.Path() + "/ /ServerAlive"));
    }
}

TEST_F(ConversionJobTest, ExtensionTablesAndConversionTypes) {
    EXPECT_EQ(FileTypeByExtension(".DWQ"), 1);
    EXPECT_EQ(FileTypeByExtension(".Qxp"), 0);
    EXPECT_EQ(FileTypeByExtension(".qxd"), 7);
    EXPECT_EQ(FileTypeByExtension(""), 7);
    EXPECT_EQ(ServerXtension(7), "");
    EXPECT_EQ(ServerXtension(-1), "");
    EXPECT_EQ(ClientXtension(0), ".indd");
    // A type outside 0 to 8 leaves the outputs alone and the job says nothing.
    ct_Conversion bad(m_Conn, 9);
    ServerFileType first = 42, second = 43;
    bad.GetFileTypeXtensionsByType(&first, &second);
    EXPECT_EQ(first, 42);
    EXPECT_EQ(second, 43);
    EXPECT_FALSE(bad.Run());
    m_Client->SendLine("ping");
    EXPECT_EQ(m_Conn.readLine(), "ping") << "nothing was sent or read by the job";
}

TEST(IntermediateFile, OnlyAPdfJobFromAnExchangeFileMakesOne) {
    EXPECT_FALSE(IntermediateFile("/x/a.dwq", "r", 4).active);
    EXPECT_FALSE(IntermediateFile("/x/a.qxp", "r", 1).active);
    IntermediateFile inactive("/x/a", "r", 1);
    EXPECT_EQ(inactive.Exists(), -1);
    EXPECT_EQ(inactive.Remove(), -1);

    ScratchDir dir;
    Settings.Build(false);
    WriteFile(dir.File("kesto.ini"), "[Path]\nTemporaryPath=" + dir.Path() + "\n");
    ASSERT_TRUE(Settings->Load(dir.File("kesto.ini"), false));
    std::string folder;
    {
        IntermediateFile file("/x/a.Dwq", "report.pdf", 1);
        ASSERT_TRUE(file.active);
        EXPECT_EQ(GetFileName(file.path, true), "report.qxp");
        EXPECT_EQ(file.Exists(), 1);
        WriteFile(file.path, "document");
        EXPECT_EQ(file.Exists(), 0);
        std::string name;
        ASSERT_TRUE(SplitPathAtBackslash(file.path, folder, name, nullptr, true));
        EXPECT_EQ(Entries(dir.Path()).size(), 2u); // the settings file and the folder
    }
    EXPECT_FALSE(fs::exists(folder)) << "removed with its record";
    Settings.Build(false);
}
