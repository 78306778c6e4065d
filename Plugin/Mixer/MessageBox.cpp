#include "Plugin/Mixer/MessageBox.h"

#include <ostream>

#include "Foundation/Log.h"
#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/HostSuites.h"

namespace {

constexpr int32_t kAlertFlags = 0x40;

} // namespace

int32_t SetAlertText(const std::string& text0, const std::string& text1, const std::string& text2,
                     const std::string& text3)
{
    return CallHost<XCF_SetAlertText>(text0.c_str(), text1.c_str(), text2.c_str(), text3.c_str());
}

int16_t ShowMessageBox(int32_t, const std::string& line1, const std::string& line2,
                       const std::string& line3, const std::string& line4, bool forceMultiDoc,
                       bool forceBatch, bool forceServer)
{
    if (CurrentUnattendedState().Any()) {
        std::ostream& log = GeneralLogStream();
        log << "\nSUPPRESSED MESSAGE BOX:\t" << line1 << '\t' << line2 << '\t' << line3 << '\t' << line4
            << '\n';
        log.flush();
        if (!forceMultiDoc && !forceBatch && !forceServer)
            return 0;
    }
    if (const int32_t result = SetAlertText(line1, line2, line3, line4))
        return static_cast<int16_t>(result);
    if (const int32_t pressed = CallHost<XCF_ShowAlert>(kAlertResource, kAlertFlags, 0))
        return static_cast<int16_t>(pressed);
    return static_cast<int16_t>(SetAlertText("", "", "", ""));
}
