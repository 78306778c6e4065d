// The whole import, as the conversion driver runs it, of a translation of the example "export"
// (exported and translated once) that the input damages: element entries removed from their
// folder's table, entries sharing a sub-folder, text streams of another type, run records naming
// ids the Book does not hold. After each input every story of the imported document is either its
// source text or its whole translation: no text was cut that no run replaced.
//
// An input is up to eight damages of up to five bytes each. The corpus holds inputs of that whole
// length: libFuzzer starts its length limit at the corpus's longest input and raises it only
// after some hundred runs that find nothing new, which at about one import a second never come.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "Plugin/XTension/Activation.h"
#include "examples/pseudo-translate/PseudoTranslate.h"
#include "platform/host/Host.h"
#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocSlots.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/DocBuilder.h"
#include "fuzz/host-docs/FuzzProgram.h"
#include "tests/Plugin/LinkedModuleHost.h"
#include "tests/Plugin/UnattendedRuns.h"
#include "examples/damage/DamagedContainer.h"

namespace fs = std::filesystem;
using namespace kesto_damage;
using namespace kesto_test;

namespace {

// The text of every story by layout and uid.
using Texts = std::map<std::pair<size_t, uint32_t>, std::u16string>;

Texts StoryTexts(const std::string& path)
{
    Texts texts;
    std::unique_ptr<xthost::doc::Project> project = xthost::doc::ReadDocumentFile(path);
    for (size_t l = 0; l < project->layouts.size(); ++l)
        for (const auto& [uid, story] : project->layouts[l]->stories)
            texts[{l, uid}] = story.text.str();
    return texts;
}

struct World {
    std::unique_ptr<xthost::Host> host;
    fs::path app;
    std::string translated;
    Texts source;
    Texts translation;
    CodeStreams code;
    std::vector<std::string> tables;  // the prefixes of every folder, root first
    std::vector<std::string> contents;  // text streams of runs
    std::vector<std::string> records;  // the streams of run-record fields that name strings
};

void Abort(const char* what)
{
    std::fprintf(stderr, "ImportFuzzer: %s\n", what);
    std::abort();
}

World& TheWorld()
{
    static World* world = [] {
        auto* w = new World;
        w->app = fs::temp_directory_path() / ("kesto-import-fuzz-" + std::to_string(getpid()));
        fs::remove_all(w->app);
        fs::create_directories(w->app / "XTensions");
        std::ofstream(w->app / "XTensions" / "kesto.ini") << "[Options]\nSetUniqueID=True\n";
        static fs::path folder = w->app;
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        });
        LoadKestoModule();
        w->host = MakeLinkedModuleHost(w->app);
        if (w->host->Start() != xthost::StartResult::kOk)
            Abort("no host");
        const std::string source = (w->app / "export.qxp").string();
        std::ofstream(source, std::ios::binary) << xthost::doc::BuildExample("export");
        w->source = StoryTexts(source);
        if (xthost::DocumentsOf(*w->host).Open(source, 63) != XT_OK)
            Abort("no document");
        const std::string dwq = (w->app / "export.dwq").string();
        ExportFrontDocumentUnattended(source, dwq);
        w->translated = (w->app / "export-translated.dwq").string();
        std::string error;
        if (!PseudoTranslateFile(dwq, w->translated, error))
            Abort(error.c_str());
        const std::string imported = (w->app / "translation.qxp").string();
        ImportUnattended(w->translated, imported);
        w->translation = StoryTexts(imported);
        CloseProject(-1, 1);

        w->code = ReadCodeFile(w->translated);
        std::vector<std::string> pending{""};
        while (!pending.empty()) {
            const std::string prefix = pending.back();
            pending.pop_back();
            w->tables.push_back(prefix);
            for (const FolderEntry& e : w->code.Table(prefix))
                pending.push_back(prefix + '\x01' + CodeStreams::Hex(e.number));
        }
        for (const auto& stream : w->code.streams) {
            const std::string& name = stream.first;
            const auto endsWith = [&name](const std::string& tail) {
                return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
            };
            if (endsWith("\x01!1:Unicodes"))
                w->contents.push_back(name);
            if (endsWith("\x01m_NameRef") || endsWith("\x01m_ObjectTypeRef") || endsWith("\x01m_RefTypeRef"))
                w->records.push_back(name);
        }
        return w;
    }();
    return *world;
}

