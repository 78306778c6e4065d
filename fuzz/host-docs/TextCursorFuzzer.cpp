// The import's text cursor on the story of the example "hidden" (analysed, saved and reopened
// once, then reopened fresh for every input): the input is a program of cursor moves, runs,
// marker searches and unique ids. After the flush the story holds nothing but what was written,
// the break characters and one marker per successful search: no old text, no probe or carrier,
// no tag.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "Plugin/Exchange/DWX_Import.h"
#include "Plugin/Filter/Attrib_KS.h"
#include "Plugin/Filter/Digger2.h"
#include "Plugin/Filter/Filter_KS.h"
#include "Plugin/Filter/FixedStory.h"
#include "Plugin/Filter/Hidden.h"
#include "Plugin/Filter/KestoBox.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoException.h"
#include "Plugin/XTension/Activation.h"
#include "platform/host/Host.h"
#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocSlots.h"
#include "platform/host/documents/testing/HiddenExample.h"
#include "tests/Plugin/Filter/FakeRun.h"
#include "fuzz/host-docs/FuzzProgram.h"
#include "tests/Plugin/LinkedModuleHost.h"

namespace {

using kesto_test::FakeRun;

// The string table of the special-character records the input builds.
const std::map<std::u16string, int32_t> kTable = {
    {u"tabulator", 1}, {u"page_number", 2}, {u"Curr", 3}, {u"Last", 4}, {u"Next", 5}, {u"TempIndent", 6}};

struct World {
    std::unique_ptr<xthost::Host> host;
    std::string saved;
    uint32_t storyBox = 0;
    int32_t probes = 0;
};

World& TheWorld()
{
    static World* world = [] {
        auto* w = new World;
        const std::filesystem::path app =
            std::filesystem::temp_directory_path() / ("kesto-cursor-fuzz-" + std::to_string(getpid()));
        std::filesystem::remove_all(app);
        std::filesystem::create_directories(app / "XTensions");
        std::filesystem::current_path(app);
        static std::filesystem::path folder = app;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
            std::filesystem::remove_all(folder, ignored);
        });
        LoadKestoModule();
        w->host = kesto_test::MakeLinkedModuleHost(app);
        if (w->host->Start() != xthost::StartResult::kOk)
            std::abort();
        const std::string source = (app / "hidden.qxp").string();
        std::ofstream(source, std::ios::binary) << xthost::doc::BuildHiddenExample();
        xthost::doc::DocHost& docs = xthost::DocumentsOf(*w->host);
        if (docs.Open(source, 63) != XT_OK)
            std::abort();
        w->storyBox = xthost::doc::HiddenExampleLayout().storyBox;
        {
            Mapper exporter;
            if (exporter.AnaliseDocument() <= 0)
                std::abort();
            auto* exp = dynamic_cast<KestoBoxExp*>(exporter.PrivateBox());
            if (!exp)
                std::abort();
            w->probes = static_cast<int32_t>(exp->PrivateIds().size());
        }
        w->saved = (app / "analysed.qxp").string();
        if (docs.SaveAs(w->saved) != XT_OK || CloseProject(-1, 1) != XT_OK)
            std::abort();
        return w;
    }();
    return *world;
}

using Input = kesto_fuzz::Program;

