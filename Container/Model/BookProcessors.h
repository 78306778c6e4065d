// First-generation book processors. Here the library walks the book tree: the caller derives one
// class per level from these and implements Call, and inside it a Process operation creates (on
// writing) or opens (on reading) one child folder, stream or bundle and runs the caller's
// processor on it for exactly the time of that processor's Call. Children must not be kept
// beyond it. The stored tree is the one the second-generation writers and readers handle.
//
// A book is written by handing a DWX_Book_Out to DWX_OutStorage::CreateBook and read by handing
// a DWX_Book_In to DWX_InStorage::OpenBook. On reading, every Process operation answers false
// when its item is absent, else true after the processor ran.
#pragma once

#include "Container/Model/AttrsSet.h"
#include "Container/Model/BookLayout.h"
#include "Container/Model/Folders.h"
#include "Container/Model/StringsMap.h"

#include <string>

// ---- What the two walks share -----------------------------------------------------------------
// The writing and the reading walk differ only in their folders and processors and in what a
// Process operation answers: nothing on writing, whether the item was there on reading. What is
// the same for both is written once below; each _Out and _In class names its instance.

class DWX_ProcessorWithAttrs_Out;
class DWX_ProcessorWithAttrs_In;

struct DWX_OutWalk {
  using Folder = DWX_OutFolder;
  using FolderProcessor = DWX_OutFolderProcessor;
  using BundleProcessor = DWX_OutBundleProcessor;
  using AttrsSet = DWX_AttrsSet_Out;
  using WithAttrs = DWX_ProcessorWithAttrs_Out;
  using WithStyle = DWX_ProcessorWithStyle_Out;
  using Result = void;
};

struct DWX_InWalk {
  using Folder = DWX_InFolder;
  using FolderProcessor = DWX_InFolderProcessor;
  using BundleProcessor = DWX_InBundleProcessor;
  using AttrsSet = DWX_AttrsSet_In;
  using WithAttrs = DWX_ProcessorWithAttrs_In;
  using WithStyle = DWX_ProcessorWithStyle_In;
  using Result = bool;
};

template <class Walk>
class DWX_ProcessorWithAttrsOf : public virtual Walk::FolderProcessor {
 public:
  DWX_ProcessorWithAttrsOf() = default;
  DWX_ProcessorWithAttrsOf(const DWX_ProcessorWithAttrsOf&) = delete;
  DWX_ProcessorWithAttrsOf& operator=(const DWX_ProcessorWithAttrsOf&) = delete;

  // The object's attributes; the caller stores them with Store(folder, "Attrs{}") or reads them
  // with Restore(folder, "Attrs{}", ...).
  virtual typename Walk::AttrsSet& AttrsSet() { return m_attrs; }

 private:
  typename Walk::AttrsSet m_attrs;
};

// The list of a conditional-text run, and the list's bundle of DWX_ConditionalText_Rec records.
template <class Walk, class Run>
class DWX_ConditionalTextListOf : public Run {
 protected:
  virtual typename Walk::Result ProcessConditionalTextList(typename Walk::Folder& folder,
                                                           typename Walk::FolderProcessor& processor,
                                                           const char* name) {
    return folder.ProcessFolder(processor, name, 0);
  }
};
template <class Walk, class List>
class DWX_ConditionalTextOf : public List {
 protected:
  virtual typename Walk::Result ProcessConditionalText(typename Walk::Folder& folder,
                                                       typename Walk::BundleProcessor& processor,
                                                       const char* name) {
    return folder.ProcessBundle(processor, DWX_ConditionalText_Rec(), name, 0);
  }
};

template <class Walk>
class DWX_ParagraphOf : public Walk::WithAttrs, public Walk::WithStyle {
 protected:
  // The run folder (name, index).
  virtual typename Walk::Result ProcessTextRun(typename Walk::Folder& paragraph,
                                               typename Walk::FolderProcessor& processor,
                                               dwx_long index, const char* name) {
    return paragraph.ProcessFolder(processor, name, index);
  }
};

