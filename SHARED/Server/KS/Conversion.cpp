#include "SHARED/Server/KS/Conversion.h"

#include <iostream>

#include "Foundation/AllocTracker.h"
#include "Foundation/Log.h"
#include "Plugin/Batch/FolderUtils.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "SHARED/Server/Connection.h"

ct_Conversion::ct_Conversion(ct_Connection& connection, CnvType type) : ct_ConversionBase(connection, type) {}

bool ct_Conversion::closeAllDocuments() { return true; }

bool ct_Conversion::doExport(ServerFileType resultType, const std::string& sourcePath,
                             const std::string& targetPath) {
    static constexpr const char* kWhere = "ct_Conversion::doExport";
    if (resultType < 0 || resultType > 6)
        return false;
    const std::string extension = ServerXtension(resultType);
    LogMessage(KS_LOCATION(kWhere), "Target: " + extension, 2);
    const std::string bar(36, '-');
    std::cerr << "\n" << bar << "\n IN: '" << ct_Connection::Conceal(sourcePath) << "'\nOUT: '"
              << ct_Connection::Conceal(targetPath) << "'\n" << bar << "\n\n";

    // Only an exchange file is taken as one; every other source goes in as a host document.
    const std::string sourceExtension = GetExtension(sourcePath, true);
    const FileKind sourceKind =
        !sourceExtension.empty() && FileTypeByExtension(sourceExtension) == 1 ? FileKind::Dwq : FileKind::Qxp;
    LogMessage(KS_LOCATION(kWhere), std::string("Source is QXP: ") + (sourceKind == FileKind::Qxp ? "YES\t" : "NO\t"), 2);

    FileKind targetKind = FileKind::None;
    bool coordinates = false;
    switch (resultType) {
    case 0:
        targetKind = FileKind::Qxp;
        break;
    case 1:
        targetKind = FileKind::Dwq;
        break;
    case 2:
        targetKind = FileKind::Pdf;
        coordinates = m_eo_CnvType == 7 || m_eo_CnvType == 8;
        break;
    case 3:
    case 4:
        return false;
    default:
        std::cerr << "\nERROR: Unknown file type extension!\n";
        return false;
    }

    LogMessage(KS_LOCATION(kWhere), extension + " - BEFORE FolderUtils::ProcessConversion()", 2);
    bool result = false;
    try {
        result = FolderUtils::ProcessConversion(ToUString(sourcePath), ToUString(targetPath), sourceKind, targetKind);
        std::string coordinatesPath = targetPath;
        if (result && coordinates && ChangeExtension(coordinatesPath, std::string("coo"), false, true)) {
            if (m_TmpFolder && !m_CoordFile)
                m_CoordFile = NewResultNode(coordinatesPath, KS_LOCATION(kWhere));
            result = FolderUtils::ProcessConversion(ToUString(sourcePath), ToUString(coordinatesPath),
                                                    sourceKind, FileKind::Coo);
        }
    } catch (...) {
        LogMessage(KS_LOCATION(kWhere), extension + " - UNKNOWN EXCEPTION on FolderUtils::ProcessConversion()", 2);
    }
    LogMessage(KS_LOCATION(kWhere), extension + " - AFTER FolderUtils::ProcessConversion()", 2);
    return result;
}
