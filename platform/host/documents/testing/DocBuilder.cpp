#include "platform/host/documents/testing/DocBuilder.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "platform/host/documents/DocumentFile.h"

namespace xthost::doc {

// ---- StoryBuilder -------------------------------------------------------------------------

StoryBuilder::StoryBuilder(DocBuilder& doc, doc::Layout& layout, uint32_t story)
    : doc_(doc), layout_(layout), story_(layout.stories.at(story)), paraFormat_(doc.NormalPara())
{
    story_.text.clear();
    story_.charRuns.clear();
    story_.objects.clear();
    story_.paras.assign(1, paraFormat_);
}

StoryBuilder& StoryBuilder::Para(int32_t paraFormat)
{
    paraFormat_ = paraFormat;
    story_.paras.back() = paraFormat;
    return *this;
}

void StoryBuilder::Append(const std::u16string& text, int32_t charFormat)
{
    if (text.empty())
        return;
    story_.text += text;
    if (!story_.charRuns.empty() && story_.charRuns.back().format == charFormat)
        story_.charRuns.back().length += static_cast<int32_t>(text.size());
    else
        story_.charRuns.push_back(Run{charFormat, static_cast<int32_t>(text.size())});
    for (char16_t c : text)
        if (c == u'\r')
            story_.paras.push_back(paraFormat_);
}

StoryBuilder& StoryBuilder::Text(const std::u16string& text, int32_t charFormat)
{
    Append(text, charFormat);
    return *this;
}

StoryBuilder& StoryBuilder::Hidden(uint32_t kind, const std::string& data, int32_t charFormat, uint32_t value)
{
    std::u16string run(1, static_cast<char16_t>(0xE000 | (kind & 0xFF)));
    for (unsigned char c : data)
        run += static_cast<char16_t>(c);
    story_.objects.push_back(ObjectRun{static_cast<int32_t>(story_.text.size()),
                                       static_cast<int32_t>(run.size()), kind, 0, value});
    Append(run, charFormat);
    return *this;
}

StoryBuilder& StoryBuilder::Uniq(int32_t id, int32_t charFormat)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%8d", id);
    return Hidden(0x88, digits, charFormat);
}

StoryBuilder& StoryBuilder::PageNumber(uint32_t kind, int32_t charFormat)
{
    if (kind < 5 || kind > 7)
        throw std::invalid_argument("page number kinds are 5, 6 and 7");
    story_.objects.push_back(ObjectRun{static_cast<int32_t>(story_.text.size()), 1, kind, 0, 0});
    Append(std::u16string(1, static_cast<char16_t>(kind - 4)), charFormat);
    return *this;
}

StoryBuilder& StoryBuilder::Anchor(uint32_t box, int32_t charFormat, uint32_t value)
{
    story_.objects.push_back(ObjectRun{static_cast<int32_t>(story_.text.size()), 1, 1, box, value});
    Append(std::u16string(1, char16_t{0xFFFC}), charFormat);
    return *this;
}

DocBuilder& StoryBuilder::End()
{
    layout_.stories.at(story_.uid) = story_;
    return doc_;
}

// ---- DocBuilder ---------------------------------------------------------------------------

DocBuilder::DocBuilder(bool mac) : project_(std::make_unique<Project>())
{
    project_->mac = mac;
}

DocBuilder& DocBuilder::Font(int16_t id, const std::string& name, uint8_t script)
{
    doc::Font f;
    f.id = id;
    f.name = name;
    f.script = script;
    project_->fonts.push_back(f);
    return *this;
}

DocBuilder& DocBuilder::Colour(int32_t id, const std::string& name, uint32_t rgb, const std::string& model)
{
    project_->colours.push_back(doc::Colour{id, name, model, rgb});
    return *this;
}

DocBuilder& DocBuilder::StyleSheet(int32_t id, const std::string& name, int32_t charFormat, int32_t paraFormat)
{
    project_->styleSheets.push_back(doc::StyleSheet{id, name, charFormat, paraFormat});
    if (name == "Normal")
        normalPara_ = paraFormat;
    return *this;
}

doc::CharFormat DocBuilder::DejaVuBlack(int32_t colour, int32_t size)
{
    Font(1, "DejaVu Sans").Colour(colour, "Black", 0);
    doc::CharFormat format;
    format.font = 1;
    format.size = size;
    format.colour = colour;
    return format;
}

