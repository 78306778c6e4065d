#include "SHARED/Server/ConversionBase.h"

#include <cstdint>
#include <limits>
#include <system_error>

#include <filesystem>

#include "Foundation/AllocTracker.h"
#include "Foundation/Log.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "SHARED/Server/Connection.h"

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

template <class Node>
void DeleteNode(Node*& node, const char* typeName) {
    if (node)
        DeleteTracked(node, typeName, KS_LOCATION("ct_ConversionBase::~ct_ConversionBase"));
}

} // namespace

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

bool ct_ConversionBase::IsPlainFileName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':')
            return false;
    return true;
}

bool ct_ConversionBase::SendFile(const std::string& path, bool compress) {
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
    const uintmax_t size = std::filesystem::is_regular_file(path, ec) ? std::filesystem::file_size(path, ec) : 0;
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
                   "Error: refused file name from client: '" + name + "'", 6);
        return refuse("target file name invalid.");
    }
    if (!conn.writeLine("filename ok"))
        return std::string();

    const std::string sizeText = conn.readLine();
    if (sizeText.empty())
        return refuse("target file size missing.");
    uint64_t announced = 0;
    const bool sizeKnown = ParseAnnouncedSize(sizeText, announced);
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
    const uint64_t cap = sizeKnown ? announced : std::numeric_limits<uint64_t>::max();
    if (!conn.ReceiveFileData(path, compressed, cap, &received))
        return refuse("target file transfer error.");
    // A number announced the size: anything shorter is a truncated upload.
    if (sizeKnown && received != announced) {
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
