// Message boxes of the module: shown by the host, or only logged while a run is unattended.
#pragma once

#include <cstdint>
#include <string>

// Shows the module alert resId (22100 or 22200) with four lines; answers the pressed item, or 0
// when nothing was shown. A force flag shows the box even in its kind of unattended run
// (multi-document, batch, server).
int16_t ShowMessageBox(int32_t resId, const std::string& line1, const std::string& line2,
                       const std::string& line3, const std::string& line4, bool forceMultiDoc,
                       bool forceBatch, bool forceServer);