template <class Walk>
class DWX_TextVariablesOf : public Walk::WithAttrs, public Walk::WithStyle {
 protected:
  // The text folder (name, index).
  virtual typename Walk::Result ProcessText(typename Walk::Folder& variables,
                                            typename Walk::FolderProcessor& processor,
                                            dwx_long index, const char* name) {
    return variables.ProcessFolder(processor, name, index);
  }
};

// A collection: one element folder per element, all under one name.
template <class Walk>
class DWX_SetOf : public Walk::WithAttrs {
 public:
  // The element name is copied.
  explicit DWX_SetOf(const char* elementName) : m_elementName(elementName ? elementName : "") {}

 protected:
  // On reading, false when no element has that index.
  virtual typename Walk::Result ProcessElement(typename Walk::Folder& set,
                                               typename Walk::FolderProcessor& processor,
                                               dwx_long index) {
    return set.ProcessFolder(processor, m_elementName.c_str(), index);
  }

 private:
  std::string m_elementName;
};

template <class Walk>
class DWX_StoryOf : public Walk::WithAttrs {
 protected:
  virtual typename Walk::Result ProcessParagraphsSet(typename Walk::Folder& story,
                                                     typename Walk::FolderProcessor& processor,
                                                     const char* name) {
    return story.ProcessFolder(processor, name, 0);
  }
};

template <class Walk>
class DWX_DocumentOf : public Walk::WithAttrs {
 protected:
  virtual typename Walk::Result ProcessStylesSet(typename Walk::Folder& document,
                                                 typename Walk::FolderProcessor& processor,
                                                 const char* name) {
    return document.ProcessFolder(processor, name, 0);
  }
  virtual typename Walk::Result ProcessStoriesSet(typename Walk::Folder& document,
                                                  typename Walk::FolderProcessor& processor,
                                                  const char* name) {
    return document.ProcessFolder(processor, name, 0);
  }
  virtual typename Walk::Result ProcessTextVariablesSet(typename Walk::Folder& document,
                                                        typename Walk::FolderProcessor& processor,
                                                        const char* name) {
    return document.ProcessFolder(processor, name, 0);
  }
};

// ---- Writing -------------------------------------------------------------------------------

class DWX_ProcessorWithAttrs_Out : public DWX_ProcessorWithAttrsOf<DWX_OutWalk> {};

class DWX_TextRun_Out : public DWX_ProcessorWithAttrs_Out, public DWX_ProcessorWithStyle_Out {};

// Run content: each run writes one content item of its kind in its run folder.
class DWX_UnicodesRun_Out : public virtual DWX_TextRun_Out {
 protected:
  // A stream of UTF-16 code units (DWX_Out<uint16_t>).
  virtual void ProcessUnicodes(DWX_OutFolder& run, DWX_OutStreamProcessor& processor,
                               const char* name);
};
class DWX_MultibytesRun_Out : public virtual DWX_TextRun_Out {
 protected:
  // A stream of 8-bit characters (DWX_Out<char>).
  virtual void ProcessMultibytes(DWX_OutFolder& run, DWX_OutStreamProcessor& processor,
                                 const char* name);
};
class DWX_WideMultibytesRun_Out : public virtual DWX_TextRun_Out {
 protected:
  // A stream of 16-bit units (DWX_Out<uint16_t>).
  virtual void ProcessWideMultibytes(DWX_OutFolder& run, DWX_OutStreamProcessor& processor,
                                     const char* name);
};
class DWX_SpecialCharsRun_Out : public virtual DWX_TextRun_Out {
 protected:
  // A bundle of DWX_SpecialChar_Rec_Out records.
  virtual void ProcessSpecialChars(DWX_OutFolder& run, DWX_OutBundleProcessor& processor,
                                   const char* name);
};
class DWX_TextVariablesRun_Out : public virtual DWX_TextRun_Out {
 protected:
  // A bundle of DWX_TextVariables_Rec_Out records.
  virtual void ProcessTextVariables(DWX_OutFolder& run, DWX_OutBundleProcessor& processor,
                                    const char* name);
};
class DWX_RefPointsRun_Out : public virtual DWX_TextRun_Out {
 protected:
  // A bundle of DWX_RefPoint_Rec_Out records.
  virtual void ProcessRefPoints(DWX_OutFolder& run, DWX_OutBundleProcessor& processor,
                                const char* name);
};
class DWX_PlaceHoldersRun_Out : public virtual DWX_TextRun_Out {
 protected:
  // A bundle of DWX_PlaceHolder_Rec_Out records.
  virtual void ProcessPlaceHolders(DWX_OutFolder& run, DWX_OutBundleProcessor& processor,
                                   const char* name);
};

