#include "Plugin/Filter/Exporter.h"

#include "Foundation/ErrorCodes.h"
#include "Plugin/Filter/KestoBox.h"
#include "Plugin/Shell/KestoException.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "Container/Storage/Errors.h"
#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Filter/Attrib_KS.h"
#include "Plugin/Filter/CodePage_KS.h"
#include "Plugin/Filter/Hidden.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/MasterPages.h"
#include "Plugin/Mixer/Progress.h"
#include "Plugin/QAPI/QHandle.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoInterface.h"
#include "platform/host/documents/XTFlowSuites.h"
#include "platform/host/documents/XTValueSuites.h"

using KS_DWX::Export::IAttrs;
using KS_DWX::Export::IPara;
using KS_DWX::Export::IRun;
using KS_DWX::Export::IStory;

namespace {

constexpr const char* kExporterFile = "Exporter.cpp";

// Run opcodes of the paragraph runs.
constexpr uint32_t kTextRun = 0;
constexpr uint32_t kAnchoredItem = 1;
constexpr uint32_t kPageLast = 5;
constexpr uint32_t kPageNext = 7;

// Kinds of the characters a text run cache collects.
constexpr int32_t kKindUnicode = 16;
constexpr int32_t kKindMultibyte = 32;
constexpr int32_t kKindSpecialByte = 64;
constexpr int32_t kKindWide = 128;

// Code page 5 stands for the run's own code page.
constexpr int32_t kOwnCodePage = 5;

// A page number above this one belongs to a box off the pages.
constexpr int16_t kLastPageNumber = 2000;
// A line record's position at or above this one is not set.
constexpr uint32_t kInvalidPosition = 0x72222222;
constexpr int32_t kLineRecordBytes = 64;

int8_t g_skipProcessHidden = -1;

bool SkipProcessHidden()
{
    if (g_skipProcessHidden < 0) {
        SettingsFile* settings = Settings.GetIf();
        g_skipProcessHidden = settings && settings->GetSkipProcessHidden() ? 1 : 0;
    }
    return g_skipProcessHidden != 0;
}

bool MultiDocMode()
{
    KestoInterface* state = KestoInterface::Instance();
    return state && state->m_multiDocMode;
}

bool ExtendedMode()
{
    KestoInterface* state = KestoInterface::Instance();
    return state && state->m_extendedMode;
}

bool MasterPageModeOne()
{
    SettingsFile* settings = Settings.GetIf();
    return settings && settings->GetMasterPageMode() == 1;
}

std::u16string Widen(const char* text)
{
    std::u16string wide;
    for (const char* p = text; p && *p; ++p)
        wide.push_back(static_cast<char16_t>(static_cast<uint8_t>(*p)));
    return wide;
}

void SetText(IAttrs* attributes, const char16_t* name, const std::u16string& value)
{
    attributes->SetAttr(name, value.c_str());
}

void SetNumber(IAttrs* attributes, const char16_t* name, int32_t value)
{
    KS_DWX::Export::SetNumericAttr(attributes, name, value, false);
}

// The run attributes' view of an element of the Book.
class AttrsWriter final : public RunAttrWriter {
public:
    explicit AttrsWriter(IAttrs* attributes) : mAttributes(attributes) {}
    bool SetAttr(const std::u16string& name, const std::u16string& value) override
    {
        return mAttributes->SetAttr(name.c_str(), value.c_str());
    }

private:
    IAttrs* mAttributes;
};

void WriteRunAttributes(IAttrs* run, const RunAttribs& attribs, int32_t codePage)
{
    AttrsWriter writer(run);
    attribs.WriteSelf(writer, codePage);
}

uint32_t Word(const uint8_t* record, int index)
{
    const uint8_t* p = record + index * 4;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

float Points(uint32_t measure)
{
    return static_cast<float>(static_cast<int32_t>(measure)) / 65536.0f;
}

// Collects the characters of one style run and writes them as few runs as possible: a change
// of kind or code page starts the next run.
class TextRunCache {
public:
    TextRunCache(const RefPtr<IPara>& paragraph, const RunAttribs& attribs, uint32_t length)
        : mParagraph(paragraph), mAttribs(attribs), mCodePage(static_cast<int32_t>(attribs.FontCodePage()))
    {
        mBuffer.reserve(length);
    }
    ~TextRunCache() { Flush(); }
    TextRunCache(const TextRunCache&) = delete;
    TextRunCache& operator=(const TextRunCache&) = delete;

    void AddChar(char16_t character, bool highFlag)
    {
        if (IsControlSpecialChar(character)) {
            Put(character, kKindWide, kOwnCodePage);
            return;
        }
        const CharRecord* record = FindSpecialCharRecord(character, highFlag);
        if (!record) {
            Put(character, kKindUnicode, kUnicodeCodePage);
            return;
        }
        const int32_t runCodePage = static_cast<int32_t>(mAttribs.FontCodePage());
        switch (record->flags) {
        case kCharSpecialByte:
            Put(character & 0xFF, kKindSpecialByte, runCodePage);
            break;
        case kCharMapped:
        case kCharMapped | 1:
        case kCharUnicode:
            Put(record->unicode, kKindUnicode,
                runCodePage == static_cast<int32_t>(kNoCodePage) ? 1252 : runCodePage);
            break;
        case kCharUnchanged:
            Put(record->unicode ? record->unicode : character, kKindUnicode, kOwnCodePage);
            break;
        default:
            break;  // dropped
        }
    }

    // Writes what is pending as one run (none when nothing is).
    void Flush()
    {
        if (mBuffer.empty())
            return;
        const int32_t bytes = static_cast<int32_t>(mBuffer.size() * 2);
        RefPtr<IAttrs> run;
        switch (mKind) {
        case kKindUnicode:
            mParagraph->Unicodes(run, mBuffer.data(), bytes, -1);
            break;
        case kKindWide:
            mParagraph->WideMultibytes(run, mBuffer.data(), bytes / 2, -1);
            break;
        case kKindMultibyte: {
            std::string narrow(mBuffer.begin(), mBuffer.end());
            mParagraph->Multibytes(run, narrow.data(), static_cast<int32_t>(narrow.size()), -1);
            break;
        }
        case kKindSpecialByte: {
            RefPtr<IRun<CF_SpecialChar>> specials;
            for (uint16_t byte : mBuffer) {
                const SpecialCharRow* row = FindSpecialCharRow(byte);
                if (!row)
                    continue;
                if (!specials)
                    mParagraph->SpecialChars(specials, -1);
                const std::u16string name = Widen(row->name);
                const std::u16string qualifier = Widen(row->qualifier);
                KS_DWX::Export::AddSpecialChar(specials, name.c_str(), row->qualifier ? qualifier.c_str() : nullptr);
            }
            run = specials;
            break;
        }
        default:
            break;
        }
        if (run) {
            WriteRunAttributes(run.Get(), mAttribs, mCodePage);
            ++mRuns;
        }
        mBuffer.clear();
    }

    int32_t RunsWritten() const { return mRuns; }

private:
    void Put(uint16_t unit, int32_t kind, int32_t codePage)
    {
        if (kind != mKind || codePage != mCodePage) {
            Flush();
            mKind = kind;
            mCodePage = codePage;
        }
        mBuffer.push_back(unit);
    }

    RefPtr<IPara> mParagraph;
    const RunAttribs& mAttribs;
    std::vector<uint16_t> mBuffer;
    int32_t mCodePage;
    int32_t mKind = kKindMultibyte;
    int32_t mRuns = 0;
};

// The text of [start, end) of the story through the cache; answers the runs written.
int32_t ExportText(const RefPtr<IPara>& paragraph, QStoryText& text, int32_t start, int32_t end,
                   const RunAttribs& attribs)
{
    if (end <= start)
        return 0;
    const auto length = static_cast<uint32_t>(end - start);
    TextRunCache cache(paragraph, attribs, length);
    QHandle<char16_t> block;
    try {
        block.Assign(nullptr, length + 1);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (CallHost<XTY_Chars>(text.GetTextHandle(true), start, static_cast<int32_t>(length), block.Element(0)) != XT_OK)
        return 0;
    const bool high = attribs.HasHighFlag();
    for (uint32_t i = 0; i < length; ++i)
        cache.AddChar(block[i], high);
    cache.Flush();
    return cache.RunsWritten();
}

} // namespace

bool EndsHostParagraph(XTHandle text, int32_t position, int32_t storyLength)
{
    if (position >= storyLength)
        return true;
    char16_t last = 0;
    return position > 0 && CallHost<XTY_Chars>(text, position - 1, 1, &last) == XT_OK && last == 0x0D;
}

bool FindParagraphLine(XTHandle text, int32_t start, int32_t end, ParagraphLine& out)
{
    int32_t size = 0;
    std::vector<uint8_t> records;
    if (CallHost<XTY_RangeLineRecords>(text, start, end, nullptr, &size) == XT_OK && size > 0) {
        records.resize(static_cast<size_t>(size));
        if (CallHost<XTY_RangeLineRecords>(text, start, end, records.data(), &size) != XT_OK)
            records.clear();
        else
            records.resize(static_cast<size_t>(size) / kLineRecordBytes * kLineRecordBytes);
    }
    const size_t count = records.size() / kLineRecordBytes;
    bool first = true;
    float heightSum = 0.0f;
    float firstHeight = 0.0f;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* line = records.data() + i * kLineRecordBytes;
        const uint32_t position = Word(line, 2);
        if (position >= kInvalidPosition)
            continue;
        const float lineHeight = Points(Word(line, 5));
        if (first)
            firstHeight = lineHeight;
        first = false;
        heightSum += lineHeight;
        if (static_cast<int32_t>(Word(line, 0) + Word(line, 1)) != end)
            continue;
        out.top = Points(position);
        out.left = Points(Word(line, 3));
        out.measure = Points(Word(line, 4));
        out.height = std::fmax(heightSum, firstHeight);
        return true;
    }
    return false;
}

// ---- Free functions --------------------------------------------------------------------------

bool ReadBoxRecord(XTHandle box, XTBoxRecord& fields)
{
    XTHandle record = 0;
    if (!box || CallHost<XXC_GetRecord>(0, box, 0, &record) != XT_OK || !record)
        return false;
    const bool read = CallHost<XXC_ReadRecord>(record, &fields) == XT_OK;
    debug_check(CallHost<XXC_ReleaseRecord>(record, 1));
    return read;
}

bool PageNumberOfBox(XTHandle box, bool viewOnMaster, int32_t& number)
{
    int16_t page = 0;
    if (CallHost<XPH_PageOfBox>(box, &page) != XT_OK)
        return false;
    number = page;
    if (page <= kLastPageNumber)
        return true;
    // Off the pages: the page of the box's spread stands in.
    XTHandle spread = 0;
    if (CallHost<XDD_SpreadOfBox>(box, &spread) != XT_OK || !spread)
        return false;
    int16_t index = 0;
    if (!viewOnMaster && (CallHost<XPH_PageIndexOfBox>(spread, box, &index) != XT_OK || index < 0))
        index = 0;
    XTPageRec record{};
    if (CallHost<XPH_PageRecord>(spread, index, &record) != XT_OK)
        return false;
    number = record.number;
    return true;
}

bool ReadBoxFrame(XTHandle box, bool viewOnMaster, BoxFrame& frame)
{
    XTBoxRecord fields{};
    if (!ReadBoxRecord(box, fields))
        return false;
    float angle = MeasureToFloat(fields.angle);
    const XTRect& bounds = fields.shape == 5 ? fields.bounds : fields.bounds2;
    float left = MeasureToFloat(bounds.left);
    float top = MeasureToFloat(bounds.top);
    const float right = MeasureToFloat(bounds.right);
    const float bottom = MeasureToFloat(bounds.bottom);
    if (angle < 0)
        angle += 360.0f;

    frame.onPage = PageNumberOfBox(box, viewOnMaster, frame.page);
    int32_t pageLeft = 0, pageTop = 0;
    GetBoxPageBounds(box, &pageLeft, &pageTop, nullptr, nullptr);
    frame.originX = static_cast<float>(pageLeft) / 65536.0f;
    frame.originY = static_cast<float>(pageTop) / 65536.0f;

    const float width = right - left;
    const float height = bottom - top;
    if (angle != 0.0f) {
        // The box turns about its centre: its position is where its first corner went.
        const double radians = angle * 0.01745;
        const double halfW = width / 2.0;
        const double halfH = height / 2.0;
        const double cx = left + halfW;
        const double cy = top + halfH;
        left = static_cast<float>(cx - (halfW * std::cos(radians) + halfH * std::sin(radians)));
        top = static_cast<float>(cy - (halfH * std::cos(radians) - halfW * std::sin(radians)));
    }
    frame.angle = angle;
    frame.left = left;
    frame.top = top;
    frame.width = width;
    frame.height = height;
    return true;
}

bool ParseUniqueId(XTHandle text, int32_t position, int32_t& id)
{
    uint8_t chars[10] = {};
    if (ReadStoryChars(text, position, 9, chars) != XT_OK)
        return false;
    const char* field = reinterpret_cast<const char*>(chars) + 1;
    if (std::strlen(field) != 8)
        return false;
    int value = 0;
    int used = 0;
    if (std::sscanf(field, "%8d%n", &value, &used) != 1 || used != 8)
        return false;
    id = value;
    return true;
}

float MeasureToFloat(int32_t value)
{
    char text[64] = {};
    if (CallHost<XAQ_MeasureText>(value, 100, text, static_cast<int32_t>(sizeof text)) != XT_OK)
        return static_cast<float>(value) / 65536.0f;
    if (char* comma = std::strchr(text, ','))
        *comma = '.';
    // The host's text always has a point now; the process locale must not read it otherwise.
    static const locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    const locale_t previous = c ? uselocale(c) : static_cast<locale_t>(0);
    float result = 0.0f;
    if (std::sscanf(text, "%f", &result) != 1)
        result = 0.0f;
    if (c)
        uselocale(previous);
    return result;
}

int32_t ReadStoryChars(XTHandle text, int32_t offset, int32_t count, uint8_t* out)
{
    if (count <= 0 || !out)
        return count == 0 ? XT_OK : XT_ERR_PARAM;
    std::vector<char16_t> units(static_cast<size_t>(count));
    const int32_t result = CallHost<XTY_Chars>(text, offset, count, units.data());
    if (result == XT_OK)
        for (int32_t i = 0; i < count; ++i)
            out[i] = static_cast<uint8_t>(units[static_cast<size_t>(i)] & 0xFF);
    return result;
}

std::unique_ptr<Exporter> CreateExporter(QuarkDoc* document, KS_DWX::Export::IDoc* exportDoc, UniqIdSet* uniqIds)
{
    if (!document || !exportDoc || !uniqIds)
        return nullptr;
    return std::make_unique<Exporter>(*document, *exportDoc, *uniqIds);
}

// ---- Exporter --------------------------------------------------------------------------------

Exporter::Exporter(QuarkDoc& document, KS_DWX::Export::IDoc& exportDoc, UniqIdSet& uniqIds)
    : Exporter(document, &exportDoc, uniqIds)
{
}

Exporter::Exporter(QuarkDoc& document, KS_DWX::Export::IDoc* exportDoc, UniqIdSet& uniqIds)
    : mDocument(RefPtr<QuarkDoc>::Share(&document)), mExportDoc(RefPtr<KS_DWX::Export::IDoc>::Share(exportDoc)),
      mUniqIds(&uniqIds)
{
    AnaliseDocument();
    // Without its working boxes the export would store no formatting samples.
    if (!dynamic_cast<KestoBoxExp*>(PrivateBox()))
        throw KestoException(ErrorCode::Unexpected,
                             MsgString("the host made no working box for the export (it cannot number another box)"));
}

Exporter::~Exporter() = default;

void Exporter::ForgetSkipProcessHidden()
{
    g_skipProcessHidden = -1;
}

void Exporter::ExportDocument()
{
    for (int32_t i = 0;; ++i) {
        const XTHandle box = FindBox(i);
        if (!box)
            break;
        if (!MultiDocMode() && StoryCount() > 0 && Progress())
            Progress()->SetPosition(30u + (40u * static_cast<uint32_t>(i)) / static_cast<uint32_t>(StoryCount()));
        ExportBox(i, box);
    }
}

Exporter::MasterInfo Exporter::ClassifyBox(int32_t index, XTHandle box, ct_Box* record)
{
    MasterInfo info;
    if (!box)
        return info;
    bool noUse = false;
    if (MasterPageModeOne()) {
        const ct_Box classified(static_cast<uint32_t>(box), 0);
        int16_t spread = 0;
        info.boxClass = ClassifyMasterBox(classified, &spread);
        if (info.boxClass == BoxClassMasterUsed)
            info.subType = u"master_page";
        noUse = info.boxClass == BoxClassMasterUnused;
        if (record)
            *record = classified;
    } else {
        XTBoxRecord fields{};
        if (ReadBoxRecord(box, fields) && fields.master != 0) {
            noUse = ViewOnMaster();
            if (!noUse)
                info.subType = u"master_page";
        }
    }
    if (noUse) {
        info.subType = u"master_page_no_use";
        const auto found = UnusedMasterMap().find(index);
        info.masterIndex = found != UnusedMasterMap().end() ? found->second : 0;
    }
    return info;
}

void Exporter::ExportBox(int32_t index, XTHandle box)
{
    if (!mExportDoc)
        return;
    RefPtr<IStory> story;
    mExportDoc->CreateStory(story, index);
    if (!story)
        return;
    CallHost<XWQ_BringViewToFront>(xt_getdocviewref(nullptr));
    QStoryText text(box);
    QStoryCursor cursor(text);

    if (mLayoutKind >= kLayoutPrint && mLayoutKind <= kLayoutCurrent) {
        static const char* const kPrefixes[] = {"layout_prn", "layout_web", "layout_cur"};
        char type[32];
        std::snprintf(type, sizeof type, "%s%d", kPrefixes[mLayoutKind - 1], static_cast<int>(mLayoutNumber));
        SetText(story.Get(), u"story_type", Widen(type));
    }

    ct_Box record;
    const MasterInfo master = ClassifyBox(index, box, &record);
    if (master.subType)
        SetText(story.Get(), u"story_sub_type", master.subType);
    const int32_t boxClass = master.boxClass;
    const int32_t masterIndex = master.masterIndex;

    if (ExtendedMode())
        ExportLayer(box, RefPtr<IAttrs>(story), true, true);
    ExportCoords(box, story.Get(), 0, 0, false, false, masterIndex);

    const bool skipHidden = SkipProcessHidden();
    const bool documentFlag = !mDocument->WasFlagSet();
    const XTHandle handle = text.GetTextHandle(true);

    int32_t paraNumber = 0;
    RefPtr<IPara> para;
    int32_t paraStart = 0;
    bool styleRuns = false;
    while (cursor.HasMore()) {
        const uint32_t paraIndex = cursor.GetParaIndex();
        const uint32_t opcode = cursor.GetRunKind();
        if (!para) {
            story->CreatePara(para, paraNumber, -1);
            if (!para)
                break;
            paraStart = cursor.GetPosition();
            styleRuns = false;
        }

        while (cursor.HasMore() && cursor.GetParaIndex() == paraIndex) {
            styleRuns = true;
            const int32_t start = cursor.GetPosition();
            const int32_t end = cursor.NextBoundary();
            const RunAttribs attribs(cursor.GetCharAttributes(), GetPrivateId(RunKeyAt(cursor)), documentFlag,
                                     mDocument->Fonts());
            const int32_t codePage = static_cast<int32_t>(attribs.FontCodePage());
            bool wholeRun = false;

            if (opcode == kTextRun) {
                if (boxClass == BoxClassLinkedAutotext)
                    LogMasterBox(record, "Export => skipping autotext box", index);
                else
                    ExportText(para, text, start, end, attribs);
            } else if (opcode == kAnchoredItem) {
                XTHandle item = 0;
                CallHost<XBY_AnchoredBox>(text.GetTextHandle(true), start, &item);
                // The id the connection gave the item: a linked box's own link id, any other
                // anchored item one of its own, so the import finds the marker by it.
                QStoryCursor lookup = cursor;
                int32_t linkId = -1;
                if (item <= 0) {
                    ReportInternalError(kExporterFile, __LINE__);
                } else if (!GetHiddenId(lookup, linkId)) {
                    AssertFail(kExporterFile, __LINE__, "0");
                } else {
                    RefPtr<IRun<CF_PlaceHolder>> run;
                    para->PlaceHolders(run, -1);
                    KS_DWX::Export::AddPlaceHolder(run, linkId, nullptr);
                    WriteRunAttributes(run.Get(), attribs, codePage);
                }
            } else if (opcode >= kPageLast && opcode <= kPageNext) {
                static const char16_t* const kPages[] = {u"Last", u"Curr", u"Next"};
                RefPtr<IRun<CF_SpecialChar>> run;
                para->SpecialChars(run, -1);
                for (int32_t i = start; i < end; ++i)
                    KS_DWX::Export::AddSpecialChar(run, u"page_number", kPages[opcode - kPageLast]);
                WriteRunAttributes(run.Get(), attribs, codePage);
            } else if (opcode == kUniqueIdRunKind) {
                wholeRun = true;
                int32_t id = 0;
                if (ParseUniqueId(handle, start, id)) {
                    if (id > mLargestUniqID)
                        mLargestUniqID = id;
                    if (IsWrittenUniqueId(id) && mUniqIds->insert(id).second)
                        SetNumber(para.Get(), u"uniqID", id);
                }
            } else if (skipHidden) {
                wholeRun = true;
                GeneralLogStream() << "*** Object(s) not been exported: para=" << std::dec << paraNumber
                                   << "  opcode=" << opcode << std::endl;
            } else {
                wholeRun = true;
                ExportObjectRun(para, cursor, opcode, attribs);
            }

            if (wholeRun) {
                while (cursor.HasMore() && cursor.GetParaIndex() == paraIndex)
                    cursor.Next();
            } else if (cursor.HasMore() && cursor.GetPosition() == start) {
                cursor.Next();
            }
        }

        // A unique-id marker opens the paragraph run behind it: both are one paragraph of the
        // Book, which carries the id, so that the import puts the id back once, at its start.
        if (OpensNextParagraphRun(opcode, cursor))
            continue;
        if (styleRuns)
            ExportCoords(box, para.Get(), paraStart, cursor.GetPosition(), true, true, masterIndex);
        para.Reset();
        ++paraNumber;
    }
}

void Exporter::ExportObjectRun(const RefPtr<IPara>& para, QStoryCursor& cursor, uint32_t opcode,
                               const RunAttribs& attribs)
{
    HiddenRecord hidden;
    FindHidden(hidden, cursor);
    if (hidden.id == -1)
        return;
    const int32_t codePage = static_cast<int32_t>(attribs.FontCodePage());
    if ((opcode & 0xE0) == 0) {
        RefPtr<IRun<CF_PlaceHolder>> run;
        para->PlaceHolders(run, -1);
        KS_DWX::Export::AddPlaceHolder(run, hidden.id, nullptr);
        WriteRunAttributes(run.Get(), attribs, codePage);
        return;
    }
    const uint32_t type = OpenParenOpcode(opcode) & 0x60;
    if (type == 0x20)
        return;
    const char16_t* refType = u"point";
    if (type == 0x40)
        refType = (opcode & 0x60) == 0x40 ? u"start" : u"end";
    RefPtr<IRun<CF_RefPoint>> run;
    para->RefPoints(run, -1);
    KS_DWX::Export::AddRefPoint(run, hidden.id, refType);
    WriteRunAttributes(run.Get(), attribs, codePage);
}

void Exporter::ExportCoords(XTHandle box, IAttrs* attributes, int32_t start, int32_t end, bool paragraph,
                            bool withStyle, int32_t masterIndex)
{
    if (!box || !attributes)
        return;
    if (withStyle) {
        QStory story(box);
        int32_t sheetId = -1;
        XTStyleSheetRec sheet{};
        if (CallHost<XTY_RangeAttribute>(story.GetTextHandle(true), start, end, XT_TEXT_ATTRIBUTE_STYLE_SHEET,
                                         &sheetId) == XT_OK &&
            sheetId >= 0 && GetStyleSheet(sheetId, true, &sheet))
            SetText(attributes, u"stylename", Widen(sheet.name));
    }

    BoxFrame frame;
    if (!ReadBoxFrame(box, ViewOnMaster(), frame))
        return;
    if (frame.onPage) {
        int32_t page = frame.page;
        if (masterIndex != 0)
            page -= 3 + MasterSpreadCount();
        SetNumber(attributes, u"sectional_pos", page);
    }
    if (frame.angle != 0.0f)
        SetNumber(attributes, u"angle", frame.Angle());
    const float width = frame.width;
    const float originX = frame.originX;
    const float originY = frame.originY;

    if (!paragraph) {
        SetNumber(attributes, u"horizontal_pos", frame.Horizontal());
        SetNumber(attributes, u"vertical_pos", frame.Vertical());
        SetNumber(attributes, u"width", frame.Width());
        SetNumber(attributes, u"height", frame.Height());
        return;
    }

    QStory story(box);
    ParagraphLine line;
    if (FindParagraphLine(story.GetTextHandle(true), start, end, line)) {
        mLastGeometry.vertical = static_cast<int32_t>(line.top - originY);
        mLastGeometry.horizontal = static_cast<int32_t>(line.left - originX);
        mLastGeometry.width = static_cast<int32_t>(std::fmin(std::fabs(width), line.measure));
        mLastGeometry.height = static_cast<int32_t>(line.height);
    }
    SetNumber(attributes, u"horizontal_pos", mLastGeometry.horizontal);
    SetNumber(attributes, u"vertical_pos", mLastGeometry.vertical);
    SetNumber(attributes, u"width", mLastGeometry.width);
    SetNumber(attributes, u"height", mLastGeometry.height);
}

bool Exporter::ExportLayer(XTHandle box, RefPtr<IAttrs> attributes, bool textBoxesOnly, bool skipMasterBoxes)
{
    if (!box || !attributes)
        return false;
    if (skipMasterBoxes) {
        uint8_t master = 0;
        if (CallHost<XBY_IsOnMaster>(box, 0, &master) == XT_OK && master)
            return false;
    }
    if (textBoxesOnly) {
        uint8_t isText = 0;
        if (CallHost<XIG_IsTextBox>(box, &isText) != XT_OK || !isText)
            return false;
    }
    int32_t layer = 0;
    if (CallHost<XBY_LayerOfBox>(box, &layer) != XT_OK)
        return false;
    char16_t name[256] = {};
    if (CallHost<XBY_LayerName>(layer, name, 256) != XT_OK)
        return false;
    SetText(attributes.Get(), u"layer_name", WCharsToWString(name));
    uint8_t visible = 0;
    if (CallHost<XBY_LayerVisible>(layer, &visible) == XT_OK)
        SetText(attributes.Get(), u"layer_visibility", visible ? u"show" : u"hide");
    return true;
}
