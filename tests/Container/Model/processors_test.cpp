// The first-generation book processors: the book walk, containers driven by CreateBook and
// OpenBook, and books that the two generations write and read for each other.
#include "BookProcessorsData.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/Errors.h"
#include "FileFixture.h"
#include "ModelDump.h"

#include <gtest/gtest.h>

namespace {

using namespace model_test;

// A book that does nothing of its own but can tell what the walk handed it.
class EmptyBook : public DWX_Book_Out {
 public:
  void Call(DWX_OutFolder& book) override {
    ++calls;
    // The pool is there for the caller while its Call runs.
    struct One : DWX_OutStreamProcessor {
      void Call(DWX_OutStream& stream) override {
        const dwx_long value = 9;
        dynamic_cast<DWX_Out<dwx_long>&>(stream).PutData(&value, 1);
      }
    } one;
    if (usePool) ObjectsPool().ProcessStream(one, ft_Long, "pooled", 0);
    attrs = AttrsSet().OwnAttrs().size();
    (void)book;
  }
  void TouchPool() { ObjectsPool(); }
  void DocumentsOutsideTheWalk(DWX_OutFolder& folder) {
    EmptyBook other;
    ProcessDocumentsSet(folder, other, DWX_Names::DocumentsSet);
  }

  int calls = 0;
  bool usePool = false;
  size_t attrs = 0;
};

BookData Expected(const BookData& written) {
  // A book read back has the defaults, release and build numbers under the caller's attributes,
  // and the colour rule defined the partners of the one colour component the runs give.
  BookData expected = written;
  DWX_StringsMap scratch;
  DWX_AttrsSet all;
  all.SetDefaultValues(scratch);
  all.AddAttr(DWX_Names::ReleaseNumber, DWX_Names::ReleaseNumberValue, scratch);
  all.AddAttr(DWX_Names::BuildNumber, DWX_Names::BuildNumberValue, scratch);
  for (const auto& [name, value] : written.attrs) all.AddAttr(name.c_str(), value.c_str(), scratch);
  expected.attrs = AttrsOf(all, scratch);
  for (auto& doc : expected.documents)
    for (auto& story : doc.stories)
      for (auto& paragraph : story.paragraphs)
        for (auto& run : paragraph.runs)
          if (run.attrs.count(u"fore_color_red"))
            run.attrs = {{u"fore_color_red", u"255"}, {u"fore_color_green", u"0"},
                         {u"fore_color_blue", u"0"}};
  return expected;
}

void WriteFirst(const BookData& data, MemoryCodeFile& file) {
  auto root = CreateDWXFolder2(file.Medium(), false);
  WriteBookWithProcessors(data, *root);
  root->Complete();
}

void WriteSecond(const BookData& data, MemoryCodeFile& file) {
  WriteBook(data, CreateDWXFolder2(file.Medium(), false));
}

// Writes the book through the creator's walk into the file.
void WalkInto(DWX_Book_Out& book, MemoryCodeFile& file) {
  auto root = CreateDWXFolder2(file.Medium(), false);
  DWX_Book_Out_Creator(book).Call(*root);
  root->Complete();
}

BookData ReadFirst(MemoryCodeFile& file) {
  auto root = OpenDWXFolder2(file.Medium());
  return ReadBookWithProcessors(*root);
}

TEST(BookProcessors, BookThatDoesNothingHoldsPoolAndStringTable) {
  MemoryCodeFile file;
  EmptyBook book;
  WalkInto(book, file);
  EXPECT_EQ(book.calls, 1);
  EXPECT_EQ(book.attrs, 20u);  // 18 defaults, release_number and build_number
  EXPECT_EQ(TableBytes(file.Medium(), {{"Book/", 0}}).size(), 25u + 25u);
  const std::string dump = DumpCodeFile(file.Medium());
  EXPECT_EQ(dump.find("Attrs{}"), std::string::npos) << dump;
  EXPECT_EQ(dump.rfind("Book/ [0]\n  ObjectsPool/ [0]\n  StringsMap{} [0]\n", 0), 0u) << dump;

  // The same table, in the same order, as the second generation's book.
  MemoryCodeFile second;
  { DWX_Book_Out2 book2(CreateDWXFolder2(second.Medium(), false)); }
  EXPECT_EQ(dump, DumpCodeFile(second.Medium()));

  BookReader reader;
  DWX_Book_In_Opener(reader).Call(*OpenDWXFolder2(file.Medium()));
  EXPECT_TRUE(reader.Called());
  EXPECT_EQ(reader.Strings().size(), 29u);
  // Release and build numbers were not stored: only the defaults come back.
  EXPECT_EQ(reader.Data().attrs.size(), 18u);
  EXPECT_EQ(reader.Data().attrs.count(u"build_number"), 0u);
}

TEST(BookProcessors, PoolIsTheCallersOnlyDuringTheWalk) {
  MemoryCodeFile file;
  EmptyBook book;
  book.usePool = true;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    EXPECT_THROW(book.TouchPool(), FilterException);
    EXPECT_THROW(book.DocumentsOutsideTheWalk(*root), FilterException);
    DWX_Book_Out_Creator(book).Call(*root);
    EXPECT_THROW(book.TouchPool(), FilterException);
    root->Complete();
  }
  EXPECT_NE(DumpCodeFile(file.Medium()).find("  ObjectsPool/ [0]\n    pooled : long 9\n"),
            std::string::npos);
}

