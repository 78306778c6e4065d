#include "tests/examples/BookMutations.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string_view>

namespace kesto_test {

using kesto_damage::Bytes;
using kesto_damage::CodeStreams;
using kesto_damage::FolderEntry;
using kesto_damage::PutU32;
using kesto_damage::U32;

namespace {

const char* const kClassNames[kMutationClasses] = {
    "index-negative",  "index-beyond",    "index-twice",       "entry-repeated",  "element-copied",
    "entry-removed",   "entries-swapped", "run-kind-changed",  "record-value",    "record-repeated",
    "record-removed",  "records-swapped", "cut-at-record",     "cut-inside-record", "text-odd-length",
    "stream-cut",      "value-not-whole", "string-removed",
};

const char* const kTextItems[] = {"!1:Unicodes", "!1:Multibytes", "!1:WideMultibytes"};
const char* const kRecordItems[] = {"!1:SpecialChars{}", "!1:RefPoints{}", "!1:PlaceHolders{}"};

// Values that a careless tool writes where a number belongs; none reads whole as what the export
// wrote there.
const std::u16string_view kNotWhole[] = {u"4x2", u"-12", u"-1", u"", u" 42", u"42 ", u"0x2A", u"99999999999",
                                         u"4.2", u"+42", {u"42\0", 3}, u"\u0664\u0662", u"--1", u"1e3"};

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Shown(const std::string& flattened)
{
    std::string out;
    for (char c : flattened)
        out += c == '\x01' ? '/' : c == '\x02' ? '#' : c;
    return out;
}

std::string Shown(const std::u16string& text)
{
    std::string out = "\"";
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[12];
            std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
            out += hex;
        }
    }
    return out + "\"";
}

size_t Values(const Bytes& field)
{
    return field.size() < 2 ? 0 : (field.size() - 2) / 4;
}

bool HasTable(const CodeStreams& code, const std::string& prefix)
{
    return code.streams.count(prefix + '\x02') != 0;
}

std::string Child(const std::string& prefix, uint32_t number)
{
    return prefix + '\x01' + CodeStreams::Hex(number);
}

// The texts of the string table "StringsMap{}" by id: the long field "m_Ref" and the wide-string
// field "m_String" (a 16-bit count, then the units).
std::map<int32_t, std::u16string> Strings(const CodeStreams& code, const std::string& bundle)
{
    std::map<int32_t, std::u16string> strings;
    const Bytes& refs = code.streams.at(bundle + "\x01m_Ref");
    const Bytes& texts = code.streams.at(bundle + "\x01m_String");
    size_t at = 2;
    for (size_t k = 0; k < Values(refs) && at + 2 <= texts.size(); ++k) {
        const size_t count = texts[at] | texts[at + 1] << 8;
        at += 2;
        std::u16string text;
        for (size_t i = 0; i < count && at + 2 <= texts.size(); ++i, at += 2)
            text += static_cast<char16_t>(texts[at] | texts[at + 1] << 8);
        strings[static_cast<int32_t>(U32(refs, 2 + 4 * k))] = text;
    }
    return strings;
}

bool ReadsAsNumber(const std::u16string& text)
{
    if (text.empty() || text.size() > 10)
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] >= u'0' && text[i] <= u'9') && !(i == 0 && text[i] == u'-' && text.size() > 1))
            return false;
    return true;
}

// Record k of every field: taken out, copied behind itself `copies` times, or swapped with j.
void EachField(CodeStreams& code, const std::vector<std::string>& fields, const std::function<void(Bytes&)>& edit)
{
    for (const std::string& field : fields)
        edit(code.streams.at(field));
}

Bytes ValueAt(const Bytes& field, size_t k)
{
    return Bytes(field.begin() + static_cast<std::ptrdiff_t>(2 + 4 * k), field.begin() + static_cast<std::ptrdiff_t>(6 + 4 * k));
}

} // namespace

const char* ClassName(MutationClass kind)
{
    return kClassNames[static_cast<int>(kind)];
}

