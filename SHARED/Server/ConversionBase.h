#pragma once
// One client job of the conversion server: the interface of a conversion, and the base that
// owns the job's working nodes and moves files to and from the client with the file handshake.

#include <cstdint>
#include <string>

#include "SHARED/Server/CnvTools/NodeFS.h"

class ct_Connection;

// Conversion types 0 to 8 of the export commands.
using CnvType = int32_t;
// Index into the extension tables of the server's files.
using ServerFileType = int32_t;

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
    ~ct_ConversionBase() override;
    ct_ConversionBase(const ct_ConversionBase&) = delete;
    ct_ConversionBase& operator=(const ct_ConversionBase&) = delete;

    // Sends a local file to the client (deflated at level 1 when compress is set); true when
    // the client took it.
    bool SendFile(const std::string& path, bool compress);
    // Receives one file from the client into folder; the stored file's path, or "" on any
    // failure. compressed tells whether the data arrived deflated.
    std::string ReceiveFile(const std::string& folder, bool& compressed);

    // A name a client may give to a file the server writes: a plain file name, nothing that
    // could lead out of the folder it is put in.
    static bool IsPlainFileName(const std::string& name);

protected:
    ct_Connection& m_Connection;
    CnvType m_eo_CnvType;
    bool m_Overset;
    t_Folder* m_TmpFolder = nullptr;
    t_Folder* m_IncomingFolder = nullptr;
    t_File* m_ReceivedFile = nullptr;
    t_File* m_ResultFile1 = nullptr;
    t_File* m_ResultFile2 = nullptr;
    t_File* m_CoordFile = nullptr;
};

static_assert(sizeof(CnvType) == 4 && sizeof(ServerFileType) == 4, "32-bit conversion types");
