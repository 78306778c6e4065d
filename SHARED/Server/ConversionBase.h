#pragma once
// One client job of the conversion server: the interface of a conversion, and the base that
// carries the job's dialogue with the client, owns the job's working nodes and moves files to
// and from the client with the file handshake.

#include <cstdint>
#include <string>

#include "SHARED/Server/CnvTools/NodeFS.h"
#include "platform/fs/Sweep.h"

class ct_Connection;

// Conversion types 0 to 8 of the export commands.
using CnvType = int32_t;
// Index into the extension tables of the server's files: 0 host document, 1 exchange file,
// 2 PDF, 3 JPEG images, 4 log, 5 coordinates, 6 XTags, 7 none.
using ServerFileType = int32_t;

// The extension of each file type as the server names its files, and as the client is told.
extern const char* const ServerXtensions[8];
extern const char* const ClientXtensions[8];
// A table's entry; the empty text for an index outside 0 to 6.
std::string ServerXtension(ServerFileType type);
std::string ClientXtension(ServerFileType type);
// The file type of an extension given with its dot (case ignored); 7 when none matches.
ServerFileType FileTypeByExtension(const std::string& extension);

// The folder under which job folders are made: the setting TemporaryPath, or the system's
// temporary folder while that setting is at its default.
std::string JobFolderRoot();
// Makes a new folder "OMRA_" + YYYYMMDDhhmmss + "_" + 16 capital letters under root. The
// folder is created exclusively: a name that exists already is never used, another one is
// drawn. Answers the folder's name, or "" when none could be made; lock receives the hold on
// it that keeps other servers' sweeps off it while the job uses it.
std::string MakeJobFolder(const std::string& root, platform::fs::OwnedLock& lock);
// A job folder's name for the stamp, made by the process owner: 8 random letters, then 8
// that carry the owner's process id and a check of it against the stamp.
std::string JobFolderName(const std::string& stamp, long owner);
// The process id a job folder's name carries; 0 for a name that is not a job folder's or
// whose check does not hold.
long JobFolderOwner(const std::string& name);
// Removes every job folder under root that no running server holds, with a log line each, so
// that a killed server does not leave its clients' documents behind for good. A server holds
// its job folders (a lock file inside) for as long as it uses them, wherever it runs: another
// server in a container sharing the folder keeps its folders. Only folders of the job folders'
// name whose check holds are touched; links, files and every other name stay. Called as the
// server starts, before its first client. Nothing is removed while clearTempFiles is off.
void SweepJobFolders(const std::string& root);

// Rewrites the heartbeat file "ServerAlive" in the folder of the setting ServerAlivePath: one
// line, the local date and time, ending in CR LF. The line is written to a temporary file that
// is then renamed over the heartbeat, so a watcher never reads a part of it. Nothing happens
// while the setting is empty or at its default, and a failure leaves no trace.
void ServerAliveFile();

// The document a PDF job makes from an exchange file before it makes the PDF. It lives in a
// folder of its own, made like a job folder, so that no other file can be in its way, and it
// goes with that folder when the record is removed or destroyed.
class IntermediateFile {
public:
    // Active only for type 1 from an exchange file; then the folder is made at once and path
    // names the document after the target name with the extension ".qxp" (empty when the
    // folder could not be made).
    IntermediateFile(const std::string& sourcePath, const std::string& targetName, CnvType type);
    ~IntermediateFile();
    IntermediateFile(const IntermediateFile&) = delete;
    IntermediateFile& operator=(const IntermediateFile&) = delete;

    // -1 while inactive; else 0 when the document exists, 1 when it does not.
    int Exists() const;
    // -1 while inactive; else removes the document with its folder: 0 when both are gone.
    int Remove();

    std::string path;
    bool active = false;

private:
    std::string m_Folder;
    platform::fs::OwnedLock m_Lock;
};

class IConversion {
public:
    virtual ~IConversion() = default;
    virtual bool doExport(ServerFileType resultType, const std::string& sourcePath,
                          const std::string& targetPath) = 0;
    virtual bool closeAllDocuments() = 0;
};

class ct_ConversionBase : public IConversion {
public:
    ct_ConversionBase(ct_Connection& connection, CnvType type);
    // Deletes the nodes the job made; nothing on disk is touched.
    ~ct_ConversionBase() override;
    ct_ConversionBase(const ct_ConversionBase&) = delete;
    ct_ConversionBase& operator=(const ct_ConversionBase&) = delete;

    // The whole job dialogue; true only when it reached its end and every task succeeded.
    bool Run();

    // The first and second result types of the job's conversion type (non-null outputs only).
    void GetFileTypeXtensionsByType(ServerFileType* first, ServerFileType* second) const;

    // Sends a local file to the client (deflated at level 1 when compress is set); true when
    // the client took it. A file that is not available (its task failed) is answered like a
    // missing one.
    bool SendFile(const std::string& path, bool compress, bool available = true);
    // Receives one file from the client into folder; the stored file's path, or "" on any
    // failure. compressed tells whether the data arrived deflated.
    std::string ReceiveFile(const std::string& folder, bool& compressed);

    // Makes the job folder with its subfolder "incoming"; true when both exist as folders.
    bool CreateTmpFolder();
    // Removes the job folder's whole tree (links are removed, never followed); false without a
    // job folder, with the setting clearTempFiles off, or when the removal failed (logged).
    bool RemoveTmpFolder();

    // A name a client may give to a file the server writes: a plain file name, nothing that
    // could lead out of the folder it is put in.
    static bool IsPlainFileName(const std::string& name);

protected:
    // A node for a result file of the job in the job folder; nothing is made on disk.
    t_File* NewResultNode(const std::string& path, const std::string& location);

    ct_Connection& m_Connection;
    CnvType m_eo_CnvType;
    bool m_Overset;
    t_Folder* m_TmpFolder = nullptr;
    // Held while the job folder is there, so that no other server's sweep takes it.
    platform::fs::OwnedLock m_TmpFolderLock;
    t_Folder* m_IncomingFolder = nullptr;
    t_File* m_ReceivedFile = nullptr;
    t_File* m_ResultFile1 = nullptr;
    t_File* m_ResultFile2 = nullptr;
    t_File* m_CoordFile = nullptr;
};

static_assert(sizeof(CnvType) == 4 && sizeof(ServerFileType) == 4, "32-bit conversion types");
