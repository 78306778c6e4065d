#include "SHARED/Server/ConversionBase.h"

#include <cstdint>
#include <system_error>

#include <filesystem>

#include "Foundation/AllocTracker.h"
#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Foundation/UString.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "SHARED/Server/Connection.h"
#include "SHARED/Server/ServerDoor.h"
#include "platform/fs/NativeFS.h"
#include "platform/host/Utf8.h"

namespace {

constexpr const char* kFileType = "t_File";
constexpr const char* kFolderType = "t_Folder";

// The byte count a size line announces, when it is a plain decimal number.
bool ParseAnnouncedSize(const std::string& text, uint64_t& size) {
    if (text.empty() || text.size() > 19)
        return false;
    size = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        size = size * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// What one job may store of its client's file: the setting maxUploadMB, or 512 MiB while
// it is 0. Real documents and containers stay far below; a few deflated megabytes on the
// wire cannot grow into gigabytes on disk.
constexpr uint64_t kMiB = uint64_t(1) << 20;
constexpr uint64_t kDefaultUploadCap = 512 * kMiB;

uint64_t JobUploadCap() {
    SettingsFile* settings = Settings.GetIf();
    const int32_t mib = settings ? settings->GetMaxUploadMB() : 0;
    return mib > 0 ? static_cast<uint64_t>(mib) * kMiB : kDefaultUploadCap;
}

template <class Node>
void DeleteNode(Node*& node, const char* typeName) {
    if (node)
        DeleteTracked(node, typeName, KS_LOCATION("ct_ConversionBase::~ct_ConversionBase"));
}

// Client text in a log line: the server's password never shows.
#define JOB_LOG(text, priority) \
    LogMessage(KS_LOCATION("ct_ConversionBase::Run"), ct_Connection::Conceal(text), priority)

const char* SuccessText(bool ok) { return ok ? "SUCCESS" : "FAILURE"; }

// A file name padded with blanks to 48 characters (longer ones stay whole).
std::string Padded(const std::string& path) {
    std::string name = GetFileName(path, true);
    if (name.size() < 48)
        name.append(48 - name.size(), ' ');
    return name;
}

std::string TaskLine(int task, bool twoTasks, bool ok, const std::string& source, const std::string& target) {
    const std::string head = task == 1 ? (twoTasks ? "Task 1/2: " : "Task 1/1: ") : "Task 2/2: ";
    return head + SuccessText(ok) + "\t[" + Padded(source) + " -> " + Padded(target) + "]";
}

struct ResultTypes {
    ServerFileType first;
    ServerFileType second;
};

// The results of each conversion type, and its announcement without the overset words.
constexpr ResultTypes kResultsByType[9] = {
    {3, 7}, {2, 7}, {2, 7}, {1, 7}, {1, 2}, {1, 2}, {0, 7}, {0, 2}, {0, 2},
};

} // namespace

const char* const ServerXtensions[8] = {".qxp", ".dwq", ".pdf", ".jpg", ".log", ".coo", ".tgx", ""};
const char* const ClientXtensions[8] = {".indd", ".dwx", ".pdf", ".jpg", ".log", ".coo", ".tgx", ""};

std::string ServerXtension(ServerFileType type) {
    return type >= 0 && type <= 6 ? ServerXtensions[type] : "";
}

std::string ClientXtension(ServerFileType type) {
    return type >= 0 && type <= 6 ? ClientXtensions[type] : "";
}

ServerFileType FileTypeByExtension(const std::string& extension) {
    for (ServerFileType type = 0; type <= 6; ++type)
        if (CompareStrings(extension, std::string(ServerXtensions[type]), false))
            return type;
    return 7;
}

ct_ConversionBase::ct_ConversionBase(ct_Connection& connection, CnvType type)
    : m_Connection(connection), m_eo_CnvType(type), m_Overset(type == 2 || type == 5 || type == 8) {}

ct_ConversionBase::~ct_ConversionBase() {
    DeleteNode(m_TmpFolder, kFolderType);
    DeleteNode(m_IncomingFolder, kFolderType);
    DeleteNode(m_ReceivedFile, kFileType);
    DeleteNode(m_ResultFile1, kFileType);
    DeleteNode(m_ResultFile2, kFileType);
    DeleteNode(m_CoordFile, kFileType);
}

void ct_ConversionBase::GetFileTypeXtensionsByType(ServerFileType* first, ServerFileType* second) const {
    if (m_eo_CnvType < 0 || m_eo_CnvType > 8) {
        LogMessage(KS_LOCATION("ct_ConversionBase::GetFileTypeXtensionsByType"), "Error: unknown conversion type!", 6);
        return;
    }
    if (first)
        *first = kResultsByType[m_eo_CnvType].first;
    if (second)
        *second = kResultsByType[m_eo_CnvType].second;
}

t_File* ct_ConversionBase::NewResultNode(const std::string& path, const std::string& location) {
    ReportAllocations(location);
    // Made on disk only by its task, so that a task that failed leaves nothing to offer.
    t_File* node = new t_File(GetFileName(path, true), m_TmpFolder, false);
    TrackAlloc(kFileType, node, location);
    ReportAllocations(location);
    return node;
}

bool ct_ConversionBase::Run() {
    JOB_LOG("Start", 4);
    if (m_eo_CnvType < 0 || m_eo_CnvType > 8)
        return false;
    ct_Connection& conn = m_Connection;
    // A client that has gone ends the job at once instead of at the next transfer.
    auto lost = [&conn] { return conn.GetCurrentStatus() < ct_Connection::ec_Connected; };

    // Announcement: what the job will produce, in the client's words.
    ServerFileType first = 7;
    ServerFileType second = 7;
    GetFileTypeXtensionsByType(&first, &second);
    const std::string word1 = ClientXtension(first);
    const std::string word2 = ClientXtension(second);
    std::string announcement = "export";
    if (!word1.empty())
        announcement += " " + word1.substr(1) + (first == 3 ? "s" : "");
    if (!word2.empty())
        announcement += " and " + word2.substr(1);
    if (m_Overset)
        announcement += " and overset";
    if (!conn.writeLine(announcement))
        return false;

    const std::string answer = conn.readLine();
    ServerAliveFile();
    if (lost())
        return false;
    const bool socketMode = answer == "///file_sock_transfer///";
    auto endFailed = [this, socketMode] {
        if (socketMode)
            RemoveTmpFolder();
        return false;
    };

    bool compressed = false;
    std::string sourcePath;
    std::string targetFolder;
    if (socketMode) {
        if (!conn.writeLine("file_sock_transfer ok"))
            return false;
        if (!CreateTmpFolder() || !m_TmpFolder || !m_IncomingFolder) {
            RemoveTmpFolder();
            return false;
        }
        targetFolder = m_TmpFolder->GetFullPath();
        sourcePath = ReceiveFile(m_IncomingFolder->GetFullPath(), compressed);
        if (sourcePath.empty()) {
            RemoveTmpFolder();
            return false;
        }
        ServerAliveFile();
    } else {
        sourcePath = answer;
    }
    JOB_LOG(std::string("File mode: ") +
                (socketMode ? std::string("socket transfer\tCompression: ") + (compressed ? "on" : "off")
                            : std::string("shared folder")),
            7);

    // A client names paths on the server only inside the shared folders; the job then works
    // on where they lead, so that no link changed meanwhile takes it elsewhere. Its refusals
    // are those of a missing file or folder: what lies outside is none of the client's business.
    auto shared = [&](const std::string& path, std::string& resolved, const char* what) {
        const std::string why = SharedPathRefusal(path, resolved);
        if (!why.empty())
            JOB_LOG(std::string("Refused ") + what + " '" + path + "': " + why, 7);
        return why.empty();
    };
    // Only a plain file is a source: a pipe would block the host in its open, and a device or
    // a folder is no document.
    platform::fs::Status sourceStatus;
    std::string sharedSource;
    if (!socketMode && !shared(sourcePath, sharedSource, "source")) {
        conn.writeLine("Could not open file '" + sourcePath + "'.");
        return endFailed();
    }
    const std::string& openedSource = socketMode ? sourcePath : sharedSource;
    const bool sourceThere = platform::fs::GetStatus(openedSource, sourceStatus);
    if (!sourceThere || !sourceStatus.isRegular) {
        conn.writeLine("Could not open file '" + sourcePath + "'.");
        return endFailed();
    }
    if (!socketMode) {
        sourcePath = sharedSource;
        if (!conn.writeLine("filename ok"))
            return endFailed();
        targetFolder = conn.readLine();
        if (lost())
            return endFailed();
    }
    const size_t separators = StripTrailingSeparators(targetFolder);
    JOB_LOG("WARNING: Removed " + std::to_string(separators) + " path separators.", 2);
    std::string sharedTarget;
    if (!socketMode && !shared(targetFolder, sharedTarget, "target folder")) {
        conn.writeLine("Target folder '" + targetFolder + "' does not exist.");
        return endFailed();
    }
    bool isFolder = false;
    if (!PathExists(socketMode ? targetFolder : sharedTarget, &isFolder) || !isFolder) {
        conn.writeLine("Target folder '" + targetFolder + "' does not exist.");
        return endFailed();
    }
    if (!socketMode)
        targetFolder = sharedTarget;
    if (!socketMode && !conn.writeLine("target folder ok"))
        return endFailed();

    const std::string targetName = conn.readLine();
    if (lost())
        return endFailed();
    if (targetName.empty()) {
        conn.writeLine("target file name missing.");
        return endFailed();
    }
    // The results are written beside each other in the target folder: a name that could lead
    // out of it, or replace something else, is refused in either mode.
    if (!IsPlainFileName(targetName)) {
        JOB_LOG("Error: refused target name from client: '" + targetName + "'", 6);
        conn.writeLine("target file name invalid.");
        return endFailed();
    }
    if (!conn.writeLine("target name ok"))
        return endFailed();

    IntermediateFile intermediate(sourcePath, targetName, m_eo_CnvType);
    if (intermediate.active) {
        first = 0;
        second = 2;
    }

    // Target paths: the name keeps an extension it already has, else gets the result's.
    const std::string e1 = ServerXtension(first);
    const std::string e2 = ServerXtension(second);
    const bool twoTasks = !e2.empty();
    const std::string nameExtension = GetExtension(targetName, true);
    const bool knowsExtension = nameExtension == e1 || (twoTasks && nameExtension == e2);
    std::string path1 = JoinPath(targetFolder, targetName);
    std::string path2 = path1;
    if (knowsExtension) {
        ChangeExtension(path1, e1, false, true);
        if (twoTasks)
            ChangeExtension(path2, e2, false, true);
    } else {
        path1 += e1;
        if (twoTasks)
            path2 += e2;
    }
    // The intermediate document is no result: only the PDF made from it goes back.
    if (intermediate.active)
        path1 = intermediate.path;
    else if (socketMode)
        m_ResultFile1 = NewResultNode(path1, KS_LOCATION("ct_ConversionBase::Run"));

    ServerAliveFile();
    JOB_LOG("doExport[BEFORE 1]", 2);
    const bool ok1 = doExport(first, sourcePath, path1);
    JOB_LOG(std::string("doExport[AFTER 1] - Job done: ") + SuccessText(ok1), 3);
    JOB_LOG(TaskLine(1, twoTasks, ok1, sourcePath, path1), 7);

    bool ok2 = true;
    if (twoTasks) {
        JOB_LOG("doExport[BEFORE 2]", 2);
        // Types 4 and 5 make the PDF from the job's own source; the others from task 1's document.
        std::string source2 = path1;
        if (m_eo_CnvType == 4 || m_eo_CnvType == 5) {
            source2 = sourcePath;
            JOB_LOG("switch (m_eo_CnvType) - In: " + source2, 3);
        }
        if (socketMode)
            m_ResultFile2 = NewResultNode(path2, KS_LOCATION("ct_ConversionBase::Run"));
        ServerAliveFile();
        JOB_LOG("In: " + source2 + "\tOut: " + path2, 2);
        ok2 = doExport(second, source2, path2);
        JOB_LOG(std::string("doExport[AFTER 2] - Job done: ") + SuccessText(ok2), 3);
        JOB_LOG(TaskLine(2, true, ok2, source2, path2), 7);
        if (intermediate.active && intermediate.Remove() != 0)
            JOB_LOG("ERROR: Could not remove intermediate file!", 5);
    }

    const bool closed = closeAllDocuments();
    JOB_LOG(std::string("Closed all documents: ") + SuccessText(closed), 5);

    if (socketMode) {
        // A result whose task failed is never offered: its transfer fails as for a missing file.
        struct Offer {
            t_File* node;
            bool ok;
        };
        Offer offers[3] = {{m_ResultFile1, ok1}, {m_ResultFile2, ok2}, {m_CoordFile, ok2}};
        bool firstOffer = true;
        for (const Offer& offer : offers) {
            if (!offer.node)
                continue;
            if (firstOffer || offer.node == m_ResultFile2)
                ServerAliveFile();
            firstOffer = false;
            if (!SendFile(offer.node->GetFullPath(), compressed, offer.ok)) {
                JOB_LOG("File transfer failed: " + offer.node->GetName(), 7);
                return endFailed();
            }
        }
        JOB_LOG("File transfer successful", 7);
        std::string line = conn.readLine();
        if (line != "wait_for_file") {
            conn.writeLine("File Transfer Command unknown: " + line);
            return endFailed();
        }
        conn.writeLine("no_more_files");
        line = conn.readLine();
        if (line != "no_more_files ok") {
            conn.writeLine("File Transfer Command unknown: " + line);
            return endFailed();
        }
    }

    // The results are on the disk before the client hears that they are done. Results the disk
    // may lose are no job done: the client hears no "export finished" (the general log names the
    // folder and why).
    if (!SyncWrittenNames()) {
        JOB_LOG("Conversion failed: the results may not survive a power cut", 7);
        return endFailed();
    }
    conn.writeLine("export finished");
    if (socketMode)
        RemoveTmpFolder();
    ServerAliveFile();
    JOB_LOG(std::string("Conversion ") + (ok1 && ok2 ? "successful" : "failed"), 7);
    return ok1 && ok2;
}

bool ct_ConversionBase::IsPlainFileName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        return false;
    // The host names files in UTF-16: a name that is no UTF-8 would be stored under one it
    // cannot open.
    if (!xthost::IsValidUtf8(name))
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':')
            return false;
    return true;
}

