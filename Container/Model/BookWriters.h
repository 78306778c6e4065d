// Second-generation book writers: each wraps one folder of the book tree and creates what may
// sit in it. The caller decides what to create and when; a Create answers a handle it owns.
// Writers own their attribute set (and the book its string table), so they are not copied.
#pragma once

#include "Container/Model/AttrsSet.h"
#include "Container/Model/BookLayout.h"
#include "Container/Model/Folders.h"
#include "Container/Model/StringsMap.h"

#include <string>

class DWX_ProcessorWithAttrs_Out2 : public DWX_FolderHandler_Out2 {
 public:
  explicit DWX_ProcessorWithAttrs_Out2(const DWX_Handle<DWX_OutFolder2>& folder)
      : DWX_FolderHandler_Out2(folder) {}
  DWX_ProcessorWithAttrs_Out2(const DWX_ProcessorWithAttrs_Out2&) = delete;
  DWX_ProcessorWithAttrs_Out2& operator=(const DWX_ProcessorWithAttrs_Out2&) = delete;

  virtual DWX_AttrsSet& AttrsSet() { return m_attrs; }
  // The attribute set as the bundle `name` in Folder().
  virtual void SaveAttrsSet(const char* name) { m_attrs.Store(Folder(), name); }

 private:
  DWX_AttrsSet_Out m_attrs;
};

class DWX_ProcessorWithStyle_Out2 : public DWX_ProcessorWithStyle_Out,
                                    public DWX_ProcessorWithAttrs_Out2 {
 public:
  explicit DWX_ProcessorWithStyle_Out2(const DWX_Handle<DWX_OutFolder2>& folder)
      : DWX_ProcessorWithAttrs_Out2(folder) {}
  // A long stream `name` in Folder() holding `id`.
  virtual void SaveStyleRef(dwx_long id, const char* name) { StoreStyleRef(Folder(), id, name); }
  void Call(DWX_OutFolder&) override {}
};

class DWX_TextRun_Out2 : public DWX_ProcessorWithStyle_Out2 {
 public:
  using DWX_ProcessorWithStyle_Out2::DWX_ProcessorWithStyle_Out2;
};

// Run writers: each creates the one content item of its kind in the run folder.
class DWX_UnicodesRun_Out2 : public virtual DWX_TextRun_Out2 {
 public:
  explicit DWX_UnicodesRun_Out2(const DWX_Handle<DWX_OutFolder2>& run) : DWX_TextRun_Out2(run) {}
  // A stream of UTF-16 code units (DWX_Out<uint16_t>).
  virtual DWX_Handle<DWX_OutStream2> CreateUnicodes(const char* name);
};
class DWX_MultibytesRun_Out2 : public virtual DWX_TextRun_Out2 {
 public:
  explicit DWX_MultibytesRun_Out2(const DWX_Handle<DWX_OutFolder2>& run) : DWX_TextRun_Out2(run) {}
  // A stream of 8-bit characters (DWX_Out<char>).
  virtual DWX_Handle<DWX_OutStream2> CreateMultibytes(const char* name);
};
class DWX_WideMultibytesRun_Out2 : public virtual DWX_TextRun_Out2 {
 public:
  explicit DWX_WideMultibytesRun_Out2(const DWX_Handle<DWX_OutFolder2>& run)
      : DWX_TextRun_Out2(run) {}
  // A stream of 16-bit units (DWX_Out<uint16_t>).
  virtual DWX_Handle<DWX_OutStream2> CreateWideMultibytes(const char* name);
};
class DWX_SpecialCharsRun_Out2 : public virtual DWX_TextRun_Out2 {
 public:
  explicit DWX_SpecialCharsRun_Out2(const DWX_Handle<DWX_OutFolder2>& run)
      : DWX_TextRun_Out2(run) {}
  // A bundle for DWX_SpecialChar_Rec_Out records.
  virtual DWX_Handle<DWX_OutBundle2> CreateSpecialChars(const char* name);
};
class DWX_RefPointsRun_Out2 : public virtual DWX_TextRun_Out2 {
 public:
  explicit DWX_RefPointsRun_Out2(const DWX_Handle<DWX_OutFolder2>& run) : DWX_TextRun_Out2(run) {}
  // A bundle for DWX_RefPoint_Rec_Out records.
  virtual DWX_Handle<DWX_OutBundle2> CreateRefPoints(const char* name);
};
class DWX_PlaceHoldersRun_Out2 : public virtual DWX_TextRun_Out2 {
 public:
  explicit DWX_PlaceHoldersRun_Out2(const DWX_Handle<DWX_OutFolder2>& run)
      : DWX_TextRun_Out2(run) {}
  // A bundle for DWX_PlaceHolder_Rec_Out records.
  virtual DWX_Handle<DWX_OutBundle2> CreatePlaceHolders(const char* name);
};
class DWX_TextVariablesRun_Out2 : public virtual DWX_TextRun_Out2 {
 public:
  explicit DWX_TextVariablesRun_Out2(const DWX_Handle<DWX_OutFolder2>& run)
      : DWX_TextRun_Out2(run) {}
  // A bundle for DWX_TextVariables_Rec_Out records (named like the placeholder operation).
  virtual DWX_Handle<DWX_OutBundle2> CreatePlaceHolders(const char* name);
};