// A walk that the caller's Call ends with an error leaves the book free for another walk.
TEST(BookProcessors, FailedWalkReleasesItsFolders) {
  struct Failing : EmptyBook {
    bool fail = true;
    void Call(DWX_OutFolder& book) override {
      EmptyBook::Call(book);
      if (fail) Error(FE_StorageMediumFull);
    }
  } book;
  {
    MemoryCodeFile file;
    auto root = CreateDWXFolder2(file.Medium(), false);
    EXPECT_THROW(DWX_Book_Out_Creator(book).Call(*root), FilterException);
  }
  EXPECT_THROW(book.TouchPool(), FilterException);
  book.fail = false;
  MemoryCodeFile file;
  WalkInto(book, file);
  EXPECT_EQ(book.calls, 2);
  EXPECT_EQ(DumpCodeFile(file.Medium()).rfind("Book/ [0]\n  ObjectsPool/ [0]\n  StringsMap{} [0]\n", 0),
            0u);
}

// The two generations store one tree: the same logical dump, the same data read back through
// either generation.
TEST(BookProcessors, GenerationsWriteTheSameTreeAndReadEachOther) {
  const BookData written = FullBook();
  const BookData expected = Expected(written);
  MemoryCodeFile first, second;
  WriteFirst(written, first);
  WriteSecond(written, second);
  EXPECT_EQ(DumpCodeFile(first.Medium()), DumpCodeFile(second.Medium()));

  EXPECT_TRUE(ReadBook(OpenDWXFolder2(first.Medium())) == expected) << "first read by second";
  EXPECT_TRUE(ReadFirst(second) == expected) << "second read by first";
  EXPECT_TRUE(ReadFirst(first) == expected) << "first read by first";
  const BookData read = ReadFirst(second);
  ASSERT_EQ(read.documents.size(), 2u);
  const auto& runs = read.documents[1].stories[1].paragraphs[1].runs;
  ASSERT_EQ(runs.size(), 6u);
  EXPECT_EQ(runs[0].units, written.documents[1].stories[1].paragraphs[1].runs[0].units);
  EXPECT_EQ(runs[3].records[1], RunData::Record());
  EXPECT_EQ(read.documents[0].styles[1], written.documents[0].styles[1]);
}

// Edge shapes: an empty book, runs without content, style references of -1 stored explicitly.
TEST(BookProcessors, GenerationsAgreeOnSparseBooks) {
  BookData sparse;
  sparse.documents.resize(1);
  sparse.documents[0].stories.resize(1);
  sparse.documents[0].stories[0].paragraphs.resize(2);
  sparse.documents[0].stories[0].paragraphs[1].runs = {MakeRun(RunData::Empty, 4),
                                                       MakeRun(RunData::Unicodes)};
  sparse.documents[0].styles.push_back({{}, -1, -1});
  for (const BookData& book : {BookData(), sparse}) {
    MemoryCodeFile first, second;
    WriteFirst(book, first);
    WriteSecond(book, second);
    EXPECT_EQ(DumpCodeFile(first.Medium()), DumpCodeFile(second.Medium()));
    EXPECT_TRUE(ReadFirst(second) == Expected(book));
    EXPECT_TRUE(ReadBook(OpenDWXFolder2(first.Medium())) == Expected(book));
  }
}

