#include "Container/Model/BookWriters.h"

#include "Container/Storage/Errors.h"

DWX_Handle<DWX_OutStream2> DWX_UnicodesRun_Out2::CreateUnicodes(const char* name) {
  return Folder().CreateStream(ft_UShort, name, 0);
}

DWX_Handle<DWX_OutStream2> DWX_MultibytesRun_Out2::CreateMultibytes(const char* name) {
  return Folder().CreateStream(ft_Char, name, 0);
}

DWX_Handle<DWX_OutStream2> DWX_WideMultibytesRun_Out2::CreateWideMultibytes(const char* name) {
  return Folder().CreateStream(ft_UShort, name, 0);
}

DWX_Handle<DWX_OutBundle2> DWX_SpecialCharsRun_Out2::CreateSpecialChars(const char* name) {
  return Folder().CreateBundle(DWX_SpecialChar_Rec(), name, 0);
}

DWX_Handle<DWX_OutBundle2> DWX_RefPointsRun_Out2::CreateRefPoints(const char* name) {
  return Folder().CreateBundle(DWX_RefPoint_Rec(), name, 0);
}

DWX_Handle<DWX_OutBundle2> DWX_PlaceHoldersRun_Out2::CreatePlaceHolders(const char* name) {
  return Folder().CreateBundle(DWX_PlaceHolder_Rec(), name, 0);
}

DWX_Handle<DWX_OutBundle2> DWX_TextVariablesRun_Out2::CreatePlaceHolders(const char* name) {
  return Folder().CreateBundle(DWX_TextVariables_Rec(), name, 0);
}

DWX_Handle<DWX_OutFolder2> DWX_Paragraph_Out2::CreateTextRun(dwx_long index, const char* name) {
  return Folder().CreateFolder(name, index);
}

DWX_Handle<DWX_OutFolder2> DWX_Set_Out2::CreateElement(dwx_long index) {
  return Folder().CreateFolder(m_elementName.c_str(), index);
}

DWX_Handle<DWX_OutFolder2> DWX_Story_Out2::CreateParagraphsSet(const char* name) {
  return Folder().CreateFolder(name, 0);
}

DWX_Handle<DWX_OutFolder2> DWX_Document_Out2::CreateStylesSet(const char* name) {
  return Folder().CreateFolder(name, 0);
}

DWX_Handle<DWX_OutFolder2> DWX_Document_Out2::CreateVariablesTextSet(const char* name) {
  return Folder().CreateFolder(name, 0);
}

DWX_Handle<DWX_OutFolder2> DWX_Document_Out2::CreateStoriesSet(const char* name) {
  return Folder().CreateFolder(name, 0);
}

DWX_Book_Out2::DWX_Book_Out2(const DWX_Handle<DWX_OutFolder2>& root)
    : DWX_ProcessorWithAttrs_Out2(root) {
  m_book = DWX_FolderHandler_Out2::Folder().CreateFolder(DWX_Names::Book, 0);
  m_pool = m_book->CreateFolder(DWX_Names::ObjectsPool, 0);
  AttrsSet().SetDefaultValues(m_strings);
  AttrsSet().AddAttr(DWX_Names::ReleaseNumber, DWX_Names::ReleaseNumberValue, m_strings);
  AttrsSet().AddAttr(DWX_Names::BuildNumber, DWX_Names::BuildNumberValue, m_strings);
}

DWX_Book_Out2::~DWX_Book_Out2() {
  if (m_finished) return;
  try {
    Finish();
  } catch (...) {
    WarnAboutCurrentException();
  }
}

DWX_Handle<DWX_OutFolder2> DWX_Book_Out2::CreateDocumentsSet(const char* name) {
  return m_book->CreateFolder(name, 0);
}

void DWX_Book_Out2::Finish() {
  if (m_finished) return;
  m_finished = true;
  m_strings.Store(*m_book, DWX_Names::StringsMap);
}
