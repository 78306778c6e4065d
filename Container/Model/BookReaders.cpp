#include "Container/Model/BookReaders.h"

#include "Container/Storage/Errors.h"

namespace {

DWX_Handle<DWX_InFolder2> OpenFolderIn(DWX_InFolder2* folder, const char* name, dwx_long index) {
  return folder ? folder->OpenFolder(name, index) : DWX_Handle<DWX_InFolder2>();
}

DWX_Handle<DWX_InStream2> OpenStreamIn(DWX_InFolder2* folder, DWX_FieldType type,
                                       const char* name) {
  return folder ? folder->OpenStream(type, name, 0) : DWX_Handle<DWX_InStream2>();
}

DWX_Handle<DWX_InBundle2> OpenBundleIn(DWX_InFolder2* folder, const DWX_FieldsEnumerator& record,
                                       const char* name) {
  return folder ? folder->OpenBundle(record, name, 0) : DWX_Handle<DWX_InBundle2>();
}

}  // namespace

bool DWX_ProcessorWithAttrs_In2::LoadAttrsSet(const char* name) {
  DWX_InFolder2* folder = FolderOrNull();
  return folder && m_attrs.Restore(*folder, name);
}

bool DWX_ProcessorWithAttrs_In2::LoadAttrsSet(const char* name, const DWX_StringsMap& strings) {
  DWX_InFolder2* folder = FolderOrNull();
  return folder && m_attrs.Restore(*folder, name, &strings);
}

bool DWX_ProcessorWithStyle_In2::LoadStyleRef(dwx_long& id, const char* name) {
  DWX_InFolder2* folder = FolderOrNull();
  return folder && RestoreStyleRef(*folder, id, name);
}

DWX_Handle<DWX_InStream2> DWX_TextRun_In2::OpenUnicodes(const char* name) {
  return OpenStreamIn(FolderOrNull(), ft_UShort, name);
}

DWX_Handle<DWX_InStream2> DWX_TextRun_In2::OpenMultibytes(const char* name) {
  return OpenStreamIn(FolderOrNull(), ft_Char, name);
}

DWX_Handle<DWX_InStream2> DWX_TextRun_In2::OpenWideMultibytes(const char* name) {
  return OpenStreamIn(FolderOrNull(), ft_UShort, name);
}

DWX_Handle<DWX_InBundle2> DWX_TextRun_In2::OpenSpecialChars(const char* name) {
  return OpenBundleIn(FolderOrNull(), DWX_SpecialChar_Rec(), name);
}

DWX_Handle<DWX_InBundle2> DWX_TextRun_In2::OpenRefPoints(const char* name) {
  return OpenBundleIn(FolderOrNull(), DWX_RefPoint_Rec(), name);
}

DWX_Handle<DWX_InBundle2> DWX_TextRun_In2::OpenPlaceHolders(const char* name) {
  return OpenBundleIn(FolderOrNull(), DWX_PlaceHolder_Rec(), name);
}

DWX_Handle<DWX_InBundle2> DWX_TextRun_In2::OpenTextVariables(const char* name) {
  return OpenBundleIn(FolderOrNull(), DWX_TextVariables_Rec(), name);
}

DWX_Handle<DWX_InFolder2> DWX_Paragraph_In2::OpenTextRun(dwx_long index, const char* name) {
  return OpenFolderIn(FolderOrNull(), name, index);
}

DWX_Handle<DWX_InFolder2> DWX_Set_In2::OpenElement(dwx_long index) {
  return OpenFolderIn(FolderOrNull(), m_elementName.c_str(), index);
}

DWX_Handle<DWX_InFolder2> DWX_Story_In2::OpenParagraphsSet(const char* name) {
  return OpenFolderIn(FolderOrNull(), name, 0);
}

bool DWX_StyleInfo_In2::LoadThisStyleRef(dwx_long& id, const char* name) {
  DWX_InFolder2* folder = FolderOrNull();
  return folder && RestoreStyleRef(*folder, id, name);
}

bool DWX_StyleInfo_In2::LoadBaseStyleRef(dwx_long& id, const char* name) {
  return LoadThisStyleRef(id, name);
}

DWX_Handle<DWX_InFolder2> DWX_Document_In2::OpenStylesSet(const char* name) {
  return OpenFolderIn(FolderOrNull(), name, 0);
}

DWX_Handle<DWX_InFolder2> DWX_Document_In2::OpenTextVariablesSet(const char* name) {
  return OpenFolderIn(FolderOrNull(), name, 0);
}

DWX_Handle<DWX_InFolder2> DWX_Document_In2::OpenStoriesSet(const char* name) {
  return OpenFolderIn(FolderOrNull(), name, 0);
}

DWX_Book_In2::DWX_Book_In2(const DWX_Handle<DWX_InFolder2>& root)
    : DWX_ProcessorWithAttrs_In2(root) {
  DWX_InFolder2* rootFolder = DWX_ProcessorWithAttrs_In2::FolderOrNull();
  DWX_Handle<DWX_InFolder2> book = OpenFolderIn(rootFolder, DWX_Names::Book, 0);
  if (!book) return;
  // Without its string table every id of the book would name the wrong text.
  if (!m_strings.Restore(*book, DWX_Names::StringsMap)) Error(FE_CodeFileShortRead);
  m_pool = book->OpenFolder(DWX_Names::ObjectsPool, 0);
  AttrsSet().SetDefaultValues(m_strings);
  OwnAttrs().Restore(*book, DWX_Names::Attrs, &m_strings);
  m_book = std::move(book);
}

DWX_InFolder2& DWX_Book_In2::ObjectsPool() {
  if (!m_pool) Error(FE_StorageInvalidPointer);
  return *m_pool;
}

DWX_Handle<DWX_InFolder2> DWX_Book_In2::OpenDocumentsSet(const char* name) {
  return OpenFolderIn(m_book.Get(), name, 0);
}
