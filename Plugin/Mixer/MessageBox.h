// Message boxes of the module: shown by the host, or only logged while a run is unattended.
#pragma once

#include <cstdint>
#include <string>

// The module's alert resource, the one every message box shows.
constexpr int32_t kAlertResource = 22100;

// Shows the module's alert 22100 with four lines; answers the pressed item, or 0 when nothing
// was shown (resId is not used; callers pass 22100). While the run is unattended in any way
// (multi-document, batch, server) the box is written to the general log as
// "\nSUPPRESSED MESSAGE BOX:\t" with its lines joined by "\t"; it is then still shown when any
// of the three force flags is set, else the answer is 0.
int16_t ShowMessageBox(int32_t resId, const std::string& line1, const std::string& line2,
                       const std::string& line3, const std::string& line4, bool forceMultiDoc,
                       bool forceBatch, bool forceServer);

// Hands the host the texts "^0" to "^3" of the module's alerts (empty texts clear them);
// answers the host's code.
int32_t SetAlertText(const std::string& text0, const std::string& text1, const std::string& text2,
                     const std::string& text3);
