// Second-generation book readers: each wraps one folder of a book tree, says whether it exists
// and opens what may sit in it. Absence is normal in this format, so an Open answers an empty
// handle and a Load answers false; a reader over an empty handle (an Open that found nothing) is
// not valid, and every Open and Load on it answers empty or false as well.
#pragma once

#include "Container/Model/AttrsSet.h"
#include "Container/Model/BookLayout.h"
#include "Container/Model/Folders.h"
#include "Container/Model/StringsMap.h"

#include <string>

class DWX_ProcessorWithAttrs_In2 : public DWX_FolderHandler_In2 {
 public:
  explicit DWX_ProcessorWithAttrs_In2(const DWX_Handle<DWX_InFolder2>& folder)
      : DWX_FolderHandler_In2(folder) {}
  DWX_ProcessorWithAttrs_In2(const DWX_ProcessorWithAttrs_In2&) = delete;
  DWX_ProcessorWithAttrs_In2& operator=(const DWX_ProcessorWithAttrs_In2&) = delete;

  virtual DWX_AttrsSet& AttrsSet() { return m_attrs; }
  // Reads the bundle `name` into the attribute set; false when it is absent.
  virtual bool LoadAttrsSet(const char* name);
  // The same, checking every id against the book's string table: an id the table lacks raises
  // FE_CodeFileShortRead.
  bool LoadAttrsSet(const char* name, const DWX_StringsMap& strings);

 protected:
  DWX_AttrsSet_In& OwnAttrs() { return m_attrs; }

 private:
  DWX_AttrsSet_In m_attrs;
};

class DWX_ProcessorWithStyle_In2 : public DWX_ProcessorWithStyle_In,
                                   public DWX_ProcessorWithAttrs_In2 {
 public:
  explicit DWX_ProcessorWithStyle_In2(const DWX_Handle<DWX_InFolder2>& folder)
      : DWX_ProcessorWithAttrs_In2(folder) {}
  // False when the stream is absent (id unchanged); a stream without a whole value gives -1.
  virtual bool LoadStyleRef(dwx_long& id, const char* name);
  void Call(DWX_InFolder&) override {}
};

class DWX_TextRun_In2 : public DWX_ProcessorWithStyle_In2 {
 public:
  using DWX_ProcessorWithStyle_In2::DWX_ProcessorWithStyle_In2;
  // Streams of 16-bit units (DWX_In<uint16_t>) or 8-bit characters (DWX_In<char>).
  virtual DWX_Handle<DWX_InStream2> OpenUnicodes(const char* name);
  virtual DWX_Handle<DWX_InStream2> OpenMultibytes(const char* name);
  virtual DWX_Handle<DWX_InStream2> OpenWideMultibytes(const char* name);
  // Bundles read with the _Rec_In records of their kind.
  virtual DWX_Handle<DWX_InBundle2> OpenSpecialChars(const char* name);
  virtual DWX_Handle<DWX_InBundle2> OpenRefPoints(const char* name);
  virtual DWX_Handle<DWX_InBundle2> OpenPlaceHolders(const char* name);
  virtual DWX_Handle<DWX_InBundle2> OpenTextVariables(const char* name);
};

class DWX_Paragraph_In2 : public DWX_ProcessorWithStyle_In2 {
 public:
  using DWX_ProcessorWithStyle_In2::DWX_ProcessorWithStyle_In2;
  virtual DWX_Handle<DWX_InFolder2> OpenTextRun(dwx_long index, const char* name);
};

class DWX_Set_In2 : public DWX_ProcessorWithAttrs_In2 {
 public:
  // The element name is copied.
  DWX_Set_In2(const DWX_Handle<DWX_InFolder2>& folder, const char* elementName)
      : DWX_ProcessorWithAttrs_In2(folder), m_elementName(elementName ? elementName : "") {}
  // Empty when no element has that index.
  virtual DWX_Handle<DWX_InFolder2> OpenElement(dwx_long index);

 private:
  std::string m_elementName;
};

class DWX_ParagraphsSet_In2 : public DWX_Set_In2 { using DWX_Set_In2::DWX_Set_In2; };
class DWX_StoriesSet_In2 : public DWX_Set_In2 { using DWX_Set_In2::DWX_Set_In2; };
class DWX_StylesSet_In2 : public DWX_Set_In2 { using DWX_Set_In2::DWX_Set_In2; };
class DWX_TextVariablesSet_In2 : public DWX_Set_In2 { using DWX_Set_In2::DWX_Set_In2; };
class DWX_ConditionalTextListSet_In2 : public DWX_Set_In2 { using DWX_Set_In2::DWX_Set_In2; };
class DWX_DocumentsSet_In2 : public DWX_Set_In2 { using DWX_Set_In2::DWX_Set_In2; };

class DWX_Story_In2 : public DWX_ProcessorWithAttrs_In2 {
 public:
  using DWX_ProcessorWithAttrs_In2::DWX_ProcessorWithAttrs_In2;
  virtual DWX_Handle<DWX_InFolder2> OpenParagraphsSet(const char* name);
};

class DWX_StyleInfo_In2 : public DWX_ProcessorWithStyle_In, public DWX_ProcessorWithAttrs_In2 {
 public:
  using DWX_ProcessorWithAttrs_In2::DWX_ProcessorWithAttrs_In2;
  virtual bool LoadThisStyleRef(dwx_long& id, const char* name);
  virtual bool LoadBaseStyleRef(dwx_long& id, const char* name);
  void Call(DWX_InFolder&) override {}
};

class DWX_Document_In2 : public DWX_ProcessorWithAttrs_In2 {
 public:
  using DWX_ProcessorWithAttrs_In2::DWX_ProcessorWithAttrs_In2;
  virtual DWX_Handle<DWX_InFolder2> OpenStylesSet(const char* name);
  virtual DWX_Handle<DWX_InFolder2> OpenTextVariablesSet(const char* name);
  virtual DWX_Handle<DWX_InFolder2> OpenStoriesSet(const char* name);
};

// The book of a container's root folder. Construction reads "StringsMap{}" first, then fills the
// attribute set with the defaults and reads the book's "Attrs{}". A container without "Book/"
// gives a reader that is not valid. A book that cannot be read correctly raises
// FE_CodeFileShortRead: "Book/" without "StringsMap{}" (the writer never finished it), an
// attribute id the string table lacks, a record the file leaves incomplete.
class DWX_Book_In2 : public DWX_ProcessorWithAttrs_In2 {
 public:
  explicit DWX_Book_In2(const DWX_Handle<DWX_InFolder2>& root);

  bool Valid() const override { return !m_book.Empty(); }
  virtual DWX_StringsMap& StringsMap() { return m_strings; }
  // Raises FE_StorageInvalidPointer when the book has no "ObjectsPool/".
  virtual DWX_InFolder2& ObjectsPool();
  virtual DWX_Handle<DWX_InFolder2> OpenDocumentsSet(const char* name);

 protected:
  DWX_InFolder2* FolderOrNull() override { return m_book.Get(); }

 private:
  DWX_Handle<DWX_InFolder2> m_book;
  DWX_Handle<DWX_InFolder2> m_pool;
  DWX_StringsMap_In m_strings;
};
