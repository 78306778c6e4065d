#include "examples/damage/DamagedContainer.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "Container/Storage/CodeFile.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/LZStreams.h"
#include "Container/Storage/MemFile.h"
#include "Container/Storage/OLEStorage.h"
#include "Container/Storage/PropertySet.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/StoryEdit.h"

namespace kesto_damage {

namespace {

struct StreamNames : IdentifierReceiver {
    std::vector<std::string> names;
    bool operator()(const char* name, uint32_t) override
    {
        names.emplace_back(name ? name : "");
        return true;
    }
};

Bytes ReadAll(InStream& stream)
{
    Bytes bytes;
    uint8_t block[4096];
    for (uint32_t got; (got = stream.GetData(block, sizeof block)) > 0;)
        bytes.insert(bytes.end(), block, block + got);
    return bytes;
}

const char16_t kTextAndCode[] = u"VerbantTextAndCode";

// Copies `in` into `out`, leaving out the item at the path `dropped`.
void CopyStorage(OLEStorage& in, OLEStorage& out, const std::u16string& at, const std::vector<std::u16string>& edited,
                 const CodeStreams* code, const RawEdit& edit, bool compress, const std::u16string& dropped = {})
{
    OLEStorageEnumerator items = in.CreateEnumerator();
    while (items.Next()) {
        const std::u16string name = items.ItemName();
        const std::u16string path = at.empty() ? name : at + u"/" + name;
        if (path == dropped)
            continue;
        if (code && items.ItemIsStorage() && path == kTextAndCode) {
            OLEStorage target(out, name.c_str(), CD_CreateWrite);
            std::unique_ptr<CF_OutStorage> file = CreateCodeFile(target, compress);
            for (const auto& [stream, bytes] : code->streams) {
                std::unique_ptr<CF_OutStream> copy = file->CreateStream(stream.c_str(), 0, cf_Automatic);
                if (!bytes.empty())
                    copy->PutData(bytes.data(), static_cast<uint32_t>(bytes.size()));
                copy->Finish();
            }
            file->Finish();
            continue;
        }
        bool descend = false;
        for (const std::u16string& e : edited)
            descend |= e.compare(0, path.size(), path) == 0 && (e.size() == path.size() || e[path.size()] == u'/');
        if (!descend) {
            in.CopyItem(name.c_str(), out, nullptr, false);
        } else if (items.ItemIsStorage()) {
            OLEStorage source(in, name.c_str(), CD_OpenRead);
            OLEStorage target(out, name.c_str(), CD_CreateWrite);
            CopyStorage(source, target, path, edited, code, edit, compress, dropped);
        } else {
            OLEStream source(in, name.c_str(), CD_OpenRead);
            Bytes bytes = ReadAll(source);
            edit(path, bytes);
            OLEStream target(out, name.c_str(), CD_CreateWrite);
            if (!bytes.empty())
                target.PutData(bytes.data(), static_cast<uint32_t>(bytes.size()));
        }
    }
}

// Writes `out` from `in` without the item at `path`.
void WriteCopyWithout(const std::string& in, const std::string& out, const std::u16string& path)
{
    OLEStorage source(in.c_str(), CD_OpenRead);
    OLEStorage target(out.c_str(), CD_CreateWrite);
    CopyStorage(source, target, u"", {path}, nullptr, nullptr, true, path);
    target.Flush();
}

// Flips one bit of the directory entry of `stream` in the code-file stream: 13-byte entries
// {id, tag, compression, chunk-table offset} from the offset in the header, then the names.
void FlipDescriptorBit(Bytes& code, const std::string& stream, size_t byte, int bit)
{
    const auto need = [&](uint64_t end) {
        if (end > code.size())
            throw std::runtime_error("the code file's directory ends early");
    };
    need(8);
    const uint32_t count = U32(code, 0), directory = U32(code, 4);
    uint64_t at = uint64_t(directory) + 13 * uint64_t(count);
    need(at + 4);
    const uint32_t names = U32(code, at);
    at += 4;
    uint32_t id = UINT32_MAX;
    for (uint32_t i = 0; i < names; ++i) {
        need(at + 2);
        const size_t length = code[at] | code[at + 1] << 8;
        need(at + 6 + length);
        if (std::string(code.begin() + at + 2, code.begin() + at + 2 + length) == stream)
            id = U32(code, at + 2 + length);
        at += 6 + length;
    }
    // An undamaged copy must not pass for a damaged one.
    if (id == UINT32_MAX)
        throw std::runtime_error("the code file's directory names no stream " + stream);
    bool flipped = false;
    for (uint32_t i = 0; i < count; ++i) {
        if (U32(code, directory + 13 * i) == id) {
            code[directory + 13 * i + byte] ^= static_cast<uint8_t>(1u << bit);
            flipped = true;
        }
    }
    if (!flipped)
        throw std::runtime_error("the code file's directory has no entry for " + stream);
}


// The folders named `name` below the stories of the first document, depth first.
std::vector<std::string> FindInStories(const CodeStreams& code, const std::string& name)
{
    std::vector<std::string> found;
    code.Find(code.Folder(kStories), name, found);
    if (found.empty())
        throw std::runtime_error("the stories hold no " + name);
    return found;
}

// The folder that holds the folder or stream of the flattened name.
std::string Parent(const std::string& name)
{
    return name.substr(0, name.rfind('\x01'));
}

// The folder whose prefix is `prefix`, as its parent's prefix and its entry there.
std::pair<std::string, FolderEntry> ParentEntry(const CodeStreams& code, const std::string& prefix)
{
    const std::string parent = Parent(prefix);
    for (const FolderEntry& e : code.Table(parent))
        if (parent + '\x01' + CodeStreams::Hex(e.number) == prefix)
            return {parent, e};
    throw std::runtime_error("a folder its parent does not list");
}

// Takes the element folder at `prefix` out of its parent's table: its content is left to no reader.
void Unlist(CodeStreams& code, const std::string& prefix)
{
    const auto [parent, entry] = ParentEntry(code, prefix);
    const uint32_t number = entry.number;
    auto table = code.Table(parent);
    table.erase(std::remove_if(table.begin(), table.end(), [number](const FolderEntry& e) { return e.number == number; }),
                table.end());
    code.SetTable(parent, table);
}

// Copies every stream of the folder at `from`, its sub-folders' included, to the folder at `to`.
void CopyFolder(CodeStreams& code, const std::string& from, const std::string& to)
{
    std::map<std::string, Bytes> added;
    for (const auto& [name, bytes] : code.streams)
        if (name.compare(0, from.size(), from) == 0 && name.size() > from.size() &&
            (name[from.size()] == '\x01' || name[from.size()] == '\x02'))
            added[to + name.substr(from.size())] = bytes;
    code.streams.insert(added.begin(), added.end());
}

// Renames the entry of the folder at `prefix` in its parent's table.
void Rename(CodeStreams& code, const std::string& prefix, const std::string& name)
{
    const std::string parent = ParentEntry(code, prefix).first;
    auto table = code.Table(parent);
    for (FolderEntry& e : table)
        if (parent + '\x01' + CodeStreams::Hex(e.number) == prefix)
            e.name = name;
    code.SetTable(parent, table);
}

} // namespace

void CopyElement(CodeStreams& code, const std::string& prefix, int32_t index)
{
    const auto [parent, entry] = ParentEntry(code, prefix);
    auto table = code.Table(parent);
    uint32_t number = 0;
    for (FolderEntry& e : table) {
        number = std::max(number, e.number + 1);
        if (e.name == entry.name && e.index >= index)
            ++e.index;
    }
    CopyFolder(code, prefix, parent + '\x01' + CodeStreams::Hex(number));
    table.push_back({entry.name, index, number});
    code.SetTable(parent, table);
}

std::vector<std::string> FieldsOf(const CodeStreams& code, const std::string& bundle)
{
    std::vector<std::string> fields;
    for (const auto& [name, bytes] : code.streams)
        if (name.size() > bundle.size() + 1 && name.compare(0, bundle.size() + 1, bundle + '\x01') == 0 &&
            name.find_first_of("\x01\x02", bundle.size() + 1) == std::string::npos)
            fields.push_back(name);
    return fields;
}

namespace {

// The first story's first text run with characters, by its stream.
std::string FirstCharacters(const CodeStreams& code)
{
    std::vector<std::string> runs;
    code.Find(code.Folder(StoryPath(0)), "TextRun[]/", runs);
    for (const std::string& run : runs)
        if (code.streams.count(run + "\x01!1:Unicodes"))
            return run + "\x01!1:Unicodes";
    throw std::runtime_error("the first story has no text run with characters");
}

// The stored document's stream of the container at `path`, as it is stored (compressed).
Bytes StoredStream(const std::string& path)
{
    OLEStorage root(path.c_str(), CD_OpenRead);
    OLEStorage privateData(root, u"VerbantPluginPrivateData", CD_OpenRead);
    OLEStorage templates(privateData, u"KestoExportTemplates", CD_OpenRead);
    OLEStream stored(templates, u"0", CD_OpenRead);
    return ReadAll(stored);
}

Bytes Inflate(const Bytes& bytes)
{
    MemFile in;
    if (!bytes.empty())
        in.PutData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    in.Seek(0, SO_Begin);
    std::unique_ptr<LZ_InStream> inflating = LZ_InStream::New(in, 15);
    return ReadAll(*inflating);
}

Bytes Deflate(const std::string& text)
{
    MemFile out;
    std::unique_ptr<LZ_OutStream> deflating = LZ_OutStream::New(out, -1, 15, 8);
    deflating->PutData(text.data(), static_cast<uint32_t>(text.size()));
    deflating->Finish();
    return Bytes(out.Data(), out.Data() + out.Size());
}

// The stored document with its first story that holds more than one paragraph and whose last
// paragraph is plain text one paragraph shorter: as if the document had been edited after
// its export.
void ShortenStoredStory(Bytes& stored)
{
    const Bytes plain = Inflate(stored);
    std::unique_ptr<xthost::doc::Project> project = xthost::doc::ParseDocument(std::string(plain.begin(), plain.end()));
    for (const auto& layout : project->layouts)
        for (auto& [uid, story] : layout->stories) {
            const std::u16string text = story.text.substr(0);
            const size_t end = text.rfind(u'\r');
            if (end == std::u16string::npos || end + 1 == text.size() ||
                text.find_first_of(u"\ufffc", end) != std::u16string::npos ||
                xthost::doc::CutsObject(story, static_cast<int32_t>(end), static_cast<int32_t>(text.size())))
                continue;
            if (xthost::doc::DeleteText(story, static_cast<int32_t>(end), static_cast<int32_t>(text.size())) != 0)
                continue;
            stored = Deflate(xthost::doc::PrintDocument(*project));
            return;
        }
    throw std::runtime_error("the stored document has no story whose last paragraph can go");
}

// The stored document without the export's working boxes (the boxes its links number -1 and
// -2, with their stories): as a tool that tidies a document away leaves it, or, with
// `keepLast`, in every layout but the last, as exports of earlier builds stored them.
void RemoveWorkBoxes(Bytes& stored, bool keepLast)
{
    const Bytes plain = Inflate(stored);
    std::unique_ptr<xthost::doc::Project> project = xthost::doc::ParseDocument(std::string(plain.begin(), plain.end()));
    if (!project || (keepLast && project->layouts.size() < 2))
        throw std::runtime_error("the stored document has no layout before its last");
    const std::vector<uint8_t> ids[] = {{0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFE}};
    size_t removed = 0;
    for (size_t n = 0; n + (keepLast ? 1 : 0) < project->layouts.size(); ++n) {
        xthost::doc::Layout& layout = *project->layouts[n];
        for (auto box = layout.boxes.begin(); box != layout.boxes.end();) {
            const auto link = box->second.privateData.find(0x08414B42);
            if (link == box->second.privateData.end() || (link->second != ids[0] && link->second != ids[1])) {
                ++box;
                continue;
            }
            const uint32_t uid = box->first;
            for (auto story = layout.stories.begin(); story != layout.stories.end();)
                story = std::count(story->second.boxes.begin(), story->second.boxes.end(), uid) ? layout.stories.erase(story)
                                                                                                : std::next(story);
            for (xthost::doc::LayoutSpread& spread : layout.spreads)
                spread.items.erase(std::remove(spread.items.begin(), spread.items.end(), uid), spread.items.end());
            box = layout.boxes.erase(box);
            ++removed;
        }
        layout.Index();
    }
    if (removed == 0)
        throw std::runtime_error("the stored document holds no working box");
    stored = Deflate(xthost::doc::PrintDocument(*project));
}

// The paragraphs of the stories, depth first.
std::vector<std::string> StoryParagraphs(const CodeStreams& code)
{
    return FindInStories(code, "Paragraph[]/");
}

// Numbers the last run of the paragraph at `paragraph` -1, a number no reading of runs 0, 1, ...
// reaches; false when the paragraph has fewer than `least` runs, or when `text` asks for a run
// of characters and the last run holds none.
bool NumberLastRunNegative(CodeStreams& code, const std::string& paragraph, size_t least, bool text = false)
{
    auto table = code.Table(paragraph);
    FolderEntry* last = nullptr;
    size_t runs = 0;
    for (FolderEntry& e : table)
        if (e.name == "TextRun[]/") {
            ++runs;
            if (!last || e.index > last->index)
                last = &e;
        }
    if (!last || runs < least ||
        (text && !code.streams.count(paragraph + '\x01' + CodeStreams::Hex(last->number) + "\x01!1:Unicodes")))
        return false;
    last->index = -1;
    code.SetTable(paragraph, table);
    return true;
}

// Writes the first record of the stories' first placeholder run `copies` times in its place.
// Writes the first record of the stories' first (or last) record bundle named `bundle` `copies` times.
void RepeatFirstRecord(CodeStreams& code, const std::string& bundle, uint32_t copies, bool last = false)
{
    const std::vector<std::string> found = FindInStories(code, bundle);
    for (const std::string& field : FieldsOf(code, last ? found.back() : found.front())) {
        Bytes& bytes = code.streams.at(field);
        if (bytes.size() < 6)
            throw std::runtime_error("the first " + bundle + " holds no record");
        Bytes repeated(bytes.begin(), bytes.begin() + 2);
        for (uint32_t i = 0; i < copies; ++i)
            repeated.insert(repeated.end(), bytes.begin() + 2, bytes.begin() + 6);
        repeated.insert(repeated.end(), bytes.begin() + 6, bytes.end());
        bytes = repeated;
    }
}

std::string StringTable(const CodeStreams& code)
{
    return code.Folder({{"Book/", 0}, {"StringsMap{}", 0}});
}

// A string of the Book's string table, with its record and the bytes of its text.
struct StoredString {
    uint32_t id;
    std::u16string text;
    size_t record, begin, end;
};

std::vector<StoredString> StoredStrings(const CodeStreams& code)
{
    const Bytes& refs = code.streams.at(StringTable(code) + "\x01m_Ref");
    const Bytes& texts = code.streams.at(StringTable(code) + "\x01m_String");
    std::vector<StoredString> strings;
    for (size_t r = 2, at = 2; r + 4 <= refs.size(); r += 4) {
        if (at + 2 > texts.size())
            throw std::runtime_error("a damaged string table");
        const size_t length = texts[at] | texts[at + 1] << 8;
        std::u16string text;
        for (size_t k = 0; k < length && at + 3 + 2 * k < texts.size(); ++k)
            text.push_back(static_cast<char16_t>(texts[at + 2 + 2 * k] | texts[at + 3 + 2 * k] << 8));
        strings.push_back({U32(refs, r), text, r, at, std::min(texts.size(), at + 2 + 2 * length)});
        at += 2 + 2 * length;
    }
    return strings;
}

// Takes the string `text` out of the Book's string table, its attributes left naming it.
void RemoveString(CodeStreams& code, const std::u16string& text)
{
    for (const StoredString& stored : StoredStrings(code))
        if (stored.text == text) {
            Bytes& refs = code.streams.at(StringTable(code) + "\x01m_Ref");
            Bytes& texts = code.streams.at(StringTable(code) + "\x01m_String");
            refs.erase(refs.begin() + static_cast<std::ptrdiff_t>(stored.record),
                       refs.begin() + static_cast<std::ptrdiff_t>(stored.record + 4));
            texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(stored.begin),
                        texts.begin() + static_cast<std::ptrdiff_t>(stored.end));
            return;
        }
    throw std::runtime_error("the string table does not hold the string");
}

// The id of `text` in the Book's string table, added to the table when the table lacks it.
uint32_t StringId(CodeStreams& code, const std::u16string& text)
{
    uint32_t next = 0;
    for (const StoredString& stored : StoredStrings(code)) {
        if (stored.text == text)
            return stored.id;
        next = std::max(next, stored.id + 1);
    }
    Bytes& refs = code.streams.at(StringTable(code) + "\x01m_Ref");
    Bytes& texts = code.streams.at(StringTable(code) + "\x01m_String");
    refs.resize(refs.size() + 4);
    PutU32(refs, refs.size() - 4, next);
    texts.push_back(static_cast<uint8_t>(text.size()));
    texts.push_back(static_cast<uint8_t>(text.size() >> 8));
    for (const char16_t c : text) {
        texts.push_back(static_cast<uint8_t>(c));
        texts.push_back(static_cast<uint8_t>(c >> 8));
    }
    return next;
}

// Changes the stories' first attribute record named `attribute` by `edit`, given its attribute
// set, the record's offset in the fields and the id of `value` in the Book's string table (added
// to the table when the table lacks it).
void EditFirstAttribute(CodeStreams& code, const std::u16string& attribute, const std::u16string& value,
                        const std::function<void(const std::string&, size_t, uint32_t)>& edit)
{
    bool named = false;
    for (const StoredString& stored : StoredStrings(code))
        named |= stored.text == attribute;
    if (!named)
        throw std::runtime_error("the Book holds no such attribute");
    const uint32_t nameId = StringId(code, attribute);
    const uint32_t id = StringId(code, value);
    for (const std::string& attrs : FindInStories(code, "Attrs{}")) {
        const auto names = code.streams.find(attrs + "\x01m_NameRef");
        const auto values = code.streams.find(attrs + "\x01m_ValueRef");
        if (names == code.streams.end() || values == code.streams.end())
            continue;
        for (size_t r = 2; r + 4 <= names->second.size() && r + 4 <= values->second.size(); r += 4)
            if (U32(names->second, r) == nameId) {
                edit(attrs, r, id);
                return;
            }
    }
    throw std::runtime_error("the stories hold no such attribute");
}

// Adds the attribute `attribute` with the text `value` to the attribute set at `attrs`.
void AddAttribute(CodeStreams& code, const std::string& attrs, const std::u16string& attribute, const std::u16string& value)
{
    const uint32_t ids[2] = {StringId(code, attribute), StringId(code, value)};
    const char* fields[2] = {"\x01m_NameRef", "\x01m_ValueRef"};
    for (int k = 0; k < 2; ++k) {
        Bytes& bytes = code.streams.at(attrs + fields[k]);
        bytes.resize(bytes.size() + 4);
        PutU32(bytes, bytes.size() - 4, ids[k]);
    }
}

// Gives the stories' first attribute `attribute` the text `value`.
void SetFirstAttribute(CodeStreams& code, const std::u16string& attribute, const std::u16string& value)
{
    EditFirstAttribute(code, attribute, value, [&](const std::string& attrs, size_t at, uint32_t id) {
        PutU32(code.streams.at(attrs + "\x01m_ValueRef"), at, id);
    });
}

void SetFirstUniqueId(CodeStreams& code, const std::u16string& value)
{
    SetFirstAttribute(code, u"uniqID", value);
}

struct Damage {
    const char* name;
    std::function<void(const std::string& in, const std::string& out, const std::string& other)> make;
};

// The first story with at least two paragraphs.
int32_t StoryWithParagraphs(const CodeStreams& code)
{
    for (int32_t s = 0;; ++s) {
        auto path = StoryPath(s);
        path.emplace_back("ParagraphsSet/", 0);
        if (code.Table(code.Folder(path)).size() >= 2)
            return s;
    }
}

// Sets the first 32-bit value of the field stream `field` in the first bundle named `bundle`.
void SetFirstField(CodeStreams& code, const std::string& bundle, const std::string& field, uint32_t value)
{
    std::vector<std::string> found;
    code.Find("", bundle, found);
    if (found.empty())
        throw std::runtime_error("the container has no " + bundle);
    Bytes& bytes = code.streams.at(found.front() + '\x01' + field);
    PutU32(bytes, 2, value);
}

// Removes the entry of element `index` (-1: the last one) from the table of the folder at `path`.
void RemoveElement(CodeStreams& code, const FolderPath& path, int32_t index)
{
    const std::string set = code.Folder(path);
    auto table = code.Table(set);
    size_t at = 0;
    for (size_t i = 0; i < table.size(); ++i)
        if (index < 0 ? table[i].index > table[at].index : table[i].index == index)
            at = i;
    table.erase(table.begin() + static_cast<std::ptrdiff_t>(at));
    code.SetTable(set, table);
}

void EditCode(const std::string& in, const std::string& out, const std::function<void(CodeStreams&)>& edit)
{
    CodeStreams code = ReadCodeFile(in);
    edit(code);
    WriteCopy(in, out, &code);
}

// The damage `name`: the stories' first attribute `attribute` holds the text `value`.
Damage AttributeDamage(const char* name, const std::u16string& attribute, const std::u16string& value)
{
    return {name, [attribute, value](const std::string& in, const std::string& out, const std::string&) {
                EditCode(in, out, [&](CodeStreams& code) { SetFirstAttribute(code, attribute, value); });
            }};
}

// The damage `name`: the Book's attribute `attribute` holds the text `value`.
Damage BookAttributeDamage(const char* name, const std::u16string& attribute, const std::u16string& value)
{
    return {name, [attribute, value](const std::string& in, const std::string& out, const std::string&) {
                EditCode(in, out, [&](CodeStreams& code) {
                    const std::string book = code.Folder({{"Book/", 0}});
                    const uint32_t nameId = StringId(code, attribute), valueId = StringId(code, value);
                    for (const FolderEntry& e : code.Table(book)) {
                        const std::string attrs = book + '\x01' + CodeStreams::Hex(e.number);
                        if (e.name != "Attrs{}")
                            continue;
                        const Bytes& names = code.streams.at(attrs + "\x01m_NameRef");
                        for (size_t r = 2; r + 4 <= names.size(); r += 4)
                            if (U32(names, r) == nameId)
                                return PutU32(code.streams.at(attrs + "\x01m_ValueRef"), r, valueId);
                    }
                    throw std::runtime_error("the Book has no such attribute");
                });
            }};
}

void FlipInCode(const std::string& in, const std::string& out, size_t byte, int bit)
{
    CodeStreams code = ReadCodeFile(in);
    std::vector<std::string> runs;
    code.Find(code.Folder(StoryPath(0)), "TextRun[]/", runs);
    std::string stream;
    for (const std::string& run : runs)
        if (stream.empty() && code.streams.count(run + "\x01!1:Unicodes"))
            stream = run + "\x01!1:Unicodes";
    if (stream.empty())
        throw std::runtime_error("the first story has no text run with characters");
    WriteCopy(in, out, nullptr, {u"VerbantTextAndCode/VerbantCodeFile"},
              [&](const std::u16string&, Bytes& bytes) { FlipDescriptorBit(bytes, stream, byte, bit); });
}

const std::vector<Damage>& Damages()
{
    static const std::vector<Damage> damages = {
    {"paragraph-removed",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             auto path = StoryPath(StoryWithParagraphs(code));
             path.emplace_back("ParagraphsSet/", 0);
             RemoveElement(code, path, 0);
         });
     }},
    {"run-of-unknown-type",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             std::vector<std::string> runs;
             code.Find(code.Folder(StoryPath(0)), "TextRun[]/", runs);
             for (const std::string& run : runs)
                 if (auto found = code.streams.find(run + "\x01!1:Unicodes"); found != code.streams.end()) {
                     if (found->second.empty())
                         throw std::runtime_error("the first story's text run has no bytes");
                     found->second[0] = 77;
                     return;
                 }
             throw std::runtime_error("the first story has no text run with characters");
         });
     }},
    {"story-removed",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { RemoveElement(code, kStories, 1); });
     }},
    {"last-story-removed",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { RemoveElement(code, kStories, -1); });
     }},
    {"duplicate-story-numbers",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             const std::string set = code.Folder(kStories);
             auto table = code.Table(set);
             uint32_t first = 0;
             for (const FolderEntry& e : table)
                 if (e.index == 1)
                     first = e.number;
             for (FolderEntry& e : table)
                 if (e.index == 2)
                     e.number = first;
             code.SetTable(set, table);
         });
     }},
    {"special-character-of-unknown-id",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { SetFirstField(code, "!1:SpecialChars{}", "m_NameRef", 99999); });
     }},
    {"placeholder-of-unknown-id",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out,
                  [](CodeStreams& code) { SetFirstField(code, "!1:PlaceHolders{}", "m_ObjectTypeRef", 99999); });
     }},
    {"reference-of-unknown-id",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { SetFirstField(code, "!1:RefPoints{}", "m_RefTypeRef", 99999); });
     }},
    {"descriptor-tag-bit",
     [](const std::string& in, const std::string& out, const std::string&) { FlipInCode(in, out, 4, 0); }},
    {"descriptor-id-bit",
     [](const std::string& in, const std::string& out, const std::string&) { FlipInCode(in, out, 3, 7); }},
    {"descriptor-offset-bit",
     [](const std::string& in, const std::string& out, const std::string&) { FlipInCode(in, out, 12, 6); }},
    // A tag deleted in a translation editor: the run of the first placeholder goes, the
    // placeholder record of the last one (in an export of export.qxp an anchored text box),
    // the run of the last special character (there a page number).
    {"placeholder-run-removed",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             const std::string bundle = FindInStories(code, "!1:PlaceHolders{}").front();
             Unlist(code, Parent(bundle));
         });
     }},
    {"anchored-object-marker-removed",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             // Each field keeps its type code and loses its values.
             for (const std::string& field : FieldsOf(code, FindInStories(code, "!1:PlaceHolders{}").back()))
                 code.streams[field].resize(2);
         });
     }},
    {"special-character-run-removed",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             const std::string bundle = FindInStories(code, "!1:SpecialChars{}").back();
             Unlist(code, Parent(bundle));
         });
     }},
    // Two neighbouring paragraphs merged by the translator: the first story's second paragraph
    // gives its runs to the first one, and the paragraphs behind it move up, so the story holds a
    // paragraph less with no gap in their numbers (in an export of export.qxp, the story that
    // holds the module's stray tag run).
    {"paragraphs-merged",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             auto path = StoryPath(StoryWithParagraphs(code));
             path.emplace_back("ParagraphsSet/", 0);
             const std::string set = code.Folder(path);
             path.emplace_back("Paragraph[]/", 0);
             const std::string first = code.Folder(path);
             path.back().second = 1;
             const std::string second = code.Folder(path);
             auto runs = code.Table(first);
             int32_t index = 0;
             uint32_t number = 0;
             for (const FolderEntry& e : runs) {
                 index = std::max(index, e.name == "TextRun[]/" ? e.index + 1 : 0);
                 number = std::max(number, e.number + 1);
             }
             for (const FolderEntry& e : code.Table(second)) {
                 if (e.name != "TextRun[]/")
                     continue;
                 CopyFolder(code, second + '\x01' + CodeStreams::Hex(e.number), first + '\x01' + CodeStreams::Hex(number));
                 runs.push_back({e.name, index++, number++});
             }
             code.SetTable(first, runs);
             auto paragraphs = code.Table(set);
             paragraphs.erase(std::remove_if(paragraphs.begin(), paragraphs.end(),
                                             [](const FolderEntry& e) { return e.name == "Paragraph[]/" && e.index == 1; }),
                              paragraphs.end());
             for (FolderEntry& e : paragraphs)
                 if (e.name == "Paragraph[]/" && e.index > 1)
                     --e.index;
             code.SetTable(set, paragraphs);
         });
     }},
    // A paragraph added by the translator (a copy of the story's first one behind it), and a
    // document whose story lost a paragraph after its export.
    {"paragraph-added",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             auto path = StoryPath(StoryWithParagraphs(code));
             path.emplace_back("ParagraphsSet/", 0);
             path.emplace_back("Paragraph[]/", 0);
             CopyElement(code, code.Folder(path), 1);
         });
     }},
    {"stored-story-shorter",
     [](const std::string& in, const std::string& out, const std::string&) {
         WriteCopy(in, out, nullptr, {u"VerbantPluginPrivateData/KestoExportTemplates/0"},
                   [](const std::u16string&, Bytes& bytes) { ShortenStoredStory(bytes); });
     }},
    // Runs the import does not write: the first story's first characters stored as 8-bit
    // text, and its first run record under a name the model does not know.
    {"multibyte-run",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             const std::string stream = FirstCharacters(code);
             const Bytes wide = code.streams.at(stream);
             Bytes narrow = {2, 0};  // the field type of 8-bit characters
             for (size_t at = 2; at + 1 < wide.size(); at += 2)
                 narrow.push_back(wide[at + 1] == 0 && wide[at] < 0x80 ? wide[at] : '?');
             code.streams.erase(stream);
             code.streams[Parent(stream) + "\x01!1:Multibytes"] = narrow;
         });
     }},
    {"run-record-renamed",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             const std::string stream = FirstCharacters(code);
             Rename(code, Parent(stream), "TextRux[]/");
         });
     }},
    // The entries of the first two stories that the Book places apart, swapped in the story list.
    {"stories-swapped",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             const auto place = [&](int32_t story) {
                 auto path = StoryPath(story);
                 path.emplace_back("Attrs{}", 0);
                 return code.streams.at(code.Folder(path) + "\x01m_ValueRef");
             };
             const std::string set = code.Folder(kStories);
             auto table = code.Table(set);
             for (FolderEntry& a : table)
                 for (FolderEntry& b : table)
                     if (b.index == a.index + 1 && place(a.index) != place(b.index)) {
                         std::swap(a.number, b.number);
                         code.SetTable(set, table);
                         return;
                     }
             throw std::runtime_error("no two stories the Book places apart");
         });
     }},
    // Records no reading reaches: the last run of the first paragraph of two or more runs
    // numbered -1, and the last run of every paragraph that ends in characters so.
    {"run-numbered-negative",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             for (const std::string& paragraph : StoryParagraphs(code))
                 if (NumberLastRunNegative(code, paragraph, 2))
                     return;
             throw std::runtime_error("no paragraph of the stories has two runs");
         });
     }},
    {"runs-numbered-negative-everywhere",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             bool numbered = false;
             for (const std::string& paragraph : StoryParagraphs(code))
                 numbered |= NumberLastRunNegative(code, paragraph, 1, true);
             if (!numbered)
                 throw std::runtime_error("no paragraph of the stories has a run");
         });
     }},
    // Values that do not read whole: a text stream that ends inside a character, and unique ids
    // that are no number, negative, or -1 (none).
    {"text-of-odd-length",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { code.streams.at(FirstCharacters(code)).push_back('A'); });
     }},
    {"unique-id-not-a-number",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { SetFirstUniqueId(code, u"4x2"); });
     }},
    {"unique-id-negative",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { SetFirstUniqueId(code, u"-12"); });
     }},
    {"unique-id-none",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { SetFirstUniqueId(code, u"-1"); });
     }},
    // "17" and a NUL: read as far as the NUL, the id of another paragraph of the story.
    {"unique-id-with-nul",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { SetFirstUniqueId(code, std::u16string(u"17\0", 3)); });
     }},
    // The stories' first placeholder record written twice, and 100,000 times.
    {"placeholder-twice",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { RepeatFirstRecord(code, "!1:PlaceHolders{}", 2); });
     }},
    {"placeholder-100000-times",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { RepeatFirstRecord(code, "!1:PlaceHolders{}", 100000); });
     }},
    // A page number's record written twice (the last special character, as above); a unique id left out, given in hexadecimal, or given
    // the next paragraph's id; the attribute set of a paragraph with a unique id whose name field
    // ends a record before its value field; a run's size with a plus sign.
    {"page-number-twice",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { RepeatFirstRecord(code, "!1:SpecialChars{}", 2, true); });
     }},
    {"unique-id-removed",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             EditFirstAttribute(code, u"uniqID", u"", [&](const std::string& attrs, size_t at, uint32_t) {
                 for (const char* field : {"\x01m_NameRef", "\x01m_ValueRef"}) {
                     Bytes& bytes = code.streams.at(attrs + field);
                     bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                 bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
                 }
             });
         });
     }},
    // The stories' first unique id taken from its paragraph and given to the first paragraph of
    // the next story: each story has its own, the one holds it no more, the other one more.
    {"unique-id-moved-to-another-story",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             uint32_t name = 0, value = 0;
             int32_t story = -1;
             EditFirstAttribute(code, u"uniqID", u"", [&](const std::string& attrs, size_t at, uint32_t) {
                 name = U32(code.streams.at(attrs + "\x01m_NameRef"), at);
                 value = U32(code.streams.at(attrs + "\x01m_ValueRef"), at);
                 for (const char* field : {"\x01m_NameRef", "\x01m_ValueRef"}) {
                     Bytes& bytes = code.streams.at(attrs + field);
                     bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                 bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
                 }
                 for (std::string prefix; prefix.empty() || attrs.compare(0, prefix.size(), prefix) != 0;)
                     prefix = code.Folder(StoryPath(++story)) + '\x01';
             });
             auto path = StoryPath(story + 1);
             path.insert(path.end(), {{"ParagraphsSet/", 0}, {"Paragraph[]/", 0}, {"Attrs{}", 0}});
             const std::string attrs = code.Folder(path);
             for (const auto& [field, id] : {std::pair<const char*, uint32_t>{"\x01m_NameRef", name}, {"\x01m_ValueRef", value}}) {
                 Bytes& bytes = code.streams.at(attrs + field);
                 bytes.resize(bytes.size() + 4);
                 PutU32(bytes, bytes.size() - 4, id);
             }
         });
     }},
    {"unique-id-hexadecimal",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { SetFirstUniqueId(code, u"0x2A"); });
     }},
    {"unique-id-of-another-paragraph",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { SetFirstUniqueId(code, u"17"); });
     }},
    {"attributes-cut-inside-a-record",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             EditFirstAttribute(code, u"uniqID", u"", [&](const std::string& attrs, size_t, uint32_t) {
                 Bytes& names = code.streams.at(attrs + "\x01m_NameRef");
                 names.resize(names.size() - 4);
             });
         });
     }},
    AttributeDamage("run-size-with-plus-sign", u"size", u"+42"),
    // Kerning and tracking that do not read whole: a blank in front, a NUL behind.
    AttributeDamage("run-tracking-with-blank", u"tracking", u" 42"),
    AttributeDamage("run-kerning-with-nul", u"kerning", std::u16string(u"42\0", 3)),
    // What the import does not apply: the first run to be hidden, another paragraph style sheet.
    {"run-hidden",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             const std::string run = Parent(FirstCharacters(code));
             for (const FolderEntry& e : code.Table(run))
                 if (e.name == "Attrs{}")
                     return AddAttribute(code, run + '\x01' + CodeStreams::Hex(e.number), u"hidden", u"on");
             throw std::runtime_error("the first story's first text run has no attributes");
         });
     }},
    AttributeDamage("paragraph-style-renamed", u"stylename", u"Heading 9"),
    // The Book's largest unique id and its source, as a tool may rewrite them.
    BookAttributeDamage("maxuniqid-changed", u"maxuniqID", u"99999"),
    BookAttributeDamage("source-data-type-changed", u"source_data_type", u"QuarkXpress 3.3 Mac{MB=1}"),
    // The first story trades its number with the first story of the next layout.
    {"stories-swapped-across-layouts",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             uint32_t typeId = 0;
             for (const StoredString& stored : StoredStrings(code))
                 typeId = stored.text == u"story_type" ? stored.id : typeId;
             const auto type = [&](int32_t story) {
                 auto path = StoryPath(story);
                 path.emplace_back("Attrs{}", 0);
                 const std::string attrs = code.Folder(path);
                 const Bytes& names = code.streams.at(attrs + "\x01m_NameRef");
                 for (size_t r = 2; r + 4 <= names.size(); r += 4)
                     if (U32(names, r) == typeId)
                         return U32(code.streams.at(attrs + "\x01m_ValueRef"), r);
                 throw std::runtime_error("a story without a layout");
             };
             const std::string set = code.Folder(kStories);
             auto table = code.Table(set);
             for (FolderEntry& other : table)
                 if (type(other.index) != type(0)) {
                     for (FolderEntry& first : table)
                         if (first.index == 0)
                             std::swap(first.number, other.number);
                     code.SetTable(set, table);
                     return;
                 }
             throw std::runtime_error("the stories name one layout");
         });
     }},
    // Tables cut to nothing: the Book holds no story, the first paragraph no record.
    {"no-stories",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { code.SetTable(code.Folder(kStories), {}); });
     }},
    {"paragraph-of-no-records",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             auto path = StoryPath(0);
             path.emplace_back("ParagraphsSet/", 0);
             path.emplace_back("Paragraph[]/", 0);
             code.SetTable(code.Folder(path), {});
         });
     }},
    // Two NUL characters behind the first character of the first story.
    {"nul-characters",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             Bytes& units = code.streams.at(FirstCharacters(code));
             if (units.size() < 4)
                 throw std::runtime_error("the first story's text run has no characters");
             units.insert(units.begin() + 4, {0, 0, 0, 0});
         });
     }},
    // A Book that lists a second document, a copy of the first.
    {"two-documents",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             CopyElement(code, code.Folder({{"Book/", 0}, {"DocumentsSet/", 0}, {"Document[]/", 0}}), 1);
         });
     }},
    // Formatting samples that are not there: the first run names one beyond the stored
    // document's, or -1; the stored document lost its working boxes, in every layout, or in
    // every layout but the last, as exports of earlier builds stored it.
    AttributeDamage("sample-out-of-range", u"private", u"4096"),
    AttributeDamage("sample-negative", u"private", u"-1"),
    {"working-boxes-removed",
     [](const std::string& in, const std::string& out, const std::string&) {
         WriteCopy(in, out, nullptr, {u"VerbantPluginPrivateData/KestoExportTemplates/0"},
                   [](const std::u16string&, Bytes& bytes) { RemoveWorkBoxes(bytes, false); });
     }},
    {"working-boxes-of-the-last-layout-only",
     [](const std::string& in, const std::string& out, const std::string&) {
         WriteCopy(in, out, nullptr, {u"VerbantPluginPrivateData/KestoExportTemplates/0"},
                   [](const std::u16string&, Bytes& bytes) { RemoveWorkBoxes(bytes, true); });
     }},
    {"document-of-another-export",
     [](const std::string& in, const std::string& out, const std::string& other) {
         const Bytes document = StoredStream(other);
         WriteCopy(in, out, nullptr, {u"VerbantPluginPrivateData/KestoExportTemplates/0"},
                   [&](const std::u16string&, Bytes& bytes) { bytes = document; });
     }},
    // Containers that cannot be opened: the code file cut short (a copy stopped half way), a
    // second Book beside the first, the code file's summary (its format version) gone.
    {"code-file-cut-short",
     [](const std::string& in, const std::string& out, const std::string&) {
         WriteCopy(in, out, nullptr, {u"VerbantTextAndCode/VerbantCodeFile"},
                   [](const std::u16string&, Bytes& bytes) { bytes.resize(bytes.size() / 2); });
     }},
    {"two-books",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             // A copy of the Book, listed under the same name and number as the Book.
             CopyElement(code, code.Folder({{"Book/", 0}}), 1);
             auto table = code.Table("");
             for (FolderEntry& e : table)
                 if (e.name == "Book/")
                     e.index = 0;
             code.SetTable("", table);
         });
     }},
    {"no-summary-stream",
     [](const std::string& in, const std::string& out, const std::string&) {
         WriteCopyWithout(in, out, u"VerbantTextAndCode/\u0005VerbantSummaryInformation");
     }},
    // The summary stream as a property-set tool that keeps only the properties it knows leaves
    // it: without the code file's two format versions.
    {"summary-without-versions",
     [](const std::string& in, const std::string& out, const std::string&) {
         WriteCopy(in, out, nullptr, {u"VerbantTextAndCode/\u0005VerbantSummaryInformation"},
                   [](const std::u16string&, Bytes& bytes) {
                       MemFile stream;
                       stream.PutData(bytes.data(), static_cast<uint32_t>(bytes.size()));
                       stream.Seek(0, SO_Begin);
                       PropertySet summary(kCodeFileSummaryName);
                       summary.Read(stream);
                       summary -= Property(kCodeFileMajorVersionId);
                       summary -= Property(kCodeFileMinorVersionId);
                       MemFile written;
                       summary.Write(written);
                       bytes.assign(written.Data(), written.Data() + written.Size());
                   });
     }},
    // A string that the Book's own attributes name, taken out of its string table.
    {"string-removed",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) { RemoveString(code, u"italic"); });
     }},
    // A stored document that the host refuses: whole as compressed data, its text cut short.
    {"stored-document-cut-short",
     [](const std::string& in, const std::string& out, const std::string&) {
         WriteCopy(in, out, nullptr, {u"VerbantPluginPrivateData/KestoExportTemplates/0"},
                   [](const std::u16string&, Bytes& bytes) {
                       const Bytes plain = Inflate(bytes);
                       bytes = Deflate(std::string(plain.begin(), plain.begin() + plain.size() / 2));
                   });
     }},
    // The paragraph that places the stories' last placeholder (in an export of export.qxp an
    // anchored text box) swapped with the paragraph behind it, or in front of it when it is the
    // last: the translation puts the anchored item into another paragraph.
    {"anchored-item-moved",
     [](const std::string& in, const std::string& out, const std::string&) {
         EditCode(in, out, [](CodeStreams& code) {
             auto [set, paragraph] = ParentEntry(code, Parent(FindInStories(code, "!1:PlaceHolders{}").back()));
             while (paragraph.name != "Paragraph[]/")
                 std::tie(set, paragraph) = ParentEntry(code, set);
             auto table = code.Table(set);
             FolderEntry* other = nullptr;
             for (FolderEntry& e : table)
                 if (e.name == paragraph.name && (e.index == paragraph.index + 1 || (!other && e.index == paragraph.index - 1)))
                     other = &e;
             if (!other)
                 throw std::runtime_error("the paragraph of the last placeholder has no paragraph beside it");
             for (FolderEntry& e : table)
                 if (e.name == paragraph.name && e.index == paragraph.index)
                     std::swap(e.number, other->number);
             code.SetTable(set, table);
         });
     }},
    };
    return damages;
}

} // namespace


