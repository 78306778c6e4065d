// The example documents of text flow and PDF output: "overflow", "scripts", "geometry".
#pragma once

#include <string>
#include <vector>

namespace xthost::doc {

std::vector<std::string> FlowExampleNames();
// The canonical file text of one of them; throws std::out_of_range for another name.
std::string BuildFlowExample(const std::string& name);

// Box uids of "overflow", for the tests that work its lines out by hand.
namespace overflow {
constexpr uint32_t kExact = 1, kOneMore = 3, kChainA = 5, kChainB = 7, kEdge = 9, kRunaround0 = 11,
                   kNoReflow = 13, kLocked = 15, kParagraphs = 17, kShape10 = 19, kShape11 = 21;
}
// "scripts": sample k (from 0) is set in box 2k + 1, whose story is uid 2k + 2.

}  // namespace xthost::doc
