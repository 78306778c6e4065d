// The conversion server's entry into the conversion driver.
#pragma once

#include "Foundation/UString.h"
#include "Plugin/Batch/ConversionJob.h"

namespace FolderUtils {

// Converts one file, the source of the given kind into the target of the given kind, with
// every overwrite switch on and without dialogs; true when the file was converted.
bool ProcessConversion(const ustring& sourcePath, const ustring& targetPath, FileKind sourceKind,
                       FileKind targetKind);

} // namespace FolderUtils