// Reading stops after the string table when "ObjectsPool/" is missing: the caller is not run.
TEST(BookProcessors, BookWithoutPoolIsNotWalked) {
  MemoryCodeFile file;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    auto book = root->CreateFolder(DWX_Names::Book, 0);
    DWX_StringsMap_Out strings;
    strings[u"left alone"];
    strings.Store(*book, DWX_Names::StringsMap);
  }
  BookReader reader;
  DWX_Book_In_Opener(reader).Call(*OpenDWXFolder2(file.Medium()));
  EXPECT_FALSE(reader.Called());
  EXPECT_EQ(reader.Strings().size(), 1u);
  EXPECT_EQ(reader.Strings().find(u"left alone"), 0);
}

// A damaged book is reported, as the second generation reports it.
TEST(BookProcessors, BookWithoutStringTableIsReported) {
  MemoryCodeFile file;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    root->CreateFolder(DWX_Names::Book, 0)->CreateFolder(DWX_Names::ObjectsPool, 0);
  }
  BookReader reader;
  try {
    DWX_Book_In_Opener(reader).Call(*OpenDWXFolder2(file.Medium()));
    ADD_FAILURE() << "a book without its string table was read";
  } catch (const FilterException& e) {
    EXPECT_EQ(e.Code(), FE_CodeFileShortRead);
  }
  EXPECT_FALSE(reader.Called());
}

// ---- Text variables and conditional text: kinds only the processors write ----------------

constexpr const char* kVariablesSet = "TextVariablesSet/";
constexpr const char* kVariables = "!1:TextVariables{}";
constexpr const char* kConditionalSet = "ConditionalTextListSet/";
constexpr const char* kConditional = "!1:ConditionalText{}";

template <class Rec>
struct Records : DWX_OutBundleProcessor {
  std::vector<Rec> records;
  void Call(DWX_OutBundle& bundle) override {
    for (const Rec& r : records) bundle.PutRecord(r);
  }
};

struct ConditionalTextWriter : DWX_ConditionalText_Out {
  void Call(DWX_OutFolder& list) override {
    Records<DWX_ConditionalText_Rec_Out> records;
    records.records = {CF_ConditionalText{3, 4}, CF_ConditionalText{}};
    ProcessConditionalText(list, records, kConditional);
  }
};

struct ConditionalListsWriter : DWX_ConditionalTextListSet_Out {
  void Call(DWX_OutFolder& set) override {
    ConditionalTextWriter list;
    ProcessElement(set, list, 0);
  }
};

struct VariableRunWriter : DWX_TextVariablesRun_Out, DWX_ConditionalTextListRun_Out {
  void Call(DWX_OutFolder& run) override {
    Records<DWX_TextVariables_Rec_Out> records;
    records.records = {CF_TextVariables{1, 2}};
    ProcessTextVariables(run, records, kVariables);
    ConditionalListsWriter lists;
    ProcessConditionalTextListSet(run, lists, kConditionalSet);
  }
};

struct VariablesWriter : DWX_TextVariables_Out {
  void Call(DWX_OutFolder& variables) override {
    StoreStyleRef(variables, 6, DWX_Names::StyleRef);
    VariableRunWriter run;
    ProcessText(variables, run, 0, DWX_Names::TextRun);
  }
};

struct VariablesSetWriter : DWX_TextVariablesSet_Out {
  void Call(DWX_OutFolder& set) override {
    VariablesWriter variables;
    ProcessElement(set, variables, 0);
  }
};

struct VariablesDocumentWriter : DWX_Document_Out {
  void Call(DWX_OutFolder& document) override {
    VariablesSetWriter set;
    ProcessTextVariablesSet(document, set, kVariablesSet);
  }
};

struct VariablesBookWriter : DWX_Book_Out {
  void Call(DWX_OutFolder& book) override {
    struct Documents : DWX_DocumentsSet_Out {
      void Call(DWX_OutFolder& set) override {
        VariablesDocumentWriter document;
        ProcessElement(set, document, 0);
      }
    } documents;
    ProcessDocumentsSet(book, documents, DWX_Names::DocumentsSet);
  }
};