BookMutator::BookMutator(const CodeStreams& code)
{
    const std::string stories = code.Folder(kesto_damage::kStories);
    Walk(code, stories, "");
    // The string table sits in "Book/".
    for (const FolderEntry& e : code.Table(code.Folder({{"Book/", 0}})))
        if (e.name == "StringsMap{}")
            m_strings = Child(code.Folder({{"Book/", 0}}), e.number);
    if (m_strings.empty())
        throw std::runtime_error("the Book has no string table");
    const auto strings = Strings(code, m_strings);
    for (const Bundle& bundle : m_bundles) {
        for (const std::string& field : bundle.fields) {
            const Bytes& bytes = code.streams.at(field);
            if (!EndsWith(field, "Ref"))
                continue;
            for (size_t k = 0; k < Values(bytes); ++k) {
                const int32_t id = static_cast<int32_t>(U32(bytes, 2 + 4 * k));
                if (id >= 0 && std::find(m_namedIds.begin(), m_namedIds.end(), id) == m_namedIds.end())
                    m_namedIds.push_back(id);
            }
        }
    }
    // The attributes whose values read as numbers.
    for (const Bundle& bundle : m_bundles) {
        const auto names = code.streams.find(bundle.prefix + "\x01m_NameRef");
        const auto values = code.streams.find(bundle.prefix + "\x01m_ValueRef");
        if (names == code.streams.end() || values == code.streams.end())
            continue;
        for (size_t k = 0; k < std::min(Values(names->second), Values(values->second)); ++k) {
            const auto name = strings.find(static_cast<int32_t>(U32(names->second, 2 + 4 * k)));
            const auto value = strings.find(static_cast<int32_t>(U32(values->second, 2 + 4 * k)));
            if (name != strings.end() && value != strings.end() && ReadsAsNumber(value->second))
                m_attributes.push_back({bundle.prefix, k, name->second, value->second, bundle.where});
        }
    }
    // A "uniqID" comes first among them: its value is what the import writes as a marker.
    std::stable_partition(m_attributes.begin(), m_attributes.end(),
                          [](const Attribute& a) { return a.name == u"uniqID"; });
    for (Bundle& bundle : m_bundles) {
        if (EndsWith(bundle.where, "!1:PlaceHolders{}") || EndsWith(bundle.where, "!1:RefPoints{}"))
            bundle.markers = true;
        if (!EndsWith(bundle.where, "!1:SpecialChars{}"))
            continue;
        const auto names = code.streams.find(bundle.prefix + "\x01m_NameRef");
        for (size_t k = 0; names != code.streams.end() && k < Values(names->second); ++k) {
            const auto name = strings.find(static_cast<int32_t>(U32(names->second, 2 + 4 * k)));
            (name != strings.end() && name->second == u"page_number" ? bundle.markers : bundle.characters) = true;
        }
    }
    for (size_t i = 0; i < m_elements.size(); ++i) {
        Element& e = m_elements[i];
        const std::string child = Child(e.table, code.Table(e.table)[e.position].number) + '\x01';
        for (const Bundle& bundle : m_bundles)
            e.markers |= bundle.markers && bundle.prefix.compare(0, child.size(), child) == 0;
        if (e.markers)
            m_markerElements.push_back(i);
    }
    if (m_elements.empty() || m_markerElements.empty() || m_bundles.empty() || m_texts.empty())
        throw std::runtime_error("the Book's stories hold nothing to mutate");
}

