#include "Container/Model/BookProcessors.h"

#include "Container/Storage/Errors.h"

namespace {

// A folder the book holds only while its walk runs.
template <class Folder>
Folder& Held(Folder* folder) {
  if (!folder) Error(FE_StorageInvalidPointer);
  return *folder;
}

// Holds a folder of the walk for the time of one scope.
template <class Folder>
class Holding {
 public:
  Holding(Folder*& slot, Folder& folder) : m_slot(slot) { m_slot = &folder; }
  Holding(const Holding&) = delete;
  Holding& operator=(const Holding&) = delete;
  ~Holding() { m_slot = nullptr; }

 private:
  Folder*& m_slot;
};

}  // namespace

// Hands the folder it is given back to the book's walk.
class DWX_Book_Out_Processor : public DWX_OutFolderProcessor {
 public:
  explicit DWX_Book_Out_Processor(DWX_Book_Out& book) : m_book(book) {}
  void Call(DWX_OutFolder& folder) override { m_book.Process(folder); }

 private:
  DWX_Book_Out& m_book;
};

class DWX_Book_In_Processor : public DWX_InFolderProcessor {
 public:
  explicit DWX_Book_In_Processor(DWX_Book_In& book) : m_book(book) {}
  void Call(DWX_InFolder& folder) override { m_book.Process(folder); }

 private:
  DWX_Book_In& m_book;
};

// ---- Writing -------------------------------------------------------------------------------

void DWX_UnicodesRun_Out::ProcessUnicodes(DWX_OutFolder& run, DWX_OutStreamProcessor& processor,
                                          const char* name) {
  run.ProcessStream(processor, ft_UShort, name, 0);
}

void DWX_MultibytesRun_Out::ProcessMultibytes(DWX_OutFolder& run,
                                              DWX_OutStreamProcessor& processor,
                                              const char* name) {
  run.ProcessStream(processor, ft_Char, name, 0);
}

void DWX_WideMultibytesRun_Out::ProcessWideMultibytes(DWX_OutFolder& run,
                                                      DWX_OutStreamProcessor& processor,
                                                      const char* name) {
  run.ProcessStream(processor, ft_UShort, name, 0);
}

void DWX_SpecialCharsRun_Out::ProcessSpecialChars(DWX_OutFolder& run,
                                                  DWX_OutBundleProcessor& processor,
                                                  const char* name) {
  run.ProcessBundle(processor, DWX_SpecialChar_Rec(), name, 0);
}

void DWX_TextVariablesRun_Out::ProcessTextVariables(DWX_OutFolder& run,
                                                    DWX_OutBundleProcessor& processor,
                                                    const char* name) {
  run.ProcessBundle(processor, DWX_TextVariables_Rec(), name, 0);
}

void DWX_RefPointsRun_Out::ProcessRefPoints(DWX_OutFolder& run, DWX_OutBundleProcessor& processor,
                                            const char* name) {
  run.ProcessBundle(processor, DWX_RefPoint_Rec(), name, 0);
}

void DWX_PlaceHoldersRun_Out::ProcessPlaceHolders(DWX_OutFolder& run,
                                                  DWX_OutBundleProcessor& processor,
                                                  const char* name) {
  run.ProcessBundle(processor, DWX_PlaceHolder_Rec(), name, 0);
}

void DWX_ConditionalTextListRun_Out::ProcessConditionalTextListSet(
    DWX_OutFolder& run, DWX_OutFolderProcessor& processor, const char* name) {
  run.ProcessFolder(processor, name, 0);
}

void DWX_StyleInfo_Out::StoreThisStyleRef(DWX_OutFolder& style, dwx_long id, const char* name) {
  StoreStyleRef(style, id, name);
}

void DWX_StyleInfo_Out::StoreBaseStyleRef(DWX_OutFolder& style, dwx_long id, const char* name) {
  StoreStyleRef(style, id, name);
}

DWX_OutFolder& DWX_Book_Out::ObjectsPool() { return Held(m_pool); }

void DWX_Book_Out::ProcessDocumentsSet(DWX_OutFolder&, DWX_OutFolderProcessor& processor,
                                       const char* name) {
  Held(m_book).ProcessFolder(processor, name, 0);
}

