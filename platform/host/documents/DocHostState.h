// The session state behind DocHost's handles and the wrapper every document call passes;
// shared by the files that implement DocHost's calls.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>
#include <unistd.h>

#include "platform/host/documents/DocHost.h"

namespace xthost::doc {

inline std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

inline std::string AbsolutePath(const std::string& path)
{
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string out(real);
        std::free(real);
        return out;
    }
    return path;
}

constexpr uint8_t kNeedsSave = 0x01;

inline std::string HexHandle(int32_t handle)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(handle));
    return text;
}

// PD-4's answers without a walk per look-up, for one scope of a layout: the walk order and,
// per key and value, the walk positions of the boxes holding that value. Built on the first
// look-up, kept by PD-3, built anew after the layout's structure changed.
struct DocHost::PrivateIndex {
    bool built = false;
    uint64_t structure = 0;                          // the layout's count it was built at
    std::vector<uint32_t> order;                     // walk position -> box uid
    std::unordered_map<uint32_t, size_t> positions;  // box uid -> its first walk position
    std::map<std::pair<uint32_t, std::vector<uint8_t>>, std::set<size_t>> holders;
};

// Session state of one open layout: the host "document" with its one view.
struct DocHost::Layoutx {
    Projectx* project = nullptr;
    Layout* layout = nullptr;
    int16_t docId = 0;
    int32_t doc = 0, view = 0;
    int32_t master = 0;  // master page shown, 0 = the layout
    int32_t spread = 0;  // current layout spread (from 0)
    uint32_t currentBox = 0;
    std::set<uint32_t> dirtyBoxes;   // master text boxes whose story changed while shown
    std::set<uint32_t> dirtyMasters;  // their masters (from 0)
    std::vector<int32_t> spreads;     // handles of the layout spreads
    std::vector<int32_t> entries;     // handles of the kind-1 list: two reserved, then masters
    std::unordered_map<uint32_t, int32_t> boxes, texts;  // uid -> handle
    PrivateIndex privateIndex[2];     // the layout spreads, the masters
};

struct DocHost::Projectx {
    std::unique_ptr<Project> project;
    std::string path;  // empty while untitled
    uint8_t changeFlags = 0;
    int32_t handle = 0;
    std::vector<std::unique_ptr<Layoutx>> layouts;
    Layoutx& Current() { return *layouts.at(static_cast<size_t>(project->currentLayout)); }
};

struct DocHost::Ref {
    Tag tag;
    Projectx* project = nullptr;
    Layoutx* layout = nullptr;
    uint32_t id = 0;   // box or story uid, layout spread (from 0) or kind-1 entry (from 1)
    int32_t kind = 0;  // spreads: 0 layout, 1 kind-1 entry
};

struct DocHost::FileData {
    int fd = -1;
    ~FileData()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

template <class Body>
int32_t DocHost::Call(const char* role, bool mutates, const std::function<std::string()>& args, Body body)
{
    if (inject_)
        if (const auto code = inject_(role))
            return *code;
    if (mutates)
        generation_ = NextGeneration();
    ++depth_;
    const int32_t result = body();
    --depth_;
    if (mutates)
        generation_ = NextGeneration();
#ifndef NDEBUG
    // Debug builds check every invariant after each change: a broken one is a host fault.
    if (mutates && result == HostErr::Ok)
        for (auto& px : projects_) {
            try {
                CheckProject(*px->project);
            } catch (const DocumentError& e) {
                std::fprintf(stderr, "%s broke the document: %s\n", role, e.what());
                std::abort();
            }
        }
#endif
    if (mutates || traceReads_)
        Note(args() + (result != HostErr::Ok ? " -> " + std::to_string(result) : ""));
    // Callbacks reach the module after the call that caused them, so a hook that calls the
    // host finds the documents whole.
    if (depth_ == 0 && !pending_.empty()) {
        std::vector<DocEvent> events;
        events.swap(pending_);
        for (const DocEvent& event : events) {
            if (sink_)
                sink_(event);
            else
                events_.push_back(event);
        }
    }
    return result;
}

}  // namespace xthost::doc
