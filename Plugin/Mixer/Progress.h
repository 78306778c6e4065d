// The progress bar of long operations, in the module's progress dialog: a count of work units
// mapped onto 100 steps, redrawn only when the shown percentage moves by more than one step.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/xtapi/XTAPI.h"

// The handle of the open progress dialog, 0 while it is closed.
extern XTHandle ProgressDialog;
// The title the dialog shows when it opens next ("Kesto Processing..." until a bar sets one).
const std::string& ProgressTitle();
// True while a ProgressBar exists.
bool ProgressActive();

class ProgressBar {
public:
    ProgressBar(const std::string& title, uint32_t total);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Opens the dialog when none is open, with the title and the bar at the last percentage.
    void Show();
    // Takes positions from the current one up to the total; false (nothing changes) for others.
    bool SetPosition(uint32_t position);
    bool Advance(uint32_t step);
    // Moves to the total and closes the dialog.
    void Close();

    uint32_t Position() const { return m_current; }
    uint32_t LastShown() const { return m_lastShown; }

private:
    uint32_t m_current = 1;
    uint32_t m_total = 0;
    uint32_t m_range = 100;
    uint32_t m_lastShown = 1;
    double m_scale = 0.0;
};

// Sets another dialog's bar to (maximum, value) and redraws it, when value is not above maximum.
void SetProgressDialogValue(XTHandle dialog, int32_t value, int32_t maximum);
// Redraws a dialog.
void RefreshProgressDialog(XTHandle dialog);