class DWX_Paragraph_Out2 : public DWX_ProcessorWithStyle_Out2 {
 public:
  using DWX_ProcessorWithStyle_Out2::DWX_ProcessorWithStyle_Out2;
  // The run folder (name, index).
  virtual DWX_Handle<DWX_OutFolder2> CreateTextRun(dwx_long index, const char* name);
};

// A collection: one element folder per element, all under one name.
class DWX_Set_Out2 : public DWX_ProcessorWithAttrs_Out2 {
 public:
  // The element name is copied.
  DWX_Set_Out2(const DWX_Handle<DWX_OutFolder2>& folder, const char* elementName)
      : DWX_ProcessorWithAttrs_Out2(folder), m_elementName(elementName ? elementName : "") {}
  virtual DWX_Handle<DWX_OutFolder2> CreateElement(dwx_long index);

 private:
  std::string m_elementName;
};

class DWX_DocumentsSet_Out2 : public DWX_Set_Out2 { using DWX_Set_Out2::DWX_Set_Out2; };
class DWX_StylesSet_Out2 : public DWX_Set_Out2 { using DWX_Set_Out2::DWX_Set_Out2; };
class DWX_StoriesSet_Out2 : public DWX_Set_Out2 { using DWX_Set_Out2::DWX_Set_Out2; };
class DWX_ParagraphsSet_Out2 : public DWX_Set_Out2 { using DWX_Set_Out2::DWX_Set_Out2; };
class DWX_TextVariablesSet_Out2 : public DWX_Set_Out2 { using DWX_Set_Out2::DWX_Set_Out2; };

class DWX_Story_Out2 : public DWX_ProcessorWithAttrs_Out2 {
 public:
  using DWX_ProcessorWithAttrs_Out2::DWX_ProcessorWithAttrs_Out2;
  virtual DWX_Handle<DWX_OutFolder2> CreateParagraphsSet(const char* name);
};

class DWX_StyleInfo_Out2 : public DWX_ProcessorWithStyle_Out, public DWX_ProcessorWithAttrs_Out2 {
 public:
  using DWX_ProcessorWithAttrs_Out2::DWX_ProcessorWithAttrs_Out2;
  virtual void SaveThisStyleRef(dwx_long id, const char* name) { StoreStyleRef(Folder(), id, name); }
  virtual void SaveBaseStyleRef(dwx_long id, const char* name) { StoreStyleRef(Folder(), id, name); }
  void Call(DWX_OutFolder&) override {}
};

class DWX_Document_Out2 : public DWX_ProcessorWithAttrs_Out2 {
 public:
  using DWX_ProcessorWithAttrs_Out2::DWX_ProcessorWithAttrs_Out2;
  virtual DWX_Handle<DWX_OutFolder2> CreateStylesSet(const char* name);
  virtual DWX_Handle<DWX_OutFolder2> CreateVariablesTextSet(const char* name);
  virtual DWX_Handle<DWX_OutFolder2> CreateStoriesSet(const char* name);
};

// The book: "Book/" with "ObjectsPool/" in the container's root folder, the book's attributes
// (the defaults, release_number and build_number) and its string table, which is stored as
// "StringsMap{}" last of all, by Finish() or else by the destructor. The caller saves the book's
// own "Attrs{}" and destroys the book after every other writer of the container.
class DWX_Book_Out2 : public DWX_ProcessorWithAttrs_Out2 {
 public:
  explicit DWX_Book_Out2(const DWX_Handle<DWX_OutFolder2>& root);
  // Stores the string table unless Finish() did; a failure goes to the warning messenger.
  ~DWX_Book_Out2() override;

  DWX_OutFolder2& Folder() override { return *m_book; }
  virtual DWX_StringsMap& StringsMap() { return m_strings; }
  virtual DWX_OutFolder2& ObjectsPool() { return *m_pool; }
  virtual DWX_Handle<DWX_OutFolder2> CreateDocumentsSet(const char* name);
  // Stores "StringsMap{}" now; raises on failure. Strings interned afterwards are not stored.
  void Finish();

 private:
  DWX_Handle<DWX_OutFolder2> m_book;
  DWX_Handle<DWX_OutFolder2> m_pool;
  DWX_StringsMap_Out m_strings;
  bool m_finished = false;
};