// Conditional text: a run holding a set of lists, a list, and the list's bundle of
// DWX_ConditionalText_Rec_Out records.
class DWX_ConditionalTextListRun_Out : public virtual DWX_TextRun_Out {
 protected:
  virtual void ProcessConditionalTextListSet(DWX_OutFolder& run, DWX_OutFolderProcessor& processor,
                                             const char* name);
};
class DWX_ConditionalTextList_Out
    : public DWX_ConditionalTextListOf<DWX_OutWalk, DWX_ConditionalTextListRun_Out> {};
class DWX_ConditionalText_Out
    : public DWX_ConditionalTextOf<DWX_OutWalk, DWX_ConditionalTextList_Out> {};

class DWX_Paragraph_Out : public DWX_ParagraphOf<DWX_OutWalk> {};
class DWX_TextVariables_Out : public DWX_TextVariablesOf<DWX_OutWalk> {};

class DWX_Set_Out : public DWX_SetOf<DWX_OutWalk> {
 public:
  using DWX_SetOf<DWX_OutWalk>::DWX_SetOf;
};

class DWX_DocumentsSet_Out : public DWX_Set_Out {
 public:
  explicit DWX_DocumentsSet_Out(const char* elementName = DWX_Names::Document)
      : DWX_Set_Out(elementName) {}
};
class DWX_StylesSet_Out : public DWX_Set_Out {
 public:
  explicit DWX_StylesSet_Out(const char* elementName = DWX_Names::StyleInfo)
      : DWX_Set_Out(elementName) {}
};
class DWX_StoriesSet_Out : public DWX_Set_Out {
 public:
  explicit DWX_StoriesSet_Out(const char* elementName = DWX_Names::Story)
      : DWX_Set_Out(elementName) {}
};
class DWX_ParagraphsSet_Out : public DWX_Set_Out {
 public:
  explicit DWX_ParagraphsSet_Out(const char* elementName = DWX_Names::Paragraph)
      : DWX_Set_Out(elementName) {}
};
class DWX_TextVariablesSet_Out : public DWX_Set_Out {
 public:
  explicit DWX_TextVariablesSet_Out(const char* elementName = DWX_Names::TextVariablesDec)
      : DWX_Set_Out(elementName) {}
};
class DWX_ConditionalTextListSet_Out : public DWX_Set_Out {
 public:
  explicit DWX_ConditionalTextListSet_Out(const char* elementName = DWX_Names::ConditionalTextList)
      : DWX_Set_Out(elementName) {}
};

class DWX_Story_Out : public DWX_StoryOf<DWX_OutWalk> {};

class DWX_StyleInfo_Out : public DWX_ProcessorWithAttrs_Out, public DWX_ProcessorWithStyle_Out {
 protected:
  // A long stream `name` holding `id`.
  virtual void StoreThisStyleRef(DWX_OutFolder& style, dwx_long id, const char* name);
  virtual void StoreBaseStyleRef(DWX_OutFolder& style, dwx_long id, const char* name);
};

