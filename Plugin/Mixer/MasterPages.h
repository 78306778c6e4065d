// Boxes of master pages: switching the view to a master page, the preparation that lets the
// host report which layout boxes derive from which master boxes, the classification of a box,
// the story ids of registered boxes, and the master-page log and summary.
#pragma once

#include <cstdint>
#include <string>

#include "Plugin/Mixer/BoxRecords.h"

enum BoxClass : int32_t {
    BoxClassNone = 0,
    BoxClassLayout = 1,            // neither a master box nor derived from one
    BoxClassLinkedLayout = 2,      // derived from a master box, not automatic text
    BoxClassLinkedAutotext = 3,    // derived from a master box and automatic text
    BoxClassMasterUnused = 4,      // a master box without derived boxes
    BoxClassMasterUsed = 5,        // a master box with derived boxes
};

// The host's view switch: page p >= 1 shows master page p, 0 the layout. Answers the host's
// code.
int32_t xt_viewgotomaster(XTHandle view, int16_t page);

// The level of the setting masterPageLogMode, read once per module load.
int32_t MasterPageLogLevel();
// Forgets the level read, so that the next use reads the setting again (module load).
void ForgetMasterPageLogLevel();

// One master-page log entry (level 4 and above): text, the number when it is not negative, the
// box in hexadecimal; at level 5 followed by the box's story text between two lines of "~".
void LogMasterBox(const ct_Box& record, const std::string& text, int32_t number);

// The class of a box by the registries; for a master box its master spread goes to spread.
BoxClass ClassifyMasterBox(const ct_Box& record, int16_t* spread);

// Gives each registered master box and each of its usages the story id under which the mapper
// finds it. TMapper offers FindBox(id) (0 when none) and LinkIdCount().
template <class TMapper>
void CheckMasterStoryIds(TMapper& mapper);

// "Masterpage Summary:" with the master boxes and, with detail, their layout boxes; with
// storyIds the story-id columns.
std::string MasterPageSummary(bool detail, bool storyIds);

// Pass 0 places the tag "#$_@?&#" at the start of every non-empty master text story, pass 1
// removes it again, from every story that still starts with it even when the host refuses it
// for one; every master text box is registered on the way, and the host reports the layout boxes
// derived from the edited ones. Answers 0 or the first failing host call's code, and names that
// call in `refusedCall` when given.
int32_t PreprocessMasterBoxes(int32_t pass, const char** refusedCall = nullptr);

// The temporary tag of the master stories.
extern const char16_t kMasterTag[8];

namespace MasterPagesDetail {
// One story-id search of CheckMasterStoryIds.
template <class TMapper>
void AssignStoryId(TMapper& mapper, ct_Box& record, const char* invalidText)
{
    for (int32_t i = 0;; ++i) {
        const uint32_t found = static_cast<uint32_t>(mapper.FindBox(i));
        if (found == 0)
            return;
        if (found != record.box)
            continue;
        if (i <= mapper.LinkIdCount()) {
            record.storyId = i;
            return;
        }
        LogMasterBox(record, invalidText, i);
    }
}
} // namespace MasterPagesDetail

template <class TMapper>
void CheckMasterStoryIds(TMapper& mapper)
{
    MasterBoxMap* registry = MasterBoxRegistry.GetIf();
    if (!registry)
        return;
    for (auto& entry : *registry) {
        MasterPagesDetail::AssignStoryId(mapper, entry.second, "ERROR: Invalid story ID for master box");
        for (auto& usage : entry.second.usages)
            MasterPagesDetail::AssignStoryId(mapper, usage.second, "ERROR: Invalid story ID for layout box");
    }
}
