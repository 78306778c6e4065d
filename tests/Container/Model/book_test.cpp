// The book tree: the golden minimal book, a full round trip, and damaged books.
#include "BookData.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/Errors.h"
#include "FileFixture.h"
#include "ModelDump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

using namespace model_test;

Bytes TableRecord(const std::string& name, int32_t index, uint32_t number) {
  // Laid out in a buffer of its final size: length word, name with its zero, index, number.
  Bytes bytes(4 + name.size() + 1 + 8, 0);
  auto word = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(v >> (8 * i));
  };
  word(0, uint32_t(name.size() + 1));
  std::copy(name.begin(), name.end(), bytes.begin() + 4);
  word(4 + name.size() + 1, uint32_t(index));
  word(4 + name.size() + 5, number);
  return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(Book, GoldenMinimalBook) {
  MemoryCodeFile file;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    DWX_Book_Out2 book(root);
    book.SaveAttrsSet(DWX_Names::Attrs);
  }
  const FolderPath strings{{"Book/", 0}, {"StringsMap{}", 0}};
  EXPECT_EQ(StreamBytes(file.Medium(), strings, "m_Ref"),
            LongStream({24, 3, 10, 12, 26, 28, 15, 27, 7, 8, 11, 13, 2, 22, 4,
                        17, 14, 9, 16, 18, 19, 25, 6, 21, 0, 20, 5, 1, 23}));
  EXPECT_EQ(StreamBytes(file.Medium(), strings, "m_String"),
            WideStringStream({u"", u"-1", u"0", u"0xFFFF", u"1", u"2", u"bold", u"build_number",
                              u"cell_id", u"cell_width", u"codepage", u"direction", u"field_id",
                              u"hidden", u"index_id", u"italic", u"left-to-right", u"listlevel",
                              u"off", u"outline", u"overline", u"release_number", u"row_id",
                              u"shadow", u"source_data_type", u"strike", u"table_id", u"unknown",
                              u"variable_name"}));
  EXPECT_EQ(StreamBytes(file.Medium(), strings, "m_String").size(), 470u);
  const FolderPath attrs{{"Book/", 0}, {"Attrs{}", 0}};
  EXPECT_EQ(StreamBytes(file.Medium(), attrs, "m_NameRef"),
            LongStream({0, 2, 4, 5, 6, 7, 8, 9, 11, 13, 15, 17, 18, 19, 20, 21, 22, 23, 25, 27}));
  EXPECT_EQ(StreamBytes(file.Medium(), attrs, "m_ValueRef"),
            LongStream({1, 3, 3, 3, 3, 3, 3, 10, 12, 14, 16, 16, 16, 16, 16, 16, 16, 24, 26, 28}));
  const Bytes bookTable = TableBytes(file.Medium(), {{"Book/", 0}});
  EXPECT_EQ(bookTable, Concat({TableRecord("Attrs{}", 0, 1), TableRecord("ObjectsPool/", 0, 0),
                               TableRecord("StringsMap{}", 0, 2)}));
  EXPECT_EQ(bookTable.size(), 70u);
  EXPECT_EQ(TableBytes(file.Medium(), {}), TableRecord("Book/", 0, 0));
  EXPECT_TRUE(TableBytes(file.Medium(), {{"Book/", 0}, {"ObjectsPool/", 0}}).empty());

  // Read back: the string table first, then the defaults, then the stored attributes.
  DWX_Book_In2 book(OpenDWXFolder2(file.Medium()));
  ASSERT_TRUE(book.Valid());
  EXPECT_EQ(book.StringsMap().size(), 29u);
  EXPECT_EQ(book.AttrsSet().OwnAttrs().size(), 20u);
  EXPECT_EQ(std::u16string(book.AttrsSet().GetAttrValue(u"build_number", book.StringsMap())), u"2");
  EXPECT_FALSE(book.OpenDocumentsSet(DWX_Names::DocumentsSet));
}

int g_warnings = 0;
void CountWarning(FilterException&) { ++g_warnings; }

// Finishing raises only from the explicit call; the destructors report and go on.
TEST(Book, FinishFailuresRaiseOnlyFromTheExplicitCall) {
  SetWarningMessenger(CountWarning);
  g_warnings = 0;
  {
    MemoryCodeFile file;
    auto root = CreateDWXFolder2(file.Medium(), false);
    DWX_Book_Out2 book(root);
    root->Complete();  // nothing can be added from here on
    EXPECT_THROW(book.Finish(), FilterException);
  }
  g_warnings = 0;
  {
    MemoryCodeFile file;
    auto root = CreateDWXFolder2(file.Medium(), false);
    auto book = std::make_unique<DWX_Book_Out2>(root);
    root->Complete();
    EXPECT_NO_THROW(book.reset());
  }
  EXPECT_GE(g_warnings, 1);
  SetWarningMessenger(nullptr);
}

