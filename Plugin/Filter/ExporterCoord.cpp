#include "Plugin/Filter/ExporterCoord.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <utility>

#include "Container/Storage/Errors.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/HostText.h"
#include "platform/fs/NativeFS.h"
#include "platform/host/documents/XTDocSuites.h"

namespace {

constexpr const char* kExporterCoordFile = "ExporterCoord.cpp";

constexpr uint32_t kAnchoredItem = 1;

// Degrees to radians, as the coordinates file has always turned its lines (the exchange export
// keeps its own, shorter factor).
constexpr double kRadiansPerDegree = 0.017453292519943295;

// A text exporter of the document into the stream, or null when a part is missing or memory is
// short (the map's analysis included).
template <class T, class Stream>
std::unique_ptr<T> CreateTextExporter(QuarkDoc* document, Stream* out, UniqIdSet* uniqIds)
{
    if (!document || !out || !uniqIds)
        return nullptr;
    try {
        return std::make_unique<T>(*document, *out, *uniqIds);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

// ---- Coordinates -------------------------------------------------------------------------------

void WriteCoordHead(std::ostream& out, const std::string& sourcePath)
{
    const std::string rule(80, '-');
    const char* const lines[] = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>",
        "<!--",
        rule.c_str(),
        "Paragraph coordinates:",
        sourcePath.c_str(),
        rule.c_str(),
        "-->",
    };
    // LF alone, whatever the platform: the file is read byte by byte.
    for (const char* line : lines)
        out << line << '\n' << std::flush;
}

ExporterCoord::ExporterCoord(QuarkDoc& document, std::ostream& out, UniqIdSet& uniqIds)
    : Exporter(document, nullptr, uniqIds), mOut(&out)
{
}

void ExporterCoord::ExportBox(int32_t index, XTHandle box)
{
    mBoxIndex = index;
    QStoryText text(box);
    QStoryCursor cursor(text);
    const XTHandle handle = text.GetTextHandle(true);
    const auto storyLength = static_cast<int32_t>(text.ConstructionLength());

    // A line per host paragraph (ended by a return): the cursor's paragraph runs split it at
    // every object, the unique-id marker included, and the marker names the paragraph it opens.
    while (cursor.HasMore()) {
        const int32_t start = cursor.GetPosition();
        int32_t end = start;
        int32_t uid = -1;
        bool runs = false;
        do {
            const uint32_t paraIndex = cursor.GetParaIndex();
            const uint32_t opcode = cursor.GetRunKind();
            const int32_t runStart = cursor.GetPosition();
            while (cursor.HasMore() && cursor.GetParaIndex() == paraIndex) {
                runs = true;
                const int32_t position = cursor.GetPosition();
                end = cursor.NextBoundary();
                if (opcode == kAnchoredItem) {
                    XTHandle item = 0;
                    int32_t linkId = 0;
                    if (CallHost<XBY_AnchoredBox>(text.GetTextHandle(true), position, &item) != XT_OK || item <= 0 ||
                        !IsLinked(item, &linkId))
                        AssertFail(kExporterCoordFile, __LINE__, "0");
                } else if (opcode == kUniqueIdRunKind && position == runStart) {
                    int32_t id = 0;
                    if (ParseUniqueId(handle, position, id)) {
                        uid = id;
                        if (id > mLargestUniqID)
                            mLargestUniqID = id;
                        if (id != -1 && mOut->good())
                            mUniqIds->insert(id);
                    }
                }
                cursor.Next();
            }
        } while (cursor.HasMore() && !EndsHostParagraph(handle, cursor.GetPosition(), storyLength));
        if (!runs)
            break;
        *mOut << "<coord><p";
        WriteParagraph(box, text, start, end, uid, true);
        *mOut << "/></coord>\n";
    }
}

void ExporterCoord::WriteAttr(const char* name, int32_t value)
{
    *mOut << ' ' << name << "=\"" << value << '"';
}

void ExporterCoord::WriteParagraph(XTHandle box, QStoryText& story, int32_t start, int32_t end, int32_t uid,
                                   bool paragraph)
{
    WriteAttr("uid", uid);

    XTBoxRecord fields{};
    const bool haveBox = ReadBoxRecord(box, fields);
    float angle = 0.0f;
    float left = 0.0f, top = 0.0f, right = 0.0f, bottom = 0.0f;
    if (haveBox) {
        angle = MeasureToFloat(fields.angle);
        const XTRect& bounds = fields.shape == 5 ? fields.bounds : fields.bounds2;
        left = MeasureToFloat(bounds.left);
        top = MeasureToFloat(bounds.top);
        right = MeasureToFloat(bounds.right);
        bottom = MeasureToFloat(bounds.bottom);
        if (angle < 0)
            angle += 360.0f;
    }

    // The page the exchange export gives the box as its "sectional_pos".
    int32_t page = 0;
    if (PageNumberOfBox(box, ViewOnMaster(), page)) {
        if (MasterIndexOf(mBoxIndex, box) != 0)
            page -= 3 + MasterSpreadCount();
        WriteAttr("page", page);
    }

    const auto wholeAngle = static_cast<int32_t>(angle);
    const double radians = angle * kRadiansPerDegree;
    const double width = right - left;
    const double height = bottom - top;
    if (wholeAngle != 0)
        WriteAttr("angle", wholeAngle);

    int32_t pageLeft = 0, pageTop = 0;
    GetBoxPageBounds(box, &pageLeft, &pageTop, nullptr, nullptr);
    const double originX = pageLeft / 65536.0;
    const double originY = pageTop / 65536.0;

    if (!paragraph) {
        WriteAttr("x_pos", static_cast<int32_t>(left - originX));
        WriteAttr("y_pos", static_cast<int32_t>(top - originY));
        WriteAttr("width", static_cast<int32_t>(std::fabs(width)));
        WriteAttr("height", static_cast<int32_t>(std::fabs(height)));
        return;
    }

    ParagraphLine line{};
    if (haveBox && FindParagraphLine(story.GetTextHandle(true), start, end, line)) {
        double x = line.left;
        double y = line.top;
        if (wholeAngle != 0) {
            // The host's line records stand in the unturned box; the line's start is turned with
            // the box about its centre (counter-clockwise with y downwards), as the box's own
            // corner is by the exchange export.
            const double cx = left + width / 2.0;
            const double cy = top + height / 2.0;
            const double dx = x - cx;
            const double dy = y - cy;
            x = cx + dx * std::cos(radians) + dy * std::sin(radians);
            y = cy - dx * std::sin(radians) + dy * std::cos(radians);
        }
        mLastGeometry.vertical = static_cast<int32_t>(y - originY);
        mLastGeometry.horizontal = static_cast<int32_t>(x - originX);
        mLastGeometry.width = static_cast<int32_t>(std::fmin(std::fabs(width), std::fabs(line.measure)));
        mLastGeometry.height = static_cast<int32_t>(std::fabs(line.height));
        WriteAttr("y_pos", mLastGeometry.vertical);
        WriteAttr("x_pos", mLastGeometry.horizontal);
    } else {
        WriteAttr("x_pos", mLastGeometry.horizontal);
        WriteAttr("y_pos", mLastGeometry.vertical);
    }
    WriteAttr("width", std::abs(mLastGeometry.width));
    WriteAttr("height", std::abs(mLastGeometry.height));
}

std::unique_ptr<ExporterCoord> CreateExporterCoord(QuarkDoc* document, std::ostream* out, UniqIdSet* uniqIds)
{
    return CreateTextExporter<ExporterCoord>(document, out, uniqIds);
}

// ---- XTags -------------------------------------------------------------------------------------

ReplacingText::ReplacingText(std::string path) : mPath(std::move(path))
{
    const std::size_t separator = mPath.find_last_of("/\\");
    platform::fs::Status folder;
    mFolder = separator == std::string::npos ||
              (platform::fs::GetStatus(mPath.substr(0, std::max<std::size_t>(separator, 1)), folder) &&
               folder.isDirectory);
}

bool ReplacingText::good() const
{
    return mFolder && std::ostringstream::good();
}

bool ReplacingText::Commit()
{
    if (mCommitted || !good())
        return false;
    mCommitted = true;
    return platform::fs::ReplaceFile(mPath, str()) == 0;
}

WideTextFile::WideTextFile(const std::string& path) : mFile(path) {}

void WideTextFile::Write(const std::u16string& text)
{
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    mFile.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void WideTextFile::WriteUtf8(const std::string& text)
{
    Write(ToHostText(text));
}

bool WideTextFile::Close()
{
    return mFile.Commit();
}

void WriteTgxHead(WideTextFile& out, const std::string& sourcePath)
{
    out.Write(u"\xFEFF");
    out.Write(u"<Header>\n");
    out.Write(u"<QxpSource>\"");
    out.WriteUtf8(sourcePath);
    out.Write(u"\"</QxpSource>\n");
    out.Write(u"</Header>\n");
}

ExporterTgx::ExporterTgx(QuarkDoc& document, WideTextFile& out, UniqIdSet& uniqIds)
    : Exporter(document, nullptr, uniqIds), mOut(&out)
{
}

void ExporterTgx::ExportDocument()
{
    // The file says once that this host cannot give XTags, however many layouts it has.
    if (mOut->TagLineWritten())
        return;
    WriteTag(u"\tERROR: TGX export needs a version of QuarkXPress 8 (or later)", -1);
    mOut->SetTagLineWritten();
}

void ExporterTgx::WriteTag(const std::u16string& text, int32_t number)
{
    const std::string digits = std::to_string(number);
    mOut->Write(u"<XTag " + std::u16string(digits.begin(), digits.end()) + u">" + text + u"\n");
}

std::unique_ptr<ExporterTgx> CreateExporterTgx(QuarkDoc* document, WideTextFile* out, UniqIdSet* uniqIds)
{
    return CreateTextExporter<ExporterTgx>(document, out, uniqIds);
}