using Input = kesto_fuzz::Program;

bool IsElement(const std::string& name)
{
    return name.size() > 3 && name.compare(name.size() - 3, 3, "[]/") == 0;
}

// An element whose loss the import can see: one that has a later sibling, or any paragraph or
// story (the document tells how many of those it holds).
bool VisiblyMissing(const std::vector<FolderEntry>& table, size_t k)
{
    if (!IsElement(table[k].name))
        return false;
    if (table[k].name == "Paragraph[]/" || table[k].name == "Story[]/")
        return true;
    for (const FolderEntry& e : table)
        if (e.name == table[k].name && e.index > table[k].index)
            return true;
    return false;
}

// Applies one damage the input names; false when it names none.
bool Damage(World& world, CodeStreams& code, Input& in)
{
    const uint8_t op = in.Next();
    const size_t pick = size_t(in.Next()) << 8 | in.Next();
    switch (op % 4) {
    case 0: {  // an element entry removed from its folder's table
        const std::string& prefix = world.tables[pick % world.tables.size()];
        std::vector<FolderEntry> table = code.Table(prefix);
        if (table.empty())
            return false;
        const size_t k = in.Next() % table.size();
        if (!VisiblyMissing(table, k))
            return false;
        table.erase(table.begin() + static_cast<std::ptrdiff_t>(k));
        code.SetTable(prefix, table);
        return true;
    }
    case 1: {  // two entries of a table sharing one sub-folder
        const std::string& prefix = world.tables[pick % world.tables.size()];
        std::vector<FolderEntry> table = code.Table(prefix);
        if (table.size() < 2)
            return false;
        const size_t a = in.Next() % table.size(), b = in.Next() % table.size();
        if (a == b)
            return false;
        table[a].number = table[b].number;
        code.SetTable(prefix, table);
        return true;
    }
    case 2: {  // a run's text stream of another type
        if (world.contents.empty())
            return false;
        Bytes& bytes = code.streams.at(world.contents[pick % world.contents.size()]);
        const uint8_t type = in.Next();
        if (bytes.size() < 2 || type == 5)
            return false;
        bytes[0] = type;
        bytes[1] = 0;
        return true;
    }
    default: {  // a run record naming a string id the Book does not hold
        if (world.records.empty())
            return false;
        Bytes& bytes = code.streams.at(world.records[pick % world.records.size()]);
        if (bytes.size() < 6)
            return false;
        const size_t value = 2 + 4 * (in.Next() % ((bytes.size() - 2) / 4));
        PutU32(bytes, value, 100000u + in.Next());
        return true;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    World& world = TheWorld();
    world.host->Log().Clear();
    CodeStreams code = world.code;
    Input in{data, size};
    bool damaged = false;
    for (int n = 0; in.More() && n < 8; ++n)
        damaged |= Damage(world, code, in);
    if (!damaged)
        return 0;
    const fs::path dwq = world.app / "damaged.dwq";
    const fs::path target = world.app / "damaged.qxp";
    std::error_code ignored;
    fs::remove(target, ignored);
    WriteCopy(world.translated, dwq.string(), &code);
    ImportUnattended(dwq.string(), target.string());
    CloseProject(-1, 1);
    if (!fs::exists(target))
        return 0;
    const Texts imported = StoryTexts(target.string());
    if (imported.size() != world.source.size())
        Abort("the imported document lost a story");
    for (const auto& [key, text] : imported) {
        if (text != world.source.at(key) && text != world.translation.at(key)) {
            std::fprintf(stderr, "ImportFuzzer: story %u of layout %zu is neither source nor translation\n", key.second,
                         key.first);
            std::abort();
        }
    }
    return 0;
}