int32_t DocBuilder::PlainText(int32_t size)
{
    constexpr int32_t kPoint = 65536;
    const int32_t charFormat = CharFormat(DejaVuBlack(2, size));
    StyleSheet(1, "Normal", charFormat, ParaFormat(doc::ParaFormat{}));
    Layout("Layout 1", 612 * kPoint, 792 * kPoint, 36 * kPoint);
    return charFormat;
}

DocBuilder& DocBuilder::Layout(const std::string& name, int32_t width, int32_t height, int32_t margin,
                               const std::string& type)
{
    auto l = std::make_unique<doc::Layout>();
    l->name = name;
    l->type = type;
    l->pageWidth = width;
    l->pageHeight = height;
    l->margins = Rect{margin, margin, margin, margin};
    l->layers.push_back(doc::Layer{1, u"Default", true});
    project_->layouts.push_back(std::move(l));
    autotextTail_ = 0;
    return *this;
}

DocBuilder& DocBuilder::Layer(int32_t id, const std::u16string& name, bool visible)
{
    Current().layers.push_back(doc::Layer{id, name, visible});
    return *this;
}

DocBuilder& DocBuilder::Section(int32_t pageIndex, int32_t firstNumber)
{
    Current().sections.emplace_back(pageIndex, firstNumber);
    return *this;
}

int32_t DocBuilder::Master(const std::string& name, int32_t pages)
{
    Current().masters.push_back(MasterSpread{name, pages, {}});
    return static_cast<int32_t>(Current().masters.size());
}

int32_t DocBuilder::Spread(std::initializer_list<int32_t> masters)
{
    doc::Layout& l = Current();
    l.spreads.push_back(LayoutSpread{masters, {}});
    const auto spread = static_cast<int32_t>(l.spreads.size() - 1);
    int32_t page = 0;
    for (int32_t master : masters)
        CopyMasterItems(spread, page++, master);
    return spread;
}

void DocBuilder::CopyMasterItems(int32_t spread, int32_t page, int32_t master)
{
    doc::Layout& l = Current();
    if (master < 1 || static_cast<size_t>(master) > l.masters.size())
        return;
    const int32_t masterPages = l.masters[master - 1].pages;
    const int32_t masterPage = page % masterPages;
    const int32_t shift = (page - masterPage) * l.pageWidth;
    const std::vector<uint32_t> items = l.masters[master - 1].items;
    for (uint32_t uid : items) {
        const Box& source = l.boxes.at(uid);
        const int64_t cx = (int64_t{source.bounds.left} + source.bounds.right) / 2;
        if (cx / l.pageWidth != masterPage)
            continue;
        const bool autotext = source.autoText;
        const uint32_t copied = CopyBox(uid, shift, !autotext);
        Box& copy = l.boxes.at(copied);
        copy.derivedFrom = uid;
        copy.autotext = autotext;
        l.spreads[spread].items.push_back(copied);
        if (!autotext)
            continue;
        if (autotextTail_ != 0) {
            // Automatic text continues the chain of the previous page.
            l.stories.at(l.boxes.at(autotextTail_).story).boxes.push_back(copied);
            copy.story = l.boxes.at(autotextTail_).story;
        } else {
            NewStory(copied);
        }
        autotextTail_ = copied;
    }
}

uint32_t DocBuilder::CopyBox(uint32_t uid, int32_t shift, bool withText)
{
    doc::Layout& l = Current();
    Box copy = l.boxes.at(uid);
    copy.uid = project_->NewUid();
    copy.bounds.left += shift;
    copy.bounds.right += shift;
    for (auto& pt : copy.outline)
        pt.h += shift;
    copy.autoText = false;
    copy.privateData.clear();
    // A group's members are copied with it, each one a box of its own.
    for (uint32_t& member : copy.members)
        member = CopyBox(member, shift, true);
    l.boxes.emplace(copy.uid, copy);
    if (copy.kind == BoxKind::Text && withText) {
        // Text other than automatic text is copied once, when the page is made.
        const doc::Story from = l.stories.at(l.boxes.at(uid).story);
        doc::Story& s = l.stories.at(NewStory(copy.uid));
        s.text = from.text;
        s.charRuns = from.charRuns;
        s.paras = from.paras;
        s.objects = from.objects;
    }
    return copy.uid;
}

