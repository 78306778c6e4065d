#include "Plugin/Mixer/Progress.h"

#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/HostSuites.h"

XTHandle ProgressDialog = 0;

namespace {

constexpr int32_t kBarItem = 1;

std::string& Title()
{
    static std::string title = "Kesto Processing...";
    return title;
}

bool g_active = false;

// Sets the bar of a dialog and lets the host redraw it.
void DrawBar(XTHandle dialog, int32_t maximum, int32_t value)
{
    if (CallHost<XCF_SetCurrent>(dialog) != XT_OK)
        return;
    CallHost<XZH_Set>(kBarItem, maximum, value);
    CallHost<XCF_DrawDialog>();
    CallHost<XCF_EndCurrent>();
}

} // namespace

const std::string& ProgressTitle()
{
    return Title();
}

bool ProgressActive()
{
    return g_active;
}

ProgressBar::ProgressBar(const std::string& title, uint32_t total)
    : m_total(total), m_scale(total ? 100.0 / total : 0.0)
{
    Title() = title;
    g_active = true;
}

ProgressBar::~ProgressBar()
{
    g_active = false;
    if (ProgressDialog)
        Close();
}

void ProgressBar::Show()
{
    if (ProgressDialog)
        return;
    ProgressDialog = OpenProgressDialog();
    if (!ProgressDialog)
        return;
    SetProgressDialogText(ProgressDialog, Title());
    DrawBar(ProgressDialog, static_cast<int32_t>(m_range), static_cast<int32_t>(m_lastShown));
}

bool ProgressBar::SetPosition(uint32_t position)
{
    // An empty bar takes no position: its current position 1 is already above its total.
    if (position < m_current || position > m_total)
        return false;
    m_current = position;
    const uint32_t percentage = static_cast<uint32_t>(position * m_scale);
    // Positions only grow, so the unsigned difference is above 1 when the bar grew by two
    // steps or more, and at the first position of a bar that starts below one step.
    if (percentage - m_lastShown > 1) {
        m_lastShown = percentage;
        if (ProgressDialog)
            DrawBar(ProgressDialog, static_cast<int32_t>(m_range), static_cast<int32_t>(percentage));
        else
            Show();
    }
    return true;
}

bool ProgressBar::Advance(uint32_t step)
{
    const uint32_t position = m_current + step;
    if (position < m_current)
        return false;
    return SetPosition(position);
}

void ProgressBar::Close()
{
    SetPosition(m_total);
    if (!ProgressDialog)
        return;
    CallHost<XCF_CloseModeless>(ProgressDialog);
    ProgressDialog = 0;
}

void SetProgressDialogValue(XTHandle dialog, int32_t value, int32_t maximum)
{
    if (value <= maximum)
        DrawBar(dialog, maximum, value);
}

void RefreshProgressDialog(XTHandle dialog)
{
    if (CallHost<XCF_SetCurrent>(dialog) != XT_OK)
        return;
    CallHost<XCF_DrawDialog>();
    CallHost<XCF_EndCurrent>();
}
