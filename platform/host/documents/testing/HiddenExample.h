// The example "hidden": a story full of hidden content, built in code.
#pragma once

#include <cstdint>
#include <string>

namespace xthost::doc {

// Positions in the example's story that tests look at.
struct HiddenLayout {
    int32_t nestedOuterOpen, nestedInnerOpen, nestedInnerClose, nestedOuterClose;
    int32_t siblingOpen[3], siblingClose[3];  // ( ( ) ( ) ): [0] is the outer pair
    int32_t unmatchedClose;
    int32_t uniq, badUniq;
    uint32_t storyBox;  // the uid of the box holding the story
};

std::string BuildHiddenExample();
HiddenLayout HiddenExampleLayout();

}  // namespace xthost::doc
