// Reading a written exchange container back the way any reader would: the Book, its documents,
// stories, paragraphs and runs, their attributes, streams and records.
#pragma once

#include <string>
#include <vector>

#include "Container/Model/BookReaders.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/OLEStorage.h"

namespace bridge_test {

// The whole model view of a written container, opened the way any reader would.
class ModelView {
public:
    explicit ModelView(const std::string& path)
        : m_root(path.c_str(), CD_OpenRead), m_storage(OpenDWX2(m_root)),
          m_book(m_storage->OpenFolder2())
    {
    }
    ~ModelView() { m_storage->Release(); }

    DWX_Book_In2& Book() { return m_book; }
    DWX_StringsMap& Strings() { return m_book.StringsMap(); }

    DWX_Handle<DWX_InFolder2> Document(int32_t i)
    {
        DWX_DocumentsSet_In2 set(m_book.OpenDocumentsSet(DWX_Names::DocumentsSet), DWX_Names::Document);
        return set.OpenElement(i);
    }
    static DWX_Handle<DWX_InFolder2> Story(const DWX_Handle<DWX_InFolder2>& doc, int32_t i)
    {
        DWX_Document_In2 d(doc);
        DWX_StoriesSet_In2 set(d.OpenStoriesSet(DWX_Names::StoriesSet), DWX_Names::Story);
        return set.OpenElement(i);
    }
    static DWX_Handle<DWX_InFolder2> Para(const DWX_Handle<DWX_InFolder2>& story, int32_t i)
    {
        DWX_Story_In2 s(story);
        DWX_ParagraphsSet_In2 set(s.OpenParagraphsSet(DWX_Names::ParagraphsSet), DWX_Names::Paragraph);
        return set.OpenElement(i);
    }
    static DWX_Handle<DWX_InFolder2> Run(const DWX_Handle<DWX_InFolder2>& para, int32_t i)
    {
        DWX_Paragraph_In2 p(para);
        return p.OpenTextRun(i, DWX_Names::TextRun);
    }

    // The text of an element's attribute, "<absent>" when it has none.
    std::u16string Attr(DWX_ProcessorWithAttrs_In2& reader, const char16_t* name)
    {
        reader.LoadAttrsSet(DWX_Names::Attrs, Strings());
        const char16_t* value = reader.AttrsSet().GetAttrValue(name, Strings());
        return value ? value : u"<absent>";
    }
    std::u16string Attr(const DWX_Handle<DWX_InFolder2>& folder, const char16_t* name)
    {
        DWX_TextRun_In2 reader(folder);
        return Attr(reader, name);
    }

private:
    OLEStorage m_root;
    DWX_InStorage2* m_storage;
    DWX_Book_In2 m_book;
};

template <class Unit>
std::vector<Unit> ReadAll(const DWX_Handle<DWX_InStream2>& stream)
{
    std::vector<Unit> units;
    Unit unit;
    auto& typed = dynamic_cast<DWX_In<Unit>&>(*stream);
    while (typed.GetData(&unit, 1) == 1)
        units.push_back(unit);
    return units;
}

template <class Rec>
std::vector<Rec> ReadRecords(const DWX_Handle<DWX_InBundle2>& bundle)
{
    std::vector<Rec> records;
    Rec record;
    while (bundle->GetRecord(record))
        records.push_back(record);
    return records;
}

// Python's zlib and olefile, independent of this code, on the stored documents.
// Arguments: the container, the stream name, the file to write the inflated bytes to.
inline const char* const kInflateScript = R"(
import sys, zlib, olefile
ole = olefile.OleFileIO(sys.argv[1])
data = ole.openstream(['VerbantPluginPrivateData', 'KestoExportTemplates', sys.argv[2]]).read()
d = zlib.decompressobj()
out = d.decompress(data) + d.flush()
assert data[:2] == b'\x78\x9c', data[:2]
assert d.eof, 'stream not ended'
assert d.unused_data == b'', 'bytes after the end'
open(sys.argv[3], 'wb').write(out)
print('ok')
)";

} // namespace bridge_test