void BookMutator::Walk(const CodeStreams& code, const std::string& prefix, const std::string& where)
{
    if (HasTable(code, prefix)) {
        m_cuttable.push_back(prefix + '\x02');
        const std::vector<FolderEntry> table = code.Table(prefix);
        for (size_t i = 0; i < table.size(); ++i) {
            const FolderEntry& e = table[i];
            const std::string child = Child(prefix, e.number);
            std::string at = where;
            if (e.name == "Story[]/")
                at = "story " + std::to_string(e.index);
            else if (e.name == "Paragraph[]/")
                at += " paragraph " + std::to_string(e.index);
            else if (e.name == "TextRun[]/")
                at += " run " + std::to_string(e.index);
            if (EndsWith(e.name, "[]/"))
                m_elements.push_back({prefix, i, e.name, at});
            if (EndsWith(e.name, "{}")) {
                m_bundles.push_back({child, kesto_damage::FieldsOf(code, child), at + " " + e.name});
                if (e.name.compare(0, 3, "!1:") == 0)
                    m_contents.push_back(prefix + '\x02' + e.name);
                continue;
            }
            Walk(code, child, at);
        }
    }
    for (const char* item : kTextItems) {
        const std::string stream = prefix + '\x01' + item;
        if (code.streams.count(stream)) {
            m_texts.push_back(stream);
            m_where.push_back(where);
            m_contents.push_back(stream);
        }
    }
    if (code.streams.count(prefix + "\x01StyleRef"))
        m_cuttable.push_back(prefix + "\x01StyleRef");
}

std::string BookMutator::Apply(MutationClass kind, CodeStreams& code, const Pick& pick) const
{
    switch (kind) {
    case MutationClass::kIndexNegative:
    case MutationClass::kIndexBeyond:
    case MutationClass::kIndexTwice: return ChangeIndex(kind, code, pick);
    case MutationClass::kEntryRepeated:
    case MutationClass::kElementCopied:
    case MutationClass::kEntryRemoved:
    case MutationClass::kEntriesSwapped: return ChangeEntries(kind, code, pick);
    case MutationClass::kRunKindChanged: return ChangeRunKind(code, pick);
    case MutationClass::kRecordValue:
    case MutationClass::kRecordRepeated:
    case MutationClass::kRecordRemoved:
    case MutationClass::kRecordsSwapped:
    case MutationClass::kCutAtRecord:
    case MutationClass::kCutInsideRecord: return ChangeRecords(kind, code, pick);
    case MutationClass::kTextOddLength: return ChangeText(code, pick);
    case MutationClass::kStreamCut: return CutStream(code, pick);
    case MutationClass::kValueNotWhole: return ChangeValue(code, pick);
    case MutationClass::kStringRemoved: return RemoveString(code, pick);
    }
    return "";
}

std::string BookMutator::ChangeIndex(MutationClass kind, CodeStreams& code, const Pick& pick) const
{
    const Element& element = m_elements[pick(static_cast<uint32_t>(m_elements.size()))];
    std::vector<FolderEntry> table = code.Table(element.table);
    FolderEntry& entry = table[element.position];
    int32_t siblings = 0;
    for (const FolderEntry& e : table)
        siblings += e.name == element.name;
    const int32_t was = entry.index;
    switch (kind) {
    case MutationClass::kIndexNegative: {
        const int32_t choices[] = {-1, -1, -2, -siblings, INT32_MIN};
        entry.index = choices[pick(5)];
        break;
    }
    case MutationClass::kIndexBeyond: {
        const int32_t choices[] = {siblings, siblings + 1, siblings + 100, INT32_MAX};
        entry.index = choices[pick(4)];
        break;
    }
    default:
        if (siblings < 2)
            return "";
        entry.index = (was + 1 + static_cast<int32_t>(pick(static_cast<uint32_t>(siblings - 1)))) % siblings;
        break;
    }
    code.SetTable(element.table, table);
    return element.where + " (" + element.name + " " + std::to_string(was) + ") numbered " + std::to_string(entry.index);
}

