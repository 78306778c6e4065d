// The two text exports of a host document: the paragraph coordinates (".coo"), one line per
// paragraph of every linked text box with its unique id, page, angle, position and size, and the
// XTags file (".tgx"), which this version of the host can only fill with its error tag.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

#include "Plugin/Filter/Exporter.h"

// The coordinates file's head: the XML declaration and the comment that names the source.
void WriteCoordHead(std::ostream& out, const std::string& sourcePath);

class ExporterCoord : public Exporter {
public:
    ExporterCoord(QuarkDoc& document, std::ostream& out, UniqIdSet& uniqIds);

    // The lines of the story linked under index; ExportDocument walks the boxes the map finds in
    // link-id order.
    void ExportBox(int32_t index, XTHandle box) override;
    // The attributes of one line: uid, page, angle (when turned), position and size of the
    // paragraph [start, end) of the box's story.
    void WriteParagraph(XTHandle box, QStoryText& story, int32_t start, int32_t end, int32_t uid, bool paragraph);
    // ` name="value"`.
    void WriteAttr(const char* name, int32_t value);

    int32_t BoxIndex() const { return mBoxIndex; }

private:
    std::ostream* mOut;
    int32_t mBoxIndex = 0;
};

// The text of an output file that replaces its target only when complete: it gathers here and
// Commit writes it beside the target and renames it over the target, so an output that fails or
// is given up leaves a file that was there as it was.
class ReplacingText : public std::ostringstream {
public:
    explicit ReplacingText(std::string path);
    // False when the target's folder is no folder: the text could never reach it.
    bool good() const;
    // Puts the text in place of the target; false when it did not all get there. Once only.
    bool Commit();

private:
    std::string mPath;
    bool mFolder = false;
    bool mCommitted = false;
};

// A file of UTF-16LE text (the XTags file): the byte-order mark first, "\n" as LF alone. It
// takes the place of its target only when closed.
class WideTextFile {
public:
    explicit WideTextFile(const std::string& path);
    bool good() const { return mFile.good(); }
    void Write(const std::u16string& text);
    // UTF-8 text, a byte that is not UTF-8 giving U+FFFD.
    void WriteUtf8(const std::string& text);
    // Puts the text in place of the target; false when the data did not all reach it. Text that
    // is never closed never reaches the target.
    bool Close();
    // Whether the body's tag line was written: one per file, whatever the layouts.
    bool TagLineWritten() const { return mTagLine; }
    void SetTagLineWritten() { mTagLine = true; }

private:
    ReplacingText mFile;
    bool mTagLine = false;
};

// The XTags file's head: the byte-order mark and the three header lines naming the source.
void WriteTgxHead(WideTextFile& out, const std::string& sourcePath);

class ExporterTgx : public Exporter {
public:
    ExporterTgx(QuarkDoc& document, WideTextFile& out, UniqIdSet& uniqIds);

    // The body: the error tag, once per file.
    void ExportDocument();
    // "<XTag " number ">" text "\n".
    void WriteTag(const std::u16string& text, int32_t number);

private:
    WideTextFile* mOut;
};

// A new exporter with the stream, or null when one of them is null or memory is short.
std::unique_ptr<ExporterCoord> CreateExporterCoord(QuarkDoc* document, std::ostream* out, UniqIdSet* uniqIds);
std::unique_ptr<ExporterTgx> CreateExporterTgx(QuarkDoc* document, WideTextFile* out, UniqIdSet* uniqIds);