bool ct_ConversionBase::SendFile(const std::string& path, bool compress, bool available) {
    LogMessage(KS_LOCATION("ct_ConversionBase::SendFile"), "Start", 4);
    ct_Connection& conn = m_Connection;
    // Each client answer must be exactly the expected one; anything else ends the transfer.
    auto expect = [&conn](const char* answer) {
        const std::string line = conn.readLine();
        if (line == answer)
            return true;
        conn.writeLine("File Transfer Command unknown: " + line);
        return false;
    };

    if (!expect("wait_for_file") || !conn.writeLine("file_transfer_start"))
        return false;
    if (!expect("file_transfer_start ok") || !conn.writeLine(GetFileName(path, true)))
        return false;
    if (!expect("filename ok"))
        return false;
    std::error_code ec;
    uintmax_t size = 0;
    if (available && std::filesystem::is_regular_file(path, ec))
        size = std::filesystem::file_size(path, ec);
    if (ec || size == 0) {
        conn.writeLine("File transfer error: non-existing or empty file: " + path);
        return false;
    }
    if (!conn.writeLine(std::to_string(size)) || !expect("size ok"))
        return false;
    const bool sent = compress ? conn.SendFileDataCompressed(path, 1) : conn.SendFileData(path);
    if (!sent) {
        conn.writeLine("Result file transfer error.");
        return false;
    }
    if (!expect("file ok") || !conn.writeLine("0"))
        return false;
    if (!expect("hash ok"))
        return false;
    return conn.writeLine("file_transfer_end");
}

