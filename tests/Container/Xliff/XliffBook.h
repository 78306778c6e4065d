// A small exchange Book for the XLIFF bridge's tests, written through the book writers, and the
// runs of a merged Book read back as "format:text" lines.
#pragma once

#include "Container/Model/BookReaders.h"
#include "Container/Model/BookWriters.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/OLEStorage.h"
#include "Container/Xliff/Paragraph.h"
#include "Container/Xliff/XmlText.h"
#include "tests/Container/Model/ParagraphsBook.h"

#include <string>
#include <vector>

namespace xliff_test {

// A run to write: kind 'u' Unicodes text, 's' a special character (text holds "name/data"), 'r' a
// reference point of the type in text, 'p' a placeholder; format names its "private" sample ("A"
// main, "B" bold); codePage its "codepage" (none when empty).
struct RunSpec {
  char kind;
  std::u16string text;
  std::u16string format = u"A";
  std::u16string codePage = {};
};
using ParagraphSpec = std::vector<RunSpec>;
using StorySpec = std::vector<ParagraphSpec>;

inline void WriteBook(const std::string& path, const std::vector<StorySpec>& stories) {
  paragraphs_book::WriteStoriesBook(path, int(stories.size()), [&](int s, DWX_Story_Out2& story,
                                                                   DWX_ParagraphsSet_Out2& paragraphs,
                                                                   DWX_StringsMap& strings) {
    for (size_t p = 0; p < stories[size_t(s)].size(); ++p) {
      DWX_Paragraph_Out2 paragraph(paragraphs.CreateElement(dwx_long(p)));
      paragraph.SaveStyleRef(2, DWX_Names::StyleRef);
      const ParagraphSpec& runs = stories[size_t(s)][p];
      for (size_t r = 0; r < runs.size(); ++r) {
        kesto::xliff::RunData run;
        const RunSpec& spec = runs[r];
        run.hasAttrs = true;
        const bool bold = spec.format == u"B";
        run.attrs = {{strings[u"private"], strings[spec.format]},
                     {strings[u"typeface"], strings[u"Arial"]},
                     {strings[u"bold"], strings[bold ? u"on" : u"off"]},
                     {strings[u"size"], strings[u"24"]}};
        if (!spec.codePage.empty()) run.attrs.push_back({strings[u"codepage"], strings[spec.codePage]});
        switch (spec.kind) {
          case 'u':
            run.kind = kesto::xliff::RunData::Unicodes;
            run.text = spec.text;
            break;
          case 's': {
            run.kind = kesto::xliff::RunData::SpecialChars;
            const size_t slash = spec.text.find(u'/');
            run.specials.push_back({strings[spec.text.substr(0, slash)], strings[spec.text.substr(slash + 1)]});
            break;
          }
          case 'r':
            run.kind = kesto::xliff::RunData::RefPoints;
            run.refPoints.push_back({7, -1, strings[spec.text]});
            run.attrs.clear();
            break;
          default:
            run.kind = kesto::xliff::RunData::PlaceHolders;
            run.placeHolders.push_back({9, strings[u"box"]});
            run.attrs.clear();
            break;
        }
        kesto::xliff::WriteRun(paragraph, dwx_long(r), run, nullptr);
      }
      paragraph.AttrsSet().AddAttr(u"uniqID", u"5", strings);
      paragraph.SaveAttrsSet(DWX_Names::Attrs);
    }
    story.AttrsSet().AddAttr(u"story_type", u"layout_cur0", strings);
  });
}

// The runs of one paragraph of the Book at path, one "format:content" item each: text runs give
// their sample (and "/" and their code page where they have one) and text, record runs their
// kind and count ("s2", "r1", "p1").
inline std::vector<std::string> RunsOf(const std::string& path, dwx_long story, dwx_long paragraph) {
  OLEStorage root(path.c_str(), CD_OpenRead);
  DWX_InStorage2* container = OpenDWX2(root);
  std::vector<std::string> out;
  {
    DWX_Handle<DWX_InFolder2> folder = container->OpenFolder2();
    DWX_Book_In2 book(folder);
    auto documents = book.OpenDocumentsSet(DWX_Names::DocumentsSet);
    auto document = documents->OpenFolder(DWX_Names::Document, 0);
    auto stories = document->OpenFolder(DWX_Names::StoriesSet, 0);
    auto s = stories->OpenFolder(DWX_Names::Story, story);
    auto paragraphs = s->OpenFolder(DWX_Names::ParagraphsSet, 0);
    auto p = paragraphs->OpenFolder(DWX_Names::Paragraph, paragraph);
    kesto::xliff::ParagraphData data;
    uint64_t characters = 0;
    kesto::xliff::ReadParagraph(*p, paragraph, data, characters);
    for (const auto& run : data.runs) {
      std::string sample = "-";
      std::string codePage;
      for (const CF_Attr& a : run.attrs) {
        const std::u16string name = book.StringsMap()[a.m_NameRef];
        if (name == u"private") sample = kesto::xliff::ToUtf8(book.StringsMap()[a.m_ValueRef]);
        if (name == u"codepage") codePage = "/" + kesto::xliff::ToUtf8(book.StringsMap()[a.m_ValueRef]);
      }
      sample += codePage;
      switch (run.kind) {
        case kesto::xliff::RunData::Unicodes: out.push_back(sample + ":" + kesto::xliff::ToUtf8(run.text)); break;
        case kesto::xliff::RunData::SpecialChars: out.push_back("s" + std::to_string(run.specials.size())); break;
        case kesto::xliff::RunData::RefPoints: out.push_back("r" + std::to_string(run.refPoints.size())); break;
        case kesto::xliff::RunData::PlaceHolders: out.push_back("p" + std::to_string(run.placeHolders.size())); break;
        default: out.push_back("?"); break;
      }
    }
  }
  container->Release();
  return out;
}

}  // namespace xliff_test