std::string BookMutator::ChangeEntries(MutationClass kind, CodeStreams& code, const Pick& pick) const
{
    // What a translation may change at will (a run of plain text copied, the last one dropped) is
    // left alone: the mutations are those the import must see.
    const bool copy = kind == MutationClass::kElementCopied || (kind == MutationClass::kEntryRepeated && pick(3) != 0);
    const Element& element = copy ? m_elements[m_markerElements[pick(static_cast<uint32_t>(m_markerElements.size()))]]
                                  : m_elements[pick(static_cast<uint32_t>(m_elements.size()))];
    std::vector<FolderEntry> table = code.Table(element.table);
    const FolderEntry entry = table[element.position];
    int32_t siblings = 0;
    for (const FolderEntry& e : table)
        siblings += e.name == element.name;
    const std::string what = element.where + " (" + element.name + " " + std::to_string(entry.index) + ")";
    switch (kind) {
    case MutationClass::kEntryRepeated: {
        // The same folder listed again: behind the last sibling, a number of times, or under its own number.
        const uint32_t copies = pick(4) == 0 ? 1 + pick(200) : 1;
        const bool sameIndex = !copy;
        for (uint32_t c = 0; c < copies; ++c)
            table.push_back({entry.name, sameIndex ? entry.index : siblings + static_cast<int32_t>(c), entry.number});
        code.SetTable(element.table, table);
        return what + " listed " + std::to_string(copies) + " more time(s)" + (sameIndex ? " under its own number" : " behind the last");
    }
    case MutationClass::kElementCopied: {
        const int32_t index = static_cast<int32_t>(pick(static_cast<uint32_t>(siblings + 1)));
        kesto_damage::CopyElement(code, Child(element.table, entry.number), index);
        return what + " copied as element " + std::to_string(index);
    }
    case MutationClass::kEntryRemoved:
        if (!element.markers && entry.index == siblings - 1)
            return "";
        table.erase(table.begin() + static_cast<std::ptrdiff_t>(element.position));
        code.SetTable(element.table, table);
        return what + " removed";
    default: {
        if (siblings < 2)
            return "";
        const int32_t other = (entry.index + 1 + static_cast<int32_t>(pick(static_cast<uint32_t>(siblings - 1)))) % siblings;
        for (FolderEntry& e : table)
            if (e.name == entry.name && (e.index == entry.index || e.index == other))
                e.index = e.index == entry.index ? other : entry.index;
        code.SetTable(element.table, table);
        return what + " swapped with " + std::to_string(other);
    }
    }
}

std::string BookMutator::ChangeRunKind(CodeStreams& code, const Pick& pick) const
{
    const std::string& item = m_contents[pick(static_cast<uint32_t>(m_contents.size()))];
    const size_t bundleAt = item.rfind('\x02');
    if (bundleAt != std::string::npos && item.compare(bundleAt + 1, 3, "!1:") == 0) {
        // A record bundle under another kind's name, or a text stream beside it.
        const std::string run = item.substr(0, bundleAt), name = item.substr(bundleAt + 1);
        if (pick(3) == 0) {
            const std::string text = m_texts[pick(static_cast<uint32_t>(m_texts.size()))];
            code.streams[run + "\x01!1:Unicodes"] = code.streams.at(text);
            return Shown(run) + " " + name + " with a text stream beside it";
        }
        std::vector<FolderEntry> table = code.Table(run);
        std::string to;
        do
            to = kRecordItems[pick(3)];
        while (to == name);
        for (FolderEntry& e : table)
            if (e.name == name)
                e.name = to;
        code.SetTable(run, table);
        return Shown(run) + " " + name + " renamed " + to;
    }
    Bytes& bytes = code.streams.at(item);
    switch (pick(3)) {
    case 0: {  // another stored type code
        const uint16_t was = static_cast<uint16_t>(bytes.size() >= 2 ? bytes[0] | bytes[1] << 8 : 0);
        uint16_t type;
        do
            type = static_cast<uint16_t>(pick(14));
        while (type == was);
        if (bytes.size() < 2)
            bytes.resize(2);
        bytes[0] = static_cast<uint8_t>(type);
        bytes[1] = 0;
        return Shown(item) + " of type " + std::to_string(type);
    }
    case 1: {  // a record bundle of another run beside it
        std::string run = item.substr(0, item.rfind('\x01'));
        for (const std::string& other : m_contents) {
            const size_t at = other.rfind('\x02');
            if (at == std::string::npos || other.compare(at + 1, 3, "!1:") != 0)
                continue;
            const std::string from = other.substr(0, at), name = other.substr(at + 1);
            for (const FolderEntry& e : code.Table(from))
                if (e.name == name) {
                    std::vector<FolderEntry> table = HasTable(code, run) ? code.Table(run) : std::vector<FolderEntry>{};
                    uint32_t number = 0;
                    for (const FolderEntry& t : table)
                        number = std::max(number, t.number + 1);
                    const std::string source = Child(from, e.number), copy = Child(run, number);
                    std::map<std::string, Bytes> added;
                    for (const auto& [stream, data] : code.streams)
                        if (stream.compare(0, source.size() + 1, source + '\x01') == 0)
                            added[copy + stream.substr(source.size())] = data;
                    code.streams.insert(added.begin(), added.end());
                    table.push_back({name, 0, number});
                    code.SetTable(run, table);
                    return Shown(item) + " with " + name + " of " + Shown(from) + " beside it";
                }
        }
        return "";
    }
    default: {  // the text under another text kind's name
        const std::string folder = item.substr(0, item.rfind('\x01'));
        std::string to;
        do
            to = kTextItems[pick(3)];
        while (EndsWith(item, to));
        code.streams[folder + '\x01' + to] = bytes;
        code.streams.erase(item);
        return Shown(item) + " renamed " + to;
    }
    }
}

