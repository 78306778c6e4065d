#include "Plugin/Shell/Swing.h"

#include <cstdio>

#include "Foundation/MsgString.h"

namespace Swing {

MsgString ActionName(int32_t number)
{
    switch (number) {
    case 4: return MsgString(" About Kesto");
    case 5: return MsgString(" Export current document");
    case 6: return MsgString(" Export PDF coordinates");
    case 7: return MsgString(" Export XTags");
    case 8: return MsgString(" Export multiple documents");
    case 10: return MsgString(" Export to Verbant");
    case 15: return MsgString(" Import Verbant file");
    case 16: return MsgString(" Import multiple Verbant files");
    default: {
        char text[32];
        std::snprintf(text, sizeof text, " Action %d", static_cast<int>(number));
        return MsgString(text);
    }
    }
}

MsgString Action::GetName() const
{
    return ActionName(m_number);
}

} // namespace Swing