class DWX_Document_Out : public DWX_DocumentOf<DWX_OutWalk> {};

// The book. CreateBook makes "Book/" with "ObjectsPool/", gives the attribute set the defaults,
// release_number and build_number, runs the caller's Call with "Book/" and stores the string
// table as "Book/" > "StringsMap{}" last of all. The book's own "Attrs{}" is stored only when
// the caller's Call stores it.
class DWX_Book_Out : public DWX_ProcessorWithAttrs_Out {
 protected:
  virtual DWX_StringsMap& StringsMap() { return m_strings; }
  // "ObjectsPool/" while the book's Call runs; raises FE_StorageInvalidPointer otherwise.
  virtual DWX_OutFolder& ObjectsPool();
  // The folder `name` in "Book/" (the folder argument is not used); raises
  // FE_StorageInvalidPointer outside the book's Call.
  virtual void ProcessDocumentsSet(DWX_OutFolder& book, DWX_OutFolderProcessor& processor,
                                   const char* name);

 private:
  friend class DWX_Book_Out_Processor;
  // Entered with "Book/" and again, from within, with "ObjectsPool/".
  virtual void Process(DWX_OutFolder& folder);

  DWX_OutFolder* m_book = nullptr;
  DWX_OutFolder* m_pool = nullptr;
  DWX_StringsMap_Out m_strings;
};

// ---- Reading -------------------------------------------------------------------------------

class DWX_ProcessorWithAttrs_In : public DWX_ProcessorWithAttrsOf<DWX_InWalk> {};

// A run of any kind: the caller probes the content items it expects.
class DWX_TextRun_In : public DWX_ProcessorWithAttrs_In, public DWX_ProcessorWithStyle_In {
 protected:
  // Streams of 16-bit units (DWX_In<uint16_t>) or 8-bit characters (DWX_In<char>).
  virtual bool ProcessUnicodes(DWX_InFolder& run, DWX_InStreamProcessor& processor,
                               const char* name);
  virtual bool ProcessMultibytes(DWX_InFolder& run, DWX_InStreamProcessor& processor,
                                 const char* name);
  virtual bool ProcessWideMultibytes(DWX_InFolder& run, DWX_InStreamProcessor& processor,
                                     const char* name);
  // Bundles read with the _Rec_In records of their kind.
  virtual bool ProcessSpecialChars(DWX_InFolder& run, DWX_InBundleProcessor& processor,
                                   const char* name);
  virtual bool ProcessTextVariables(DWX_InFolder& run, DWX_InBundleProcessor& processor,
                                    const char* name);
  virtual bool ProcessRefPoints(DWX_InFolder& run, DWX_InBundleProcessor& processor,
                                const char* name);
  virtual bool ProcessPlaceHolders(DWX_InFolder& run, DWX_InBundleProcessor& processor,
                                   const char* name);
  virtual bool ProcessConditionalTextListSet(DWX_InFolder& run, DWX_InFolderProcessor& processor,
                                             const char* name);
};

class DWX_ConditionalTextList_In : public DWX_ConditionalTextListOf<DWX_InWalk, DWX_TextRun_In> {};
class DWX_ConditionalText_In
    : public DWX_ConditionalTextOf<DWX_InWalk, DWX_ConditionalTextList_In> {};

class DWX_Paragraph_In : public DWX_ParagraphOf<DWX_InWalk> {};
class DWX_TextVariables_In : public DWX_TextVariablesOf<DWX_InWalk> {};

class DWX_Set_In : public DWX_SetOf<DWX_InWalk> {
 public:
  using DWX_SetOf<DWX_InWalk>::DWX_SetOf;
};