std::string BookMutator::ChangeRecords(MutationClass kind, CodeStreams& code, const Pick& pick) const
{
    const Bundle& bundle = m_bundles[pick(static_cast<uint32_t>(m_bundles.size()))];
    if (bundle.fields.empty())
        return "";
    const size_t n = Values(code.streams.at(bundle.fields.front()));
    const std::string what = bundle.where + " (" + std::to_string(n) + " records)";
    const size_t k = n ? pick(static_cast<uint32_t>(n)) : 0;
    // Tabulators and breaks are characters: a translation may write more or fewer of them.
    if (bundle.characters && (kind == MutationClass::kRecordRepeated || kind == MutationClass::kRecordRemoved ||
                              kind == MutationClass::kCutAtRecord))
        return "";
    switch (kind) {
    case MutationClass::kRecordValue: {
        if (n == 0)
            return "";
        const std::string& field = bundle.fields[pick(static_cast<uint32_t>(bundle.fields.size()))];
        Bytes& bytes = code.streams.at(field);
        if (Values(bytes) <= k)
            return "";
        const int32_t was = static_cast<int32_t>(U32(bytes, 2 + 4 * k));
        const int32_t other = m_namedIds[pick(static_cast<uint32_t>(m_namedIds.size()))];
        const int32_t choices[] = {-1, -2, 99999, INT32_MIN, INT32_MAX, other, was + 1, was - 1};
        const int32_t value = choices[pick(8)];
        if (value == was)
            return "";
        PutU32(bytes, 2 + 4 * k, static_cast<uint32_t>(value));
        return what + " record " + std::to_string(k) + " " + Shown(field.substr(field.rfind('\x01') + 1)) + " " +
               std::to_string(was) + " set to " + std::to_string(value);
    }
    case MutationClass::kRecordRepeated: {
        if (n == 0)
            return "";
        const uint32_t copies = pick(4) == 0 ? 1 + pick(200) : 1;
        EachField(code, bundle.fields, [&](Bytes& field) {
            if (Values(field) <= k)
                return;
            const Bytes value = ValueAt(field, k);
            for (uint32_t c = 0; c < copies; ++c)
                field.insert(field.begin() + static_cast<std::ptrdiff_t>(6 + 4 * k), value.begin(), value.end());
        });
        return what + " record " + std::to_string(k) + " written " + std::to_string(copies) + " more time(s)";
    }
    case MutationClass::kRecordRemoved:
        if (n == 0)
            return "";
        EachField(code, bundle.fields, [&](Bytes& field) {
            if (Values(field) > k)
                field.erase(field.begin() + static_cast<std::ptrdiff_t>(2 + 4 * k),
                            field.begin() + static_cast<std::ptrdiff_t>(6 + 4 * k));
        });
        return what + " record " + std::to_string(k) + " removed";
    case MutationClass::kRecordsSwapped: {
        if (n < 2)
            return "";
        const size_t j = (k + 1 + pick(static_cast<uint32_t>(n - 1))) % n;
        bool differ = false;
        EachField(code, bundle.fields, [&](Bytes& field) {
            if (Values(field) <= std::max(j, k))
                return;
            const Bytes a = ValueAt(field, k), b = ValueAt(field, j);
            differ |= a != b;
            std::copy(b.begin(), b.end(), field.begin() + static_cast<std::ptrdiff_t>(2 + 4 * k));
            std::copy(a.begin(), a.end(), field.begin() + static_cast<std::ptrdiff_t>(2 + 4 * j));
        });
        return differ ? what + " records " + std::to_string(k) + " and " + std::to_string(j) + " swapped" : "";
    }
    case MutationClass::kCutAtRecord:
        EachField(code, bundle.fields, [&](Bytes& field) { field.resize(std::min(field.size(), 2 + 4 * k)); });
        return what + " cut to " + std::to_string(k) + " records";
    default: {
        const std::string& field = bundle.fields[pick(static_cast<uint32_t>(bundle.fields.size()))];
        Bytes& bytes = code.streams.at(field);
        // Inside a value, inside the type code, or one field a record short of the others.
        const size_t choices[] = {2 + 4 * k + 1 + pick(3), pick(2), n ? 2 + 4 * (n - 1) : 1};
        const size_t size = choices[pick(3)];
        if (size >= bytes.size())
            return "";
        bytes.resize(size);
        return what + " field " + Shown(field.substr(field.rfind('\x01') + 1)) + " cut to " + std::to_string(size) + " bytes";
    }
    }
}

