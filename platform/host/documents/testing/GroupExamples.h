// The examples "groups" (product texts in groups, nested groups, groups on a used and on an
// unused master page, an anchored group, a chain from a group member into a loose box) and
// "current-layout" (three layouts, the middle one current, the last one without a story),
// built in code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xthost::doc {

std::vector<std::string> GroupExampleNames();
// The canonical file text of one of them; throws std::out_of_range for another name.
std::string BuildGroupExample(const std::string& name);

// Box uids of "groups" that tests look at.
struct GroupsLayout {
    std::vector<uint32_t> walk[2];    // every item of layout spreads 1 and 2 in walk order
    std::vector<uint32_t> masterWalk; // every item of the unused master page B in walk order
    uint32_t chainStart, chainEnd;    // the story from a group member into a loose box
    uint32_t anchoredGroup;
};
GroupsLayout GroupsExampleLayout();

}  // namespace xthost::doc
