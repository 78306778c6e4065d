// Builds host documents in code for tests and for the checked-in examples. It fills the model
// directly and refuses, on Build(), whatever the document loader refuses.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/documents/Model.h"

namespace xthost::doc {

// Where a new box goes: a layout spread (from 0), a master page (from 1), or nowhere yet
// (a box that will be anchored in a story or become a group member).
struct Place {
    enum Kind { Spread, Master, Loose } kind;
    int32_t index;
    static Place OnSpread(int32_t s) { return {Spread, s}; }
    static Place OnMaster(int32_t p) { return {Master, p}; }
    static Place Loose_() { return {Loose, 0}; }
};

struct BoxOptions {
    int32_t layer = 0;  // 0 = the layout's first layer
    uint8_t shape = 5;
    int32_t angle = 0;
    int32_t inset = 65536;
    int32_t runaround = 65536;
    uint32_t savedWord = 0;
    bool noReflow = false;
    bool autoText = false;
    ImageMode image = ImageMode::None;
    std::vector<Point> outline;
};

class DocBuilder;

// Appends text and objects to one story; End() writes it into the model.
class StoryBuilder {
public:
    StoryBuilder(DocBuilder& doc, Layout& layout, uint32_t story);
    // Sets the format of the current paragraph and of those that follow.
    StoryBuilder& Para(int32_t paraFormat);
    // Appends text; each 0x0D ends a paragraph.
    StoryBuilder& Text(const std::u16string& text, int32_t charFormat);
    // A hidden run: marker U+E000 | kind, then one character per data byte.
    StoryBuilder& Hidden(uint32_t kind, const std::string& data, int32_t charFormat, uint32_t value = 0);
    // The unique-id marker: kind 0x88 with the id as "%8d".
    StoryBuilder& Uniq(int32_t id, int32_t charFormat);
    // Page number kinds 5 (last), 6 (current) and 7 (next).
    StoryBuilder& PageNumber(uint32_t kind, int32_t charFormat);
    // Anchors a loose box at the end of the text.
    StoryBuilder& Anchor(uint32_t box, int32_t charFormat, uint32_t value = 0);
    DocBuilder& End();

private:
    void Append(const std::u16string& text, int32_t charFormat);
    DocBuilder& doc_;
    Layout& layout_;
    Story story_;
    int32_t paraFormat_ = 0;
};

class DocBuilder {
public:
    explicit DocBuilder(bool mac = false);

    // Tables.
    DocBuilder& Font(int16_t id, const std::string& name, uint8_t script = 0);
    doc::Font& LastFont() { return project_->fonts.back(); }
    DocBuilder& Colour(int32_t id, const std::string& name, uint32_t rgb, const std::string& model = "QRGB");
    int32_t CharFormat(const doc::CharFormat& format) { return project_->charFormats.Intern(format); }
    int32_t ParaFormat(const doc::ParaFormat& format) { return project_->paraFormats.Intern(format); }
    DocBuilder& StyleSheet(int32_t id, const std::string& name, int32_t charFormat, int32_t paraFormat);
    // Font 1 "DejaVu Sans" and colour `colour` "Black"; answers a character format in them at
    // `size` (16.16 points), not yet interned.
    doc::CharFormat DejaVuBlack(int32_t colour, int32_t size);
    // The plain start of a text document: font 1 "DejaVu Sans", colour 2 "Black", style sheet 1
    // "Normal" in them at `size` (16.16 points) with the default paragraph format, and the
    // layout "Layout 1" on US Letter with 36 pt margins. Answers the character format.
    int32_t PlainText(int32_t size);

    // Layouts; the calls below act on the last one. A new layout has layer 1 "Default".
    DocBuilder& Layout(const std::string& name, int32_t width, int32_t height, int32_t margin,
                       const std::string& type = "XDOC");
    DocBuilder& Layer(int32_t id, const std::u16string& name, bool visible = true);
    DocBuilder& Section(int32_t pageIndex, int32_t firstNumber);
    // A master page (numbered from 1 in order of creation).
    int32_t Master(const std::string& name, int32_t pages = 1);
    // A layout spread whose pages are based on the given masters (0 = none). Every master
    // item is copied onto its page; copies of automatic text are chained from page to page.
    int32_t Spread(std::initializer_list<int32_t> masters);
    int32_t Page(int32_t master) { return Spread({master}); }

    // Boxes. Each text box gets its own empty story until Story() chains boxes.
    uint32_t TextBox(Place place, const Rect& bounds, const BoxOptions& options = {});
    uint32_t PictureBox(Place place, const Rect& bounds, const BoxOptions& options = {});
    uint32_t Line(Place place, const Rect& bounds, const BoxOptions& options = {});
    uint32_t Group(Place place, std::initializer_list<uint32_t> members);
    DocBuilder& PrivateData(uint32_t box, uint32_t key, const std::vector<uint8_t>& bytes);
    Box& BoxAt(uint32_t uid);

    // Starts the text of the story through the given boxes, in chain order (replacing the
    // stories the boxes had).
    StoryBuilder Story(std::initializer_list<uint32_t> boxes);
    StoryBuilder Story(const std::vector<uint32_t>& boxes);
    // Sets the text of a text box's story, keeping its chain.
    StoryBuilder EditStory(uint32_t box);
    uint32_t StoryOf(uint32_t box);

    DocBuilder& CurrentLayout(int32_t index);

    // Checks the model and hands it over; throws DocumentError.
    std::unique_ptr<Project> Build();
    // The canonical file text.
    std::string Bytes();
    doc::Layout& Current() { return *project_->layouts.back(); }
    Project& Model() { return *project_; }

    int32_t NormalPara() const { return normalPara_; }
    void SetNormalPara(int32_t paraFormat) { normalPara_ = paraFormat; }

private:
    friend class StoryBuilder;
    uint32_t AddBox(Place place, BoxKind kind, const Rect& bounds, const BoxOptions& options);
    uint32_t NewStory(uint32_t box);
    void CopyMasterItems(int32_t spread, int32_t page, int32_t master);
    // A copy of a box (with its group's members) moved right by `shift`; answers its uid.
    uint32_t CopyBox(uint32_t uid, int32_t shift, bool withText);

    std::unique_ptr<Project> project_;
    int32_t normalPara_ = 0;
    uint32_t autotextTail_ = 0;  // the last automatic text copy of the current layout
};

// The checked-in example documents, built in code: "minimal", "two-page-linked", "mapping",
// "masters", "layouts", "mac-origin".
std::vector<std::string> ExampleNames();
std::string ExampleFileName(const std::string& name);  // "minimal.qxp", "mac-origin.qxd"
std::string BuildExample(const std::string& name);

// Damaged documents: the file name, its bytes and the path the loader must name.
struct DamagedExample {
    std::string file;
    std::string bytes;
    std::string path;
};
std::vector<DamagedExample> DamagedExamples();

// The long document of the benchmarks: 200 pages of 10 text boxes, each with a story of two
// paragraphs. With keyed, each box also carries private data 0x08414B42 = {0, 0, page, box}.
std::string LongDocument(bool keyed);

}  // namespace xthost::doc