std::string BookMutator::ChangeText(CodeStreams& code, const Pick& pick) const
{
    const size_t i = pick(static_cast<uint32_t>(m_texts.size()));
    Bytes& bytes = code.streams.at(m_texts[i]);
    const std::string what = m_where[i] + " " + Shown(m_texts[i].substr(m_texts[i].rfind('\x01') + 1)) + " of " +
                             std::to_string(bytes.size()) + " bytes";
    switch (pick(3)) {
    case 0:
        if (bytes.size() < 3)
            return "";
        bytes.pop_back();
        return what + " one byte shorter";
    case 1:
        bytes.push_back(static_cast<uint8_t>(pick(256)));
        return what + " one byte longer";
    default:
        bytes.resize(pick(2));
        return what + " cut to " + std::to_string(bytes.size()) + " bytes";
    }
}

std::string BookMutator::CutStream(CodeStreams& code, const Pick& pick) const
{
    const std::string& name = m_cuttable[pick(static_cast<uint32_t>(m_cuttable.size()))];
    Bytes& bytes = code.streams.at(name);
    // A table cut between two of its entries that lists fewer elements is what a translation may
    // write: the cut falls inside an entry {length, name, index, number}, or before one that is no
    // element (a set, the attributes, the run's content), which the export always writes.
    std::vector<size_t> inside;
    if (name.back() == '\x02') {
        const std::vector<FolderEntry> table = code.Table(name.substr(0, name.size() - 1));
        size_t at = 0;
        for (size_t i = 0; i < table.size(); ++i) {
            bool elementsOnly = true;
            for (size_t j = i; j < table.size(); ++j)
                elementsOnly &= EndsWith(table[j].name, "[]/");
            if (!elementsOnly)
                inside.push_back(at);
            const size_t end = at + 13 + table[i].name.size();
            for (size_t k = at + 1; k < end; ++k)
                inside.push_back(k);
            at = end;
        }
    } else {
        for (size_t k = 0; k < bytes.size(); ++k)
            inside.push_back(k);
    }
    if (inside.empty())
        return "";
    const size_t size = inside[pick(static_cast<uint32_t>(inside.size()))];
    const std::string what = Shown(name) + " of " + std::to_string(bytes.size()) + " bytes cut to " + std::to_string(size);
    bytes.resize(size);
    return what;
}