uint32_t U32(const Bytes& bytes, size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24;
}

void PutU32(Bytes& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// ---- The code file as streams by name ----------------------------------------------------------

std::string CodeStreams::Hex(uint32_t number)
{
    char digits[12];
    std::snprintf(digits, sizeof digits, "%X", number);
    return digits;
}

std::vector<FolderEntry> CodeStreams::Table(const std::string& prefix) const
{
    std::vector<FolderEntry> entries;
    const Bytes& t = streams.at(prefix + '\x02');
    for (size_t at = 0; at + 4 <= t.size();) {
        const uint32_t length = U32(t, at);
        if (length == 0 || at + 12 + length > t.size())
            throw std::runtime_error("a damaged folder table");
        FolderEntry entry{std::string(t.begin() + at + 4, t.begin() + at + 4 + length - 1), 0, 0};
        entry.index = static_cast<int32_t>(U32(t, at + 4 + length));
        entry.number = U32(t, at + 8 + length);
        entries.push_back(entry);
        at += 12 + length;
    }
    return entries;
}

void CodeStreams::SetTable(const std::string& prefix, const std::vector<FolderEntry>& entries)
{
    Bytes t;
    for (const FolderEntry& e : entries) {
        const size_t at = t.size();
        t.resize(at + 12 + e.name.size() + 1);
        PutU32(t, at, static_cast<uint32_t>(e.name.size() + 1));
        std::copy(e.name.begin(), e.name.end(), t.begin() + static_cast<std::ptrdiff_t>(at) + 4);
        PutU32(t, at + 5 + e.name.size(), static_cast<uint32_t>(e.index));
        PutU32(t, at + 9 + e.name.size(), e.number);
    }
    streams[prefix + '\x02'] = t;
}

std::string CodeStreams::Folder(const FolderPath& path) const
{
    std::string prefix;
    for (const auto& step : path) {
        bool found = false;
        for (const FolderEntry& e : Table(prefix))
            if (e.name == step.first && e.index == step.second) {
                prefix += '\x01' + Hex(e.number);
                found = true;
                break;
            }
        if (!found)
            throw std::runtime_error("no folder " + step.first);
    }
    return prefix;
}

void CodeStreams::Find(const std::string& prefix, const std::string& name, std::vector<std::string>& found) const
{
    for (const FolderEntry& e : Table(prefix)) {
        const std::string child = prefix + '\x01' + Hex(e.number);
        if (e.name == name)
            found.push_back(child);
        Find(child, name, found);
    }
}
const FolderPath kStories = {
    {"Book/", 0}, {"DocumentsSet/", 0}, {"Document[]/", 0}, {"StoriesSet/", 0}};

FolderPath StoryPath(int32_t story)
{
    auto path = kStories;
    path.emplace_back("Story[]/", story);
    return path;
}

CodeStreams ReadCodeFile(const std::string& path)
{
    OLEStorage root(path.c_str(), CD_OpenRead);
    OLEStorage code(root, kTextAndCode, CD_OpenRead);
    std::unique_ptr<CF_EnumerableInStorage> file = OpenEnumerableCodeFile(code);
    StreamNames names;
    file->EnumerateStreams(names);
    CodeStreams out;
    for (const std::string& name : names.names) {
        std::unique_ptr<CF_InStream> stream = file->OpenStream(name.c_str(), 0);
        if (!stream)
            throw std::runtime_error("the code file lists a stream it cannot open: " + name);
        out.streams[name] = ReadAll(*stream);
    }
    return out;
}

// ---- Copies of a container with edits ----------------------------------------------------------

// Writes `out` from `in` with the code file's streams from `code` (when given) and the streams at
// the paths of `edited` passed through `edit`.
void WriteCopy(const std::string& in, const std::string& out, const CodeStreams* code,
               const std::vector<std::u16string>& edited, const RawEdit& edit, bool compress)
{
    OLEStorage source(in.c_str(), CD_OpenRead);
    OLEStorage target(out.c_str(), CD_CreateWrite);
    CopyStorage(source, target, u"", edited, code, edit, compress);
    target.Flush();
}

std::string StoredDocument(const std::string& path)
{
    const Bytes plain = Inflate(StoredStream(path));
    return std::string(plain.begin(), plain.end());
}

const std::vector<std::string>& DamageNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const Damage& damage : Damages())
            all.push_back(damage.name);
        return all;
    }();
    return names;
}

bool DamageContainer(const std::string& name, const std::string& in, const std::string& out,
                     const std::string& other, std::string& error)
{
    for (const Damage& damage : Damages()) {
        if (name != damage.name)
            continue;
        try {
            damage.make(in, out, other);
            return true;
        } catch (const FilterException& e) {
            error = "container error " + std::to_string(e.Code()) + ": " + FilterErrorText(e.Code());
        } catch (const std::exception& e) {
            error = e.what();
        }
        std::remove(out.c_str());
        return false;
    }
    error = "no damage named " + name;
    return false;
}

} // namespace kesto_damage