// Strings interned after the book's attributes were saved still reach the table, which is
// written last.
TEST(Book, StringTableIsWrittenLast) {
  MemoryCodeFile file;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    DWX_Book_Out2 book(root);
    book.SaveAttrsSet(DWX_Names::Attrs);
    DWX_DocumentsSet_Out2 documents(book.CreateDocumentsSet(DWX_Names::DocumentsSet),
                                    DWX_Names::Document);
    DWX_Document_Out2 document(documents.CreateElement(0));
    document.AttrsSet().AddAttr(u"source_platform", u"win", book.StringsMap());
    document.SaveAttrsSet(DWX_Names::Attrs);
  }
  DWX_Book_In2 book(OpenDWXFolder2(file.Medium()));
  EXPECT_EQ(book.StringsMap().find(u"source_platform"), 29);
  EXPECT_EQ(book.StringsMap().find(u"win"), 30);
}

class BookFile : public model_test::FileFixture {
 protected:
  BookFile() : FileFixture("kesto-book-", "full.dwq") {}
};

// Runs an independent reader of compound files over the file and answers its listing.
std::string ListWithOlefile(const std::string& path) {
  const std::string command =
      "/usr/bin/python3 -c \"import olefile,sys; o=olefile.OleFileIO(sys.argv[1]); "
      "print(' '.join(sorted('/'.join(e) + ':' + str(o.get_size('/'.join(e))) "
      "for e in o.listdir())))\" '" + path + "' 2>&1";
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

TEST_F(BookFile, FullBookReadsBackAsWritten) {
  BookData written = FullBook();
  {
    OLEStorage root(m_path.c_str(), CD_CreateWrite);
    DWX_OutStorage2* container = CreateDWX2(root, false);
    {
      auto folder = container->CreateFolder2();
      WriteBook(written, folder);
      folder->Complete();
    }
    OLEStream(*container->PrivateData(), u"0", CD_CreateWrite).PutData("doc", 3);
    container->Release();
    root.Flush();
  }
  OLEStorage root(m_path.c_str(), CD_OpenRead);
  DWX_InStorage2* container = OpenDWX2(root);
  BookData read;
  read = ReadBook(container->OpenFolder2());
  container->Release();

  // The book's attributes read back: the defaults, release and build numbers and the caller's.
  DWX_StringsMap scratch;
  DWX_AttrsSet expected;
  expected.SetDefaultValues(scratch);
  expected.AddAttr(DWX_Names::ReleaseNumber, DWX_Names::ReleaseNumberValue, scratch);
  expected.AddAttr(DWX_Names::BuildNumber, DWX_Names::BuildNumberValue, scratch);
  for (const auto& [name, value] : written.attrs) expected.AddAttr(name.c_str(), value.c_str(), scratch);
  written.attrs = AttrsOf(expected, scratch);
  // The colour rule defined the partners of the one colour component given.
  for (auto& doc : written.documents)
    for (auto& story : doc.stories)
      for (auto& paragraph : story.paragraphs)
        paragraph.runs[0].attrs = {{u"fore_color_red", u"255"}, {u"fore_color_green", u"0"},
                                   {u"fore_color_blue", u"0"}};
  EXPECT_TRUE(read == written);
  ASSERT_EQ(read.documents.size(), 2u);
  EXPECT_EQ(read.documents[1].stories[1].paragraphs[1].runs[0].units,
            written.documents[1].stories[1].paragraphs[1].runs[0].units);
  EXPECT_EQ(read.documents[0].styles[1], written.documents[0].styles[1]);

  const std::string listing = ListWithOlefile(m_path);
  EXPECT_NE(listing.find("VerbantTextAndCode/VerbantCodeFile:"), std::string::npos) << listing;
  EXPECT_NE(listing.find("VerbantPluginPrivateData/0:3"), std::string::npos) << listing;
}

TEST(Book, RunContentAndStyleReferences) {
  MemoryCodeFile file;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    auto run = root->CreateFolder("TextRun[]/", 0);
    DWX_MultibytesRun_Out2 writer(run);
    auto text = writer.CreateMultibytes(DWX_Names::Multibytes);
    dynamic_cast<DWX_Out<char>&>(*text).PutData("ab", 2);
    auto special = root->CreateFolder("TextRun[]/", 1);
    DWX_SpecialCharsRun_Out2 specials(special);
    specials.CreateSpecialChars(DWX_Names::SpecialChars)->PutRecord(DWX_SpecialChar_Rec_Out());
    root->CreateFolder("TextRun[]/", 2)->CreateStream(ft_Long, DWX_Names::StyleRef, 0);
    DWX_StyleInfo_Out2 style(root->CreateFolder("StyleInfo[]/", 0));
    style.SaveThisStyleRef(-1, DWX_Names::ThisStyleRef);
  }
  EXPECT_EQ(DumpCodeFile(file.Medium()),
            "StyleInfo[]/ [0]\n"
            "  ThisStyleRef : long -1\n"
            "TextRun[]/ [0]\n"
            "  !1:Multibytes : char 97 98\n"
            "TextRun[]/ [1]\n"
            "  !1:SpecialChars{} [0]\n"
            "    m_DataRef : long -1\n"
            "    m_NameRef : long -1\n"
            "TextRun[]/ [2]\n"
            "  StyleRef : long\n");

  auto root = OpenDWXFolder2(file.Medium());
  DWX_TextRun_In2 run(root->OpenFolder("TextRun[]/", 0));
  EXPECT_FALSE(run.OpenUnicodes(DWX_Names::Multibytes));  // a char stream, not units
  EXPECT_FALSE(run.OpenUnicodes(DWX_Names::Unicodes));
  EXPECT_TRUE(run.OpenMultibytes(DWX_Names::Multibytes));
  dwx_long style = 5;
  EXPECT_FALSE(run.LoadStyleRef(style, DWX_Names::StyleRef));
  EXPECT_EQ(style, 5);

  DWX_TextRun_In2 empty(root->OpenFolder("TextRun[]/", 2));
  EXPECT_FALSE(empty.OpenMultibytes(DWX_Names::Multibytes));
  EXPECT_FALSE(empty.OpenWideMultibytes(DWX_Names::WideMultibytes));
  EXPECT_FALSE(empty.OpenSpecialChars(DWX_Names::SpecialChars));
  EXPECT_FALSE(empty.OpenRefPoints(DWX_Names::RefPoints));
  EXPECT_FALSE(empty.OpenPlaceHolders(DWX_Names::PlaceHolders));
  EXPECT_FALSE(empty.OpenTextVariables("!1:TextVariables{}"));
  EXPECT_TRUE(empty.LoadStyleRef(style, DWX_Names::StyleRef));  // present without a value
  EXPECT_EQ(style, -1);
}