uint32_t DocBuilder::NewStory(uint32_t box)
{
    doc::Layout& l = Current();
    doc::Story s;
    s.uid = project_->NewUid();
    s.boxes = {box};
    s.paras = {normalPara_};
    l.stories.emplace(s.uid, s);
    l.boxes.at(box).story = s.uid;
    return s.uid;
}

uint32_t DocBuilder::AddBox(Place place, BoxKind kind, const Rect& bounds, const BoxOptions& o)
{
    doc::Layout& l = Current();
    Box box;
    box.uid = project_->NewUid();
    box.kind = kind;
    box.bounds = bounds;
    box.layer = o.layer ? o.layer : l.layers.front().id;
    box.shape = o.shape;
    box.angle = o.angle;
    box.inset = o.inset;
    box.runaround = o.runaround;
    box.savedWord = o.savedWord;
    box.noReflow = o.noReflow;
    box.autoText = o.autoText;
    box.image = o.image;
    box.outline = o.outline;
    l.boxes.emplace(box.uid, box);
    if (place.kind == Place::Spread)
        l.spreads.at(place.index).items.push_back(box.uid);
    else if (place.kind == Place::Master)
        l.masters.at(place.index - 1).items.push_back(box.uid);
    if (kind == BoxKind::Text)
        NewStory(box.uid);
    return box.uid;
}

uint32_t DocBuilder::TextBox(Place place, const Rect& bounds, const BoxOptions& options)
{
    return AddBox(place, BoxKind::Text, bounds, options);
}
uint32_t DocBuilder::PictureBox(Place place, const Rect& bounds, const BoxOptions& options)
{
    return AddBox(place, BoxKind::Picture, bounds, options);
}
uint32_t DocBuilder::Line(Place place, const Rect& bounds, const BoxOptions& options)
{
    return AddBox(place, BoxKind::Line, bounds, options);
}

uint32_t DocBuilder::Group(Place place, std::initializer_list<uint32_t> members)
{
    Rect bounds = BoxAt(*members.begin()).bounds;
    for (uint32_t m : members) {
        const Rect& r = BoxAt(m).bounds;
        bounds = Rect{std::min(bounds.top, r.top), std::min(bounds.left, r.left),
                      std::max(bounds.bottom, r.bottom), std::max(bounds.right, r.right)};
    }
    const uint32_t group = AddBox(place, BoxKind::Group, bounds, {});
    BoxAt(group).members = members;
    return group;
}

DocBuilder& DocBuilder::PrivateData(uint32_t box, uint32_t key, const std::vector<uint8_t>& bytes)
{
    BoxAt(box).privateData[key] = bytes;
    return *this;
}

Box& DocBuilder::BoxAt(uint32_t uid) { return Current().boxes.at(uid); }

uint32_t DocBuilder::StoryOf(uint32_t box) { return BoxAt(box).story; }

StoryBuilder DocBuilder::Story(std::initializer_list<uint32_t> boxes)
{
    return Story(std::vector<uint32_t>(boxes));
}

StoryBuilder DocBuilder::Story(const std::vector<uint32_t>& boxes)
{
    doc::Layout& l = Current();
    const uint32_t story = StoryOf(*boxes.begin());
    std::vector<uint32_t> chain;
    for (uint32_t box : boxes) {
        const uint32_t own = StoryOf(box);
        if (own != story) {
            // The box leaves its own story for the chain.
            auto& other = l.stories.at(own).boxes;
            other.erase(std::find(other.begin(), other.end(), box));
            if (other.empty())
                l.stories.erase(own);
        }
        BoxAt(box).story = story;
        chain.push_back(box);
    }
    l.stories.at(story).boxes = chain;
    return StoryBuilder(*this, l, story);
}

StoryBuilder DocBuilder::EditStory(uint32_t box)
{
    return StoryBuilder(*this, Current(), StoryOf(box));
}

DocBuilder& DocBuilder::CurrentLayout(int32_t index)
{
    project_->currentLayout = index;
    return *this;
}

std::unique_ptr<Project> DocBuilder::Build()
{
    CheckProject(*project_);
    auto built = std::move(project_);
    project_ = std::make_unique<Project>();
    return built;
}

std::string DocBuilder::Bytes() { return PrintDocument(*project_); }

}  // namespace xthost::doc