void Fail(int line)
{
    std::fprintf(stderr, "TextCursorFuzzer: invariant at line %d broken\n", line);
    std::abort();
}
#define Check(condition) ((condition) ? (void)0 : Fail(__LINE__))

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    World& world = TheWorld();
    xthost::doc::DocHost& docs = xthost::DocumentsOf(*world.host);
    world.host->Log().Clear();
    if (docs.Open(world.saved, 63) != XT_OK)
        std::abort();
    {
        Mapper importer;
        Check(importer.Connect());
        XAttribs converter;
        const XTHandle box = docs.BoxHandle(world.storyBox);
        QStoryText before(box);
        const FixedStory segments(before, importer);
        std::vector<Digger::Key> keys;
        int32_t breaks = 0;
        for (const StorySegment& s : segments) {
            if (s.id >= 0)
                keys.emplace_back(s.id, s.direction);
            // An empty break segment only marks where a paragraph run ends; it holds no character.
            breaks += s.id == kBreakSegment && s.end > s.start ? 1 : 0;
        }
        keys.emplace_back(100000, 0);  // a key the story lacks

        Digger cursor(box, importer, converter, segments, false);
        int32_t written = 0, objects = 0;
        Input in{data, size};
        int operations = 0;
        try {
            while (in.More() && ++operations < 64) {
                const uint8_t op = in.Next();
                switch (op % 6) {
                case 0:
                    cursor.Step();
                    break;
                case 1: {
                    const Digger::Key& key = keys[in.Next() % keys.size()];
                    if (cursor.Seek(key, (op & 0x80) != 0))
                        ++objects;
                    break;
                }
                case 2: {
                    RefPtr<FakeRun> run(new FakeRun(KS_DWX::Import::kRunUnicodes));
                    const uint8_t length = in.Next() % 48;
                    std::u16string text;
                    for (uint8_t n = 0; n < length; ++n)
                        text += static_cast<char16_t>(u'a' + n % 26);
                    run->Text(text);
                    written += length;
                    const std::string probe = std::to_string(static_cast<int32_t>(in.Next() % (world.probes + 2)) - 1);
                    run->attributes[u"private"] = std::u16string(probe.begin(), probe.end());
                    if (op & 0x40)
                        run->attributes[u"bold"] = (op & 0x80) ? u"on" : u"off";
                    if (op & 0x20)
                        run->attributes[u"typeface"] = u"DejaVu Sans";
                    cursor.InsertRun(*run, (op & 0x10) != 0);
                    break;
                }
                case 3: {
                    // A tabulator, one with TempIndent, or a page number: Curr, Last, Next.
                    RefPtr<FakeRun> run(new FakeRun(KS_DWX::Import::kRunSpecialChars));
                    run->table = kTable;
                    const uint8_t which = in.Next() % 5;
                    const int32_t name = which < 2 ? 1 : 2;
                    run->Record(name, which == 0 ? -1 : which == 1 ? 6 : which + 1);
                    cursor.InsertRun(*run, false);
                    if (which < 2) {
                        ++written;
                    } else {
                        ++objects;
                    }
                    break;
                }
                case 4: {
                    const int32_t before = cursor.Shift();
                    cursor.InsertHidden(in.Next());
                    Check(cursor.Shift() == before + 9);
                    ++objects;
                    break;
                }
                default: {
                    RefPtr<FakeRun> run(new FakeRun(KS_DWX::Import::kRunMultibytes));
                    run->units.push_back({'x'});
                    const int32_t before = cursor.Shift();
                    cursor.InsertRun(*run, false);
                    Check(cursor.Shift() == before);
                    break;
                }
                }
            }
            cursor.Flush();
        } catch (const KestoException&) {
            std::abort();
        }

        // Only what was written, the breaks and the placed markers remain.
        QStoryText after(box);
        const int32_t length = static_cast<int32_t>(after.ConstructionLength());
        Check(length == cursor.TextEnd() + cursor.Shift() - static_cast<int32_t>(cursor.CutQueue().Removed()));
        std::u16string chars(static_cast<size_t>(length), u'\0');
        if (length > 0)
            Check(CallHost<XTY_Chars>(after.GetTextHandle(true), 0, length, &chars[0]) == XT_OK);
        int32_t foundObjects = 0, foundBreaks = 0, foundText = 0;
        QStoryCursor runs(after);
        while (runs.HasMore()) {
            const int32_t start = runs.GetPosition(), end = runs.NextBoundary();
            const uint32_t kind = runs.GetRunKind();
            Check(runs.GetCharAttributes().tag == 0 && !IsModuleTagKind(kind));
            if (kind != 0) {
                if (runs.GetParaStart() == start)
                    ++foundObjects;
            } else {
                for (int32_t at = start; at < end; ++at) {
                    const char16_t c = chars[static_cast<size_t>(at)];
                    if (c == 11 || c == 12 || c == 13)
                        ++foundBreaks;
                    else
                        Check((c >= u'a' && c <= u'z') || c == u'\t' || c == 0x1E);
                    foundText += !(c == 11 || c == 12 || c == 13);
                }
            }
            runs.Next();
        }
        Check(foundBreaks == breaks);
        Check(foundText == written);
        Check(foundObjects == objects);
    }
    if (CloseProject(-1, 1) != XT_OK)
        std::abort();
    return 0;
}