// Readers over nothing answer nothing, and never reach through a null folder.
TEST(Book, InvalidReadersAnswerEmpty) {
  MemoryCodeFile file;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    root->CreateFolder("Other/", 0);
  }
  DWX_Book_In2 book(OpenDWXFolder2(file.Medium()));
  EXPECT_FALSE(book.Valid());
  EXPECT_EQ(book.StringsMap().size(), 0u);
  EXPECT_TRUE(book.AttrsSet().OwnAttrs().empty());
  EXPECT_FALSE(book.OpenDocumentsSet(DWX_Names::DocumentsSet));
  EXPECT_FALSE(book.LoadAttrsSet(DWX_Names::Attrs));
  EXPECT_THROW(book.Folder(), FilterException);
  EXPECT_THROW(book.ObjectsPool(), FilterException);

  DWX_Book_In2 nothing{DWX_Handle<DWX_InFolder2>()};
  EXPECT_FALSE(nothing.Valid());
  const DWX_Handle<DWX_InFolder2> none;
  DWX_DocumentsSet_In2 documents(none, DWX_Names::Document);
  EXPECT_FALSE(documents.OpenElement(0));
  DWX_Document_In2 document(none);
  EXPECT_FALSE(document.OpenStoriesSet(DWX_Names::StoriesSet));
  EXPECT_FALSE(document.OpenStylesSet(DWX_Names::StylesSet));
  EXPECT_FALSE(document.OpenTextVariablesSet("TextVariablesSet/"));
  DWX_Story_In2 story(none);
  EXPECT_FALSE(story.OpenParagraphsSet(DWX_Names::ParagraphsSet));
  DWX_Paragraph_In2 paragraph(none);
  EXPECT_FALSE(paragraph.OpenTextRun(0, DWX_Names::TextRun));
  dwx_long id = 3;
  EXPECT_FALSE(paragraph.LoadStyleRef(id, DWX_Names::StyleRef));
  DWX_StyleInfo_In2 style(none);
  EXPECT_FALSE(style.LoadThisStyleRef(id, DWX_Names::ThisStyleRef));
  EXPECT_EQ(id, 3);
  DWX_TextRun_In2 run(none);
  EXPECT_FALSE(run.OpenUnicodes(DWX_Names::Unicodes));
  EXPECT_FALSE(run.LoadAttrsSet(DWX_Names::Attrs, book.StringsMap()));
}