// What the reading processors found, as text.
struct Found {
  std::string log;
};

template <class Rec>
struct RecordsIn : DWX_InBundleProcessor {
  std::vector<std::pair<dwx_long, dwx_long>> records;
  void Call(DWX_InBundle& bundle) override {
    for (Rec r; bundle.GetRecord(r); r = Rec()) records.emplace_back(r.m_UIDRef, r.m_ValueRef);
  }
};

// Reads the elements of a set in turn with one Element, up to the first one absent.
template <class Set, class Element>
struct EachElement : Set {
  explicit EachElement(Found& found) : m_found(found) {}
  void Call(DWX_InFolder& set) override {
    Element element(m_found);
    for (dwx_long i = 0; this->ProcessElement(set, element, i); ++i) {}
  }
  Found& m_found;
};

struct ConditionalTextReader : DWX_ConditionalText_In {
  explicit ConditionalTextReader(Found& found) : m_found(found) {}
  void Call(DWX_InFolder& list) override {
    RecordsIn<DWX_ConditionalText_Rec_In> records;
    m_found.log += ProcessConditionalText(list, records, kConditional) ? "conditional" : "none";
    for (auto [uid, value] : records.records)
      m_found.log += " " + std::to_string(uid) + "/" + std::to_string(value);
    m_found.log += ProcessConditionalText(list, records, kVariables) ? " wrong" : ";";
  }
  Found& m_found;
};

struct VariablesReader : DWX_TextVariables_In {
  explicit VariablesReader(Found& found) : m_found(found) {}
  void Call(DWX_InFolder& variables) override {
    dwx_long style = -1;
    RestoreStyleRef(variables, style, DWX_Names::StyleRef);
    m_found.log += "style " + std::to_string(style) + ";";
    struct Run : DWX_TextRun_In {
      explicit Run(Found& found) : m_found(found) {}
      void Call(DWX_InFolder& run) override {
        RecordsIn<DWX_TextVariables_Rec_In> records;
        if (ProcessTextVariables(run, records, kVariables))
          for (auto [uid, value] : records.records)
            m_found.log += "variable " + std::to_string(uid) + "/" + std::to_string(value) + ";";
        EachElement<DWX_ConditionalTextListSet_In, ConditionalTextReader> lists(m_found);
        if (!ProcessConditionalTextListSet(run, lists, kConditionalSet)) m_found.log += "no lists;";
      }
      Found& m_found;
    } run(m_found);
    if (!ProcessText(variables, run, 0, DWX_Names::TextRun)) m_found.log += "no text;";
    if (ProcessText(variables, run, 1, DWX_Names::TextRun)) m_found.log += "extra text;";
  }
  Found& m_found;
};

struct VariablesBookReader : DWX_Book_In {
  Found found;
  void Call(DWX_InFolder& book) override {
    struct Documents : DWX_DocumentsSet_In {
      explicit Documents(Found& found) : m_found(found) {}
      void Call(DWX_InFolder& set) override {
        struct Document : DWX_Document_In {
          explicit Document(Found& found) : m_found(found) {}
          void Call(DWX_InFolder& document) override {
            EachElement<DWX_TextVariablesSet_In, VariablesReader> set(m_found);
            if (!ProcessTextVariablesSet(document, set, kVariablesSet)) m_found.log += "no set;";
            if (ProcessStoriesSet(document, set, DWX_Names::StoriesSet)) m_found.log += "stories;";
          }
          Found& m_found;
        } document(m_found);
        ProcessElement(set, document, 0);
      }
      Found& m_found;
    } documents(found);
    ProcessDocumentsSet(book, documents, DWX_Names::DocumentsSet);
  }
};

