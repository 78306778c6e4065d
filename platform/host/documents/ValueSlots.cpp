#include "platform/host/documents/ValueSlots.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "platform/host/Suites.h"
#include "platform/host/documents/DocSlots.h"
#include "platform/host/Text.h"
#include "platform/host/documents/XTValueSuites.h"

namespace xthost {

using namespace doc;

namespace {

DocHost& (*g_docsOf)(Host&) = nullptr;
DocHost& D() { return g_docsOf(*Host::Current()); }

struct ValueSession {
    bool comma = false;
};

// As the documents: a host at a new address or with another application folder starts afresh.
ValueSession& ValuesOf(Host& host)
{
    static struct {
        Host* host = nullptr;
        std::string app;
        ValueSession values;
    } session;
    if (session.host != &host || session.app != host.AppFolder()) {
        session.host = &host;
        session.app = host.AppFolder();
        session.values = ValueSession();
    }
    return session.values;
}

int Decimals(int32_t precision)
{
    switch (precision) {
    case 1: return 0;
    case 10: return 1;
    case 100: return 2;
    case 1000: return 3;
    case 10000: return 4;
    default: return -1;
    }
}

int32_t MeasureTextSlot(int32_t measure, int32_t precision, char* buffer, int32_t size)
{
    if (!buffer || size <= 0 || Decimals(precision) < 0)
        return XT_ERR_PARAM;
    const bool comma = DecimalComma(*Host::Current());
    std::string text;
    const int32_t result = D().Wrap("VAL-1", false,
                                    [&] { return "value.measure " + std::to_string(measure) + " precision=" + std::to_string(precision); },
                                    [&] {
                                        text = MeasureText(measure, precision, comma);
                                        return XT_OK;
                                    });
    return result == XT_OK ? CopyOutText(text, buffer, size) : result;
}

// The story of a text handle, or of the current box for a null one.
bool StoryOf(int32_t text, DocHost::Target* target)
{
    if (text == 0) {
        int32_t box = 0, length = 0;
        if (D().CurrentBox(&box) != XT_OK || box == 0 || D().StoryOfBox(box, &text, &length) != XT_OK)
            return false;
    }
    return D().ResolveText(text, "VAL-2", target);
}

// The offsets at which the story's paragraphs after the first start, kept while the documents
// do not change, so that finding a position's paragraph does not read the text before it.
const std::vector<int32_t>& ParagraphBreaks(DocHost& docs, const Story& story)
{
    static uint64_t generation = 0;
    static std::unordered_map<const Story*, std::vector<int32_t>> cache;
    if (generation != docs.Generation()) {
        cache.clear();
        generation = docs.Generation();
    }
    auto it = cache.find(&story);
    if (it == cache.end()) {
        std::vector<int32_t> breaks;
        for (size_t i = 0; i < story.text.size(); ++i)
            if (story.text[i] == u'\r')
                breaks.push_back(static_cast<int32_t>(i + 1));
        it = cache.emplace(&story, std::move(breaks)).first;
    }
    return it->second;
}

int32_t RangeAttributeSlot(XTHandle text, int32_t start, int32_t end, int32_t code, int32_t* value)
{
    if (!value || code != XT_TEXT_ATTRIBUTE_STYLE_SHEET)
        return XT_ERR_PARAM;
    return D().Wrap("VAL-2", false,
                    [&] { return "value.range-attribute story=" + Hex(static_cast<uint32_t>(text)) + " start=" + std::to_string(start) +
                                 " end=" + std::to_string(end) + " code=" + std::to_string(code); },
                    [&] {
                        DocHost::Target t;
                        if (!StoryOf(text, &t))
                            return HostErr::BadRef;
                        const Story& story = *t.story;
                        const auto length = static_cast<int32_t>(story.text.size());
                        if (start < 0 || end < start || end > length)
                            return HostErr::BadRef;
                        // The paragraphs from the one holding start to the one holding the
                        // range's last character.
                        const std::vector<int32_t>& breaks = ParagraphBreaks(D(), story);
                        auto paragraphAt = [&breaks](int32_t pos) {
                            return static_cast<size_t>(std::upper_bound(breaks.begin(), breaks.end(), pos) - breaks.begin());
                        };
                        const size_t first = paragraphAt(start);
                        const size_t last = std::min(paragraphAt(end > start ? end - 1 : start), story.paras.size() - 1);
                        int32_t style = -1;
                        for (size_t p = first; p <= last; ++p) {
                            const ParaFormat* f = t.project->paraFormats.Find(story.paras[p]);
                            const int32_t s = f ? f->style : -1;
                            style = p == first || s == style ? s : -1;
                            if (style == -1)
                                break;
                        }
                        *value = style;
                        return HostErr::Ok;
                    });
}

}  // namespace

std::string MeasureText(int32_t measure, int32_t precision, bool comma)
{
    const int decimals = Decimals(precision);
    if (decimals < 0)
        return std::string();
    // |measure| / 65536 in parts of 1/precision, halves away from zero.
    const bool negative = measure < 0;
    const int64_t magnitude = negative ? -static_cast<int64_t>(measure) : measure;
    const int64_t parts = (magnitude * precision + 32768) / 65536;
    std::string digits = std::to_string(parts / precision);
    std::string fraction = decimals > 0 ? std::to_string(parts % precision) : std::string();
    fraction.insert(0, static_cast<size_t>(decimals) - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    std::string text = (negative && parts != 0 ? "-" : "") + digits;
    if (!fraction.empty())
        text += (comma ? "," : ".") + fraction;
    return text;
}

void SetDecimalComma(Host& host, bool comma) { ValuesOf(host).comma = comma; }
bool DecimalComma(Host& host) { return ValuesOf(host).comma; }

void RegisterValueSlots(HostExtensions& extensions, DocHost& (*docsOf)(Host&))
{
    g_docsOf = docsOf;
    XTHOST_DEFINE_SLOT(XAQ_MeasureText, MeasureTextSlot);
    XTHOST_DEFINE_SLOT(XTY_RangeAttribute, RangeAttributeSlot);
    extensions.AddVerb("decimal", {"decimal comma|point", "the decimal separator of the measures the host writes", false,
                                   [](VerbContext& c, std::string& error) {
        if (c.line.words.size() != 2 || (c.line.words[1] != "comma" && c.line.words[1] != "point")) {
            error = "expected decimal comma|point";
            return false;
        }
        SetDecimalComma(c.host, c.line.words[1] == "comma");
        c.host.Note(std::string("decimal ") + c.line.words[1]);
        return true;
    }});
}

}  // namespace xthost
