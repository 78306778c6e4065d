#pragma once
// The module's conversion job: each task is one file handed to the conversion driver.

#include "SHARED/Server/ConversionBase.h"

class ct_Conversion : public ct_ConversionBase {
public:
    ct_Conversion(ct_Connection& connection, CnvType type);

    bool doExport(ServerFileType resultType, const std::string& sourcePath,
                  const std::string& targetPath) override;
    // The driver's commands close what they open: nothing is left to close here.
    bool closeAllDocuments() override;
};