std::string ct_ConversionBase::ReceiveFile(const std::string& folder, bool& compressed) {
    LogMessage(KS_LOCATION("ct_ConversionBase::ReceiveFile"), "Start", 4);
    compressed = false;
    ct_Connection& conn = m_Connection;
    auto refuse = [&conn](const std::string& reply) {
        conn.writeLine(reply);
        return std::string();
    };

    const std::string start = conn.readLine();
    if (start != "file_transfer_start")
        return refuse("File Transfer Command unknown: " + start);
    if (!conn.writeLine("file_transfer_start ok"))
        return std::string();

    const std::string name = conn.readLine();
    if (name.empty())
        return refuse("target file name missing.");
    // The name comes from the client: only a plain name stays inside the folder.
    if (!IsPlainFileName(name)) {
        LogMessage(KS_LOCATION("ct_ConversionBase::ReceiveFile"),
                   "Error: refused file name from client: '" + ct_Connection::Conceal(name) + "'", 6);
        return refuse("target file name invalid.");
    }
    if (!conn.writeLine("filename ok"))
        return std::string();

    const std::string sizeText = conn.readLine();
    if (sizeText.empty())
        return refuse("target file size missing.");
    // The announced size bounds what the blocks may inflate to: a line that announces no
    // number is refused like any line out of place.
    uint64_t announced = 0;
    if (!ParseAnnouncedSize(sizeText, announced)) {
        LogMessage(KS_LOCATION("ct_ConversionBase::ReceiveFile"),
                   "Error: refused size line from client: '" + ct_Connection::Conceal(sizeText) + "'", 6);
        return refuse("File Transfer Command unknown: " + sizeText);
    }
    const uint64_t cap = JobUploadCap();
    if (announced > cap) {
        LogMessage(KS_LOCATION("ct_ConversionBase::ReceiveFile"),
                   "Error: refused upload of " + std::to_string(announced) + " bytes: a job takes at most " +
                       std::to_string(cap) + " (setting maxUploadMB)", 6);
        return refuse("target file transfer error.");
    }
    if (!conn.writeLine("size ok"))
        return std::string();

    const std::string path = JoinPath(folder, name);
    if (m_IncomingFolder) {
        DeleteNode(m_ReceivedFile, kFileType);
        ReportAllocations(KS_LOCATION("ct_ConversionBase::ReceiveFile"));
        m_ReceivedFile = new t_File(name, m_IncomingFolder, true);
        TrackAlloc(kFileType, m_ReceivedFile, KS_LOCATION("ct_ConversionBase::ReceiveFile"));
        ReportAllocations(KS_LOCATION("ct_ConversionBase::ReceiveFile"));
    }

    uint64_t received = 0;
    if (!conn.ReceiveFileData(path, compressed, announced, &received))
        return refuse("target file transfer error.");
    // Anything shorter than announced is a truncated upload.
    if (received != announced) {
        LogMessage(KS_LOCATION("ct_ConversionBase::ReceiveFile"),
                   "Failed receive: " + std::to_string(received) + " bytes received, " +
                       std::to_string(announced) + " announced!", 6);
        return refuse("target file transfer error.");
    }
    if (!conn.writeLine("file ok"))
        return std::string();

    const std::string hash = conn.readLine();
    if (hash.empty())
        return refuse("target file hash missing.");
    if (!conn.writeLine("hash ok"))
        return std::string();
    return path;
}
