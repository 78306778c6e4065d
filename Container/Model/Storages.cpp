#include "Container/Model/Storages.h"

#include "Container/Model/BookProcessors.h"

const char16_t kDWX_TextAndCodeName[] = u"VerbantTextAndCode";
const char16_t kDWX_PrivateDataName[] = u"VerbantPluginPrivateData";

namespace {

class DWX_OutStorage_Impl final : public DWX_OutStorage2 {
 public:
  DWX_OutStorage_Impl(OLEStorage& root, bool compress)
      : m_root(root), m_textAndCode(m_root, kDWX_TextAndCodeName, CD_CreateWrite),
        m_compress(compress) {}

  OLEStorage* PrivateData() override {
    if (!m_private)
      m_private = std::make_unique<OLEStorage>(m_root, kDWX_PrivateDataName, CD_CreateWrite);
    return m_private.get();
  }

  void CreateBook(DWX_Book_Out& book) override {
    DWX_Book_Out_Creator creator(book);
    CreateDWXFolder(creator, m_textAndCode, m_compress);
  }

  DWX_Handle<DWX_OutFolder2> CreateFolder2() override {
    return CreateDWXFolder2(m_textAndCode, m_compress);
  }

 private:
  OLEStorage m_root;
  OLEStorage m_textAndCode;
  bool m_compress;
  std::unique_ptr<OLEStorage> m_private;
};

class DWX_InStorage_Impl final : public DWX_InStorage2 {
 public:
  explicit DWX_InStorage_Impl(OLEStorage& root)
      : m_root(root), m_textAndCode(m_root, kDWX_TextAndCodeName, CD_OpenRead) {}

  bool HasPrivateData() override { return m_root.StorageExists(kDWX_PrivateDataName); }

  OLEStorage* PrivateData() override {
    if (!m_private)
      m_private = std::make_unique<OLEStorage>(m_root, kDWX_PrivateDataName, CD_OpenRead);
    return m_private.get();
  }

  bool OpenBook(DWX_Book_In& book) override {
    DWX_Book_In_Opener opener(book);
    return OpenDWXFolder(opener, m_textAndCode);
  }

  DWX_Handle<DWX_InFolder2> OpenFolder2() override { return OpenDWXFolder2(m_textAndCode); }

 private:
  OLEStorage m_root;
  OLEStorage m_textAndCode;
  std::unique_ptr<OLEStorage> m_private;
};

}  // namespace

DWX_OutStorage2* CreateDWX2(OLEStorage& root, bool compress) {
  return new DWX_OutStorage_Impl(root, compress);
}

DWX_OutStorage* CreateDWX(OLEStorage& root, bool compress) { return CreateDWX2(root, compress); }

DWX_OutStorage* CreateDWX(OLEStorage& root) { return CreateDWX2(root, false); }

DWX_InStorage2* OpenDWX2(OLEStorage& root) { return new DWX_InStorage_Impl(root); }

DWX_InStorage* OpenDWX(OLEStorage& root) { return OpenDWX2(root); }

bool IsDWX(OLEStorage& root) { return root.StorageExists(kDWX_TextAndCodeName); }