void DWX_Book_Out::Process(DWX_OutFolder& folder) {
  if (!m_book) {
    // First entry, with "Book/": the rest of the walk runs inside "ObjectsPool/".
    {
      Holding<DWX_OutFolder> book(m_book, folder);
      DWX_Book_Out_Processor pool(*this);
      folder.ProcessFolder(pool, DWX_Names::ObjectsPool, 0);
    }
    // Last, so that it holds every text the walk interned.
    m_strings.Store(folder, DWX_Names::StringsMap);
    return;
  }
  // Second entry, with "ObjectsPool/".
  Holding<DWX_OutFolder> pool(m_pool, folder);
  AttrsSet().SetDefaultValues(m_strings);
  AttrsSet().AddAttr(DWX_Names::ReleaseNumber, DWX_Names::ReleaseNumberValue, m_strings);
  AttrsSet().AddAttr(DWX_Names::BuildNumber, DWX_Names::BuildNumberValue, m_strings);
  Call(*m_book);
}

void DWX_Book_Out_Creator::Call(DWX_OutFolder& root) {
  DWX_Book_Out_Processor book(m_book);
  root.ProcessFolder(book, DWX_Names::Book, 0);
}

// ---- Reading -------------------------------------------------------------------------------

bool DWX_TextRun_In::ProcessUnicodes(DWX_InFolder& run, DWX_InStreamProcessor& processor,
                                     const char* name) {
  return run.ProcessStream(processor, ft_UShort, name, 0);
}

bool DWX_TextRun_In::ProcessMultibytes(DWX_InFolder& run, DWX_InStreamProcessor& processor,
                                       const char* name) {
  return run.ProcessStream(processor, ft_Char, name, 0);
}

bool DWX_TextRun_In::ProcessWideMultibytes(DWX_InFolder& run, DWX_InStreamProcessor& processor,
                                           const char* name) {
  return run.ProcessStream(processor, ft_UShort, name, 0);
}

bool DWX_TextRun_In::ProcessSpecialChars(DWX_InFolder& run, DWX_InBundleProcessor& processor,
                                         const char* name) {
  return run.ProcessBundle(processor, DWX_SpecialChar_Rec(), name, 0);
}

bool DWX_TextRun_In::ProcessTextVariables(DWX_InFolder& run, DWX_InBundleProcessor& processor,
                                          const char* name) {
  return run.ProcessBundle(processor, DWX_TextVariables_Rec(), name, 0);
}

bool DWX_TextRun_In::ProcessRefPoints(DWX_InFolder& run, DWX_InBundleProcessor& processor,
                                      const char* name) {
  return run.ProcessBundle(processor, DWX_RefPoint_Rec(), name, 0);
}

bool DWX_TextRun_In::ProcessPlaceHolders(DWX_InFolder& run, DWX_InBundleProcessor& processor,
                                         const char* name) {
  return run.ProcessBundle(processor, DWX_PlaceHolder_Rec(), name, 0);
}

bool DWX_TextRun_In::ProcessConditionalTextListSet(DWX_InFolder& run,
                                                   DWX_InFolderProcessor& processor,
                                                   const char* name) {
  return run.ProcessFolder(processor, name, 0);
}

bool DWX_StyleInfo_In::RestoreThisStyleRef(DWX_InFolder& style, dwx_long& id, const char* name) {
  return RestoreStyleRef(style, id, name);
}

bool DWX_StyleInfo_In::RestoreBaseStyleRef(DWX_InFolder& style, dwx_long& id, const char* name) {
  return RestoreStyleRef(style, id, name);
}

DWX_InFolder& DWX_Book_In::ObjectsPool() { return Held(m_pool); }

bool DWX_Book_In::ProcessDocumentsSet(DWX_InFolder&, DWX_InFolderProcessor& processor,
                                      const char* name) {
  return Held(m_book).ProcessFolder(processor, name, 0);
}

void DWX_Book_In::Process(DWX_InFolder& folder) {
  if (!m_book) {
    // First entry, with "Book/". Without its string table every id of the book would name the
    // wrong text.
    if (!m_strings.Restore(folder, DWX_Names::StringsMap)) Error(FE_CodeFileShortRead);
    Holding<DWX_InFolder> book(m_book, folder);
    DWX_Book_In_Processor pool(*this);
    folder.ProcessFolder(pool, DWX_Names::ObjectsPool, 0);
    return;
  }
  // Second entry, with "ObjectsPool/".
  Holding<DWX_InFolder> pool(m_pool, folder);
  AttrsSet().SetDefaultValues(m_strings);
  AttrsSet().Restore(*m_book, DWX_Names::Attrs, &m_strings);
  Call(*m_book);
}

void DWX_Book_In_Opener::Call(DWX_InFolder& root) {
  DWX_Book_In_Processor book(m_book);
  root.ProcessFolder(book, DWX_Names::Book, 0);
}