std::string BookMutator::ChangeValue(CodeStreams& code, const Pick& pick) const
{
    if (m_attributes.empty())
        return "";
    // Half the time a "uniqID" (they stand first), else any number the stories' attributes hold.
    size_t ids = 0;
    while (ids < m_attributes.size() && m_attributes[ids].name == u"uniqID")
        ++ids;
    const bool uniqueId = ids > 0 && pick(2) == 0;
    const Attribute& a = m_attributes[uniqueId ? pick(static_cast<uint32_t>(ids)) : pick(static_cast<uint32_t>(m_attributes.size()))];
    std::u16string value(kNotWhole[pick(sizeof kNotWhole / sizeof *kNotWhole)]);
    // A unique id reads whole, but another paragraph holds it already.
    const bool taken = uniqueId && ids > 1 && pick(4) == 0;
    if (taken) {
        const std::u16string& other = m_attributes[pick(static_cast<uint32_t>(ids))].value;
        if (other == a.value)
            return "";
        value = other;
    }
    // The value's id: the string table's own when it holds the text, else a new string after
    // every id it holds (a text listed twice is a damage of its own).
    int32_t id = 0;
    const auto strings = Strings(code, m_strings);
    for (const auto& [known, text] : strings)
        id = std::max(id, known + 1);
    for (const auto& [known, text] : strings)
        if (text == value)
            id = known;
    if (!strings.count(id)) {
        Bytes& refs = code.streams.at(m_strings + "\x01m_Ref");
        Bytes& texts = code.streams.at(m_strings + "\x01m_String");
        refs.resize(refs.size() + 4);
        PutU32(refs, refs.size() - 4, static_cast<uint32_t>(id));
        texts.push_back(static_cast<uint8_t>(value.size()));
        texts.push_back(static_cast<uint8_t>(value.size() >> 8));
        for (char16_t c : value) {
            texts.push_back(static_cast<uint8_t>(c));
            texts.push_back(static_cast<uint8_t>(c >> 8));
        }
    }
    Bytes& values = code.streams.at(a.bundle + "\x01m_ValueRef");
    PutU32(values, 2 + 4 * a.record, static_cast<uint32_t>(id));
    std::string name(a.name.begin(), a.name.end());
    return a.where + " attribute \"" + name + "\" " + Shown(a.value) + " set to " + Shown(value) +
           (taken ? ", another paragraph's" : "");
}

std::string BookMutator::RemoveString(CodeStreams& code, const Pick& pick) const
{
    const int32_t id = m_namedIds[pick(static_cast<uint32_t>(m_namedIds.size()))];
    Bytes& refs = code.streams.at(m_strings + "\x01m_Ref");
    Bytes& texts = code.streams.at(m_strings + "\x01m_String");
    size_t at = 2;
    for (size_t k = 0; k < Values(refs) && at + 2 <= texts.size(); ++k) {
        const size_t end = at + 2 + 2 * size_t(texts[at] | texts[at + 1] << 8);
        if (static_cast<int32_t>(U32(refs, 2 + 4 * k)) == id) {
            const std::u16string text = Strings(code, m_strings).at(id);
            refs.erase(refs.begin() + static_cast<std::ptrdiff_t>(2 + 4 * k), refs.begin() + static_cast<std::ptrdiff_t>(6 + 4 * k));
            texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(at), texts.begin() + static_cast<std::ptrdiff_t>(std::min(end, texts.size())));
            return "string " + std::to_string(id) + " " + Shown(text) + " taken out of the string table";
        }
        at = end;
    }
    return "";
}

} // namespace kesto_test