TEST(BookProcessors, TextVariablesAndConditionalText) {
  MemoryCodeFile file;
  {
    VariablesBookWriter book;
    WalkInto(book, file);
  }
  const std::string dump = DumpCodeFile(file.Medium());
  EXPECT_NE(dump.find("      TextVariablesSet/ [0]\n"
                      "        TextVariablesDec[]/ [0]\n"
                      "          StyleRef : long 6\n"
                      "          TextRun[]/ [0]\n"
                      "            !1:TextVariables{} [0]\n"
                      "              m_UIDRef : long 1\n"
                      "              m_ValueRef : long 2\n"
                      "            ConditionalTextListSet/ [0]\n"
                      "              ConditionalTextList[]/ [0]\n"
                      "                !1:ConditionalText{} [0]\n"
                      "                  m_UIDRef : long 3 -1\n"
                      "                  m_ValueRef : long 4 -1\n"),
            std::string::npos)
      << dump;

  VariablesBookReader reader;
  DWX_Book_In_Opener(reader).Call(*OpenDWXFolder2(file.Medium()));
  EXPECT_EQ(reader.found.log, "style 6;variable 1/2;conditional 3/4 -1/-1;");

  // The second generation's readers find the same items.
  DWX_Book_In2 book(OpenDWXFolder2(file.Medium()));
  DWX_DocumentsSet_In2 documents(book.OpenDocumentsSet(DWX_Names::DocumentsSet),
                                 DWX_Names::Document);
  DWX_Document_In2 document(documents.OpenElement(0));
  DWX_TextVariablesSet_In2 set(document.OpenTextVariablesSet(kVariablesSet),
                               DWX_Names::TextVariablesDec);
  auto variables = set.OpenElement(0);
  ASSERT_TRUE(variables);
  DWX_TextRun_In2 run(variables->OpenFolder(DWX_Names::TextRun, 0));
  auto bundle = run.OpenTextVariables(kVariables);
  ASSERT_TRUE(bundle);
  DWX_TextVariables_Rec_In record;
  ASSERT_TRUE(bundle->GetRecord(record));
  EXPECT_EQ(record.m_UIDRef, 1);
  EXPECT_EQ(record.m_ValueRef, 2);
  DWX_ConditionalTextListSet_In2 lists(run.Folder().OpenFolder(kConditionalSet, 0),
                                       DWX_Names::ConditionalTextList);
  EXPECT_TRUE(lists.OpenElement(0));
  EXPECT_FALSE(lists.OpenElement(1));
}

// ---- Containers ----------------------------------------------------------------------------

class BookContainer : public model_test::FileFixture {
 protected:
  BookContainer() : FileFixture("kesto-processors-", "book.dwq") {}

  // Runs the reader over the container file; answers what OpenBook answered.
  bool OpenBook(BookReader& book) {
    OLEStorage root(m_path.c_str(), CD_OpenRead);
    DWX_InStorage* container = OpenDWX(root);
    const bool opened = container->OpenBook(book);
    container->Release();
    return opened;
  }
};

TEST_F(BookContainer, CreateBookAndOpenBook) {
  const BookData written = FullBook();
  {
    OLEStorage root(m_path.c_str(), CD_CreateWrite);
    DWX_OutStorage* container = CreateDWX(root);
    BookWriter book(written);
    container->CreateBook(book);
    EXPECT_TRUE(book.Called());
    container->Release();
    root.Flush();
  }
  OLEStorage root(m_path.c_str(), CD_OpenRead);
  DWX_InStorage* container = OpenDWX(root);
  BookReader book;
  EXPECT_TRUE(container->OpenBook(book));
  EXPECT_TRUE(book.Called());
  EXPECT_TRUE(book.Data() == Expected(written));
  container->Release();
  // The second generation reads the same container.
  DWX_InStorage2* second = OpenDWX2(root);
  EXPECT_TRUE(ReadBook(second->OpenFolder2()) == Expected(written));
  second->Release();
}

TEST_F(BookContainer, OpenBookWithoutCodeFileOrBook) {
  {
    OLEStorage root(m_path.c_str(), CD_CreateWrite);
    CreateDWX2(root, false)->Release();  // "VerbantTextAndCode" without a code file
    root.Flush();
  }
  {
    BookReader book;
    EXPECT_FALSE(OpenBook(book));
    EXPECT_FALSE(book.Called());
  }
  {
    OLEStorage root(m_path.c_str(), CD_CreateWrite);
    DWX_OutStorage2* container = CreateDWX2(root, true);
    container->CreateFolder2()->CreateFolder("Other/", 0);
    container->Release();
    root.Flush();
  }
  BookReader book;
  EXPECT_TRUE(OpenBook(book));
  EXPECT_FALSE(book.Called());
}

}  // namespace