TEST(Book, WithoutAttributesHoldsTheDefaults) {
  MemoryCodeFile file;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    DWX_Book_Out2 book(root);
  }
  DWX_Book_In2 book(OpenDWXFolder2(file.Medium()));
  ASSERT_TRUE(book.Valid());
  EXPECT_EQ(book.AttrsSet().OwnAttrs().size(), 18u);
  EXPECT_NO_THROW(book.ObjectsPool());
}

// Damaged books are reported, never read as valid.
TEST(Book, DamagedBooksAreReported) {
  auto expectShortRead = [](MemoryCodeFile& file) {
    try {
      DWX_Book_In2 book(OpenDWXFolder2(file.Medium()));
      ReadBook(OpenDWXFolder2(file.Medium()));
      ADD_FAILURE() << "a damaged book was read";
    } catch (const FilterException& e) {
      EXPECT_EQ(e.Code(), FE_CodeFileShortRead);
    }
  };
  {
    SCOPED_TRACE("no string table");
    MemoryCodeFile file;
    {
      auto root = CreateDWXFolder2(file.Medium(), false);
      auto book = root->CreateFolder(DWX_Names::Book, 0);
      book->CreateBundle(DWX_Attr_Rec(), DWX_Names::Attrs, 0)
          ->PutRecord(DWX_Attr_Rec_Out(CF_Attr{0, 1}));
    }
    expectShortRead(file);
  }
  {
    SCOPED_TRACE("attribute id out of range");
    MemoryCodeFile file;
    {
      auto root = CreateDWXFolder2(file.Medium(), false);
      DWX_Book_Out2 book(root);
      auto attrs = book.Folder().CreateBundle(DWX_Attr_Rec(), DWX_Names::Attrs, 0);
      attrs->PutRecord(DWX_Attr_Rec_Out(CF_Attr{0, 1000}));
    }
    expectShortRead(file);
  }
  {
    SCOPED_TRACE("run attribute id out of range");
    MemoryCodeFile file;
    {
      auto root = CreateDWXFolder2(file.Medium(), false);
      DWX_Book_Out2 book(root);
      book.SaveAttrsSet(DWX_Names::Attrs);
      DWX_DocumentsSet_Out2 documents(book.CreateDocumentsSet(DWX_Names::DocumentsSet),
                                      DWX_Names::Document);
      documents.CreateElement(0)
          ->CreateBundle(DWX_Attr_Rec(), DWX_Names::Attrs, 0)
          ->PutRecord(DWX_Attr_Rec_Out(CF_Attr{-7, 2}));
    }
    expectShortRead(file);
  }
  {
    SCOPED_TRACE("truncated text stream");
    MemoryCodeFile file;
    {
      auto code = CreateCodeFile(file.Medium(), false);
      auto root = CreateCodeFolder(*code);
      auto book = root->CreateFolder(DWX_Names::Book, 0);
      auto strings = book->CreateFolder(DWX_Names::StringsMap, 0);
      for (auto [name, bytes] : {std::pair<const char*, Bytes>{"m_Ref", LongStream({0, 1})},
                                 {"m_String", {11, 0, 1, 0, 'a', 0, 5, 0, 'b'}}}) {
        auto stream = strings->CreateStream(name, 0, cf_Stored);
        stream->PutData(bytes.data(), uint32_t(bytes.size()));
        stream->Finish();
      }
      strings->Finish();
      book->Finish();
      root->Finish();
      code->Finish();
    }
    expectShortRead(file);
  }
  {
    SCOPED_TRACE("code file cut short");
    MemoryCodeFile whole;
    WriteBook(BookData(), CreateDWXFolder2(whole.Medium(), false));
    for (uint32_t keep : {whole.code.Size() / 2, whole.code.Size() - 5, 6u}) {
      MemoryCodeFile cut;
      cut.code.PutData(whole.code.Data(), keep);
      cut.summary.PutData(whole.summary.Data(), whole.summary.Size());
      try {
        DWX_Book_In2 book(OpenDWXFolder2(cut.Medium()));
        EXPECT_FALSE(book.Valid()) << keep;
      } catch (const FilterException&) {
      }
    }
  }
}

}  // namespace
