// The document of the formatting-sample benchmark and what a container stores of it:
//     SampleBoxesBench document N FILE   writes a document with N distinct run formats: one
//                                        story, one paragraph format, paragraphs of 100 runs
//                                        that differ in size, face, character set and
//                                        script and language
//     SampleBoxesBench stored FILE.dwq   prints the container's size, the size of the stored
//                                        host document, the characters of its private working
//                                        box that holds the samples
// bench/samples/run.sh runs the export and the import with xthost and Kesto.so.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Plugin/Exchange/DWX_Import.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/DocBuilder.h"

using namespace xthost::doc;

namespace {

constexpr int32_t pt(int32_t points) { return points * 65536; }

std::string Document(int formats)
{
    DocBuilder b;
    const int32_t body = b.PlainText(pt(12));
    const CharFormat base = *b.Model().charFormats.Find(body);
    b.Page(0);
    const uint32_t box = b.TextBox(Place::OnSpread(0), Rect{pt(36), pt(36), pt(756), pt(576)});
    StoryBuilder story = b.Story({box});
    story.Para(b.NormalPara());
    for (int k = 0; k < formats; ++k) {
        CharFormat c = base;
        // Sizes a sixteenth of a point apart, and the fields the Book does not carry.
        c.size = pt(8) + k * pt(1) / 16;
        c.face = static_cast<uint16_t>((k % 3) == 1 ? 0x20 : (k % 3) == 2 ? 0x01 : 0);
        c.high = static_cast<uint8_t>(k % 2);
        c.scriptLang = static_cast<uint32_t>(k % 5);
        const std::string word = "w" + std::to_string(k) + ((k + 1) % 100 == 0 && k + 1 < formats ? "\r" : " ");
        story.Text(std::u16string(word.begin(), word.end()), b.CharFormat(c));
    }
    story.End();
    return b.Bytes();
}

class Collector : public KS_DWX::KSOutStream {
public:
    void write(const void* data, uint32_t count) override { bytes.append(static_cast<const char*>(data), count); }
    std::string bytes;
};

int Stored(const std::string& path)
{
    using namespace KS_DWX::Import;
    RefPtr<IBook> book = OpenImportBook(path);
    if (!book)
        return 1;
    Collector stored;
    book->LoadQXP(0, &stored);
    const auto project = ParseDocument(stored.bytes);
    size_t samples = 0;
    for (const auto& layout : project->layouts)
        for (const auto& [uid, box] : layout->boxes) {
            const auto link = box.privateData.find(0x08414B42);
            if (link == box.privateData.end() || link->second.size() != 4 || link->second[3] != 0xFE ||
                link->second[0] != 0xFF)
                continue;
            for (const auto& [storyUid, story] : layout->stories)
                for (uint32_t chained : story.boxes)
                    if (chained == uid)
                        samples += story.text.size();
        }
    std::printf("container %ju bytes, stored document %zu bytes, private box %zu characters (two a sample)\n",
                static_cast<uintmax_t>(std::filesystem::file_size(path)), stored.bytes.size(), samples);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "document" && argc == 4)
        return WriteFileAtomically(argv[3], Document(std::atoi(argv[2]))) ? 0 : 1;
    if (mode == "stored" && argc == 3)
        return Stored(argv[2]);
    std::fprintf(stderr, "usage: SampleBoxesBench document N FILE | stored FILE.dwq\n");
    return 2;
}