class DWX_DocumentsSet_In : public DWX_Set_In {
 public:
  explicit DWX_DocumentsSet_In(const char* elementName = DWX_Names::Document)
      : DWX_Set_In(elementName) {}
};
class DWX_StylesSet_In : public DWX_Set_In {
 public:
  explicit DWX_StylesSet_In(const char* elementName = DWX_Names::StyleInfo)
      : DWX_Set_In(elementName) {}
};
class DWX_StoriesSet_In : public DWX_Set_In {
 public:
  explicit DWX_StoriesSet_In(const char* elementName = DWX_Names::Story)
      : DWX_Set_In(elementName) {}
};
class DWX_ParagraphsSet_In : public DWX_Set_In {
 public:
  explicit DWX_ParagraphsSet_In(const char* elementName = DWX_Names::Paragraph)
      : DWX_Set_In(elementName) {}
};
class DWX_TextVariablesSet_In : public DWX_Set_In {
 public:
  explicit DWX_TextVariablesSet_In(const char* elementName = DWX_Names::TextVariablesDec)
      : DWX_Set_In(elementName) {}
};
class DWX_ConditionalTextListSet_In : public DWX_Set_In {
 public:
  explicit DWX_ConditionalTextListSet_In(const char* elementName = DWX_Names::ConditionalTextList)
      : DWX_Set_In(elementName) {}
};

class DWX_Story_In : public DWX_StoryOf<DWX_InWalk> {};

class DWX_StyleInfo_In : public DWX_ProcessorWithAttrs_In, public DWX_ProcessorWithStyle_In {
 protected:
  // False when the stream is absent (id unchanged); a stream without one whole value gives -1.
  virtual bool RestoreThisStyleRef(DWX_InFolder& style, dwx_long& id, const char* name);
  virtual bool RestoreBaseStyleRef(DWX_InFolder& style, dwx_long& id, const char* name);
};

class DWX_Document_In : public DWX_DocumentOf<DWX_InWalk> {};

// The book. OpenBook reads "Book/" > "StringsMap{}", and when "Book/" holds "ObjectsPool/",
// gives the attribute set the defaults, reads "Book/" > "Attrs{}" over them and runs the
// caller's Call with "Book/". Without "ObjectsPool/" the caller's Call does not run. A "Book/"
// without its string table, or attributes naming ids the table lacks, raise
// FE_CodeFileShortRead: every id of the book would name the wrong text.
class DWX_Book_In : public DWX_ProcessorWithAttrs_In {
 protected:
  virtual DWX_StringsMap& StringsMap() { return m_strings; }
  // "ObjectsPool/" while the book's Call runs; raises FE_StorageInvalidPointer otherwise.
  virtual DWX_InFolder& ObjectsPool();
  // The folder `name` in "Book/" (the folder argument is not used); raises
  // FE_StorageInvalidPointer outside the book's Call.
  virtual bool ProcessDocumentsSet(DWX_InFolder& book, DWX_InFolderProcessor& processor,
                                   const char* name);

 private:
  friend class DWX_Book_In_Processor;
  // Entered with "Book/" and again, from within, with "ObjectsPool/".
  virtual void Process(DWX_InFolder& folder);

  DWX_InFolder* m_book = nullptr;
  DWX_InFolder* m_pool = nullptr;
  DWX_StringsMap_In m_strings;
};

// ---- The drive of the book walk ------------------------------------------------------------
// Used by the containers' CreateBook and OpenBook; over a root folder of one's own (a code file
// in memory), Call(root) runs the same walk.

class DWX_Book_Out_Creator : public DWX_OutFolderProcessor {
 public:
  explicit DWX_Book_Out_Creator(DWX_Book_Out& book) : m_book(book) {}
  // Creates "Book/" in the root and walks the book in it.
  void Call(DWX_OutFolder& root) override;

 private:
  DWX_Book_Out& m_book;
};

class DWX_Book_In_Opener : public DWX_InFolderProcessor {
 public:
  explicit DWX_Book_In_Opener(DWX_Book_In& book) : m_book(book) {}
  // Opens "Book/" in the root and walks the book in it; nothing when it is absent.
  void Call(DWX_InFolder& root) override;

 private:
  DWX_Book_In& m_book;
};
