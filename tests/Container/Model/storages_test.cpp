// Exchange containers in real compound files.
#include "Container/Model/Storages.h"
#include "Container/Storage/Errors.h"
#include "FileFixture.h"
#include "ModelDump.h"

#include <gtest/gtest.h>

namespace {

class ExchangeContainer : public model_test::FileFixture {
 protected:
  ExchangeContainer() : FileFixture("kesto-model-", "book.dwq") {}
};

TEST_F(ExchangeContainer, CreateRecogniseAndReopen) {
  {
    OLEStorage root(m_path.c_str(), CD_CreateWrite);
    EXPECT_FALSE(IsDWX(root));
    DWX_OutStorage2* container = CreateDWX2(root, false);
    EXPECT_TRUE(IsDWX(root));
    {
      auto folder = container->CreateFolder2();
      auto stream = folder->CreateFolder("Book/", 0)->CreateStream(ft_Long, "x", 0);
      const dwx_long value = -1;
      dynamic_cast<DWX_Out<dwx_long>&>(*stream).PutData(&value, 1);
      stream->Finish();
      folder->Complete();
    }
    EXPECT_EQ(container->Release(), 0u);
    root.Flush();
  }
  OLEStorage root(m_path.c_str(), CD_OpenRead);
  ASSERT_TRUE(IsDWX(root));
  DWX_InStorage2* container = OpenDWX2(root);
  EXPECT_FALSE(container->HasPrivateData());
  {
    auto folder = container->OpenFolder2();
    ASSERT_TRUE(folder);
    auto book = folder->OpenFolder("Book/", 0);
    ASSERT_TRUE(book);
    auto stream = book->OpenStream(ft_Long, "x", 0);
    ASSERT_TRUE(stream);
    dwx_long value = 0;
    EXPECT_EQ(dynamic_cast<DWX_In<dwx_long>&>(*stream).GetData(&value, 1), 1u);
    EXPECT_EQ(value, -1);
  }
  container->Release();
  OLEStorage textAndCode(root, kDWX_TextAndCodeName, CD_OpenRead);
  EXPECT_EQ(model_test::DumpCodeFile(textAndCode), "Book/ [0]\n  x : long -1\n");
}

TEST_F(ExchangeContainer, PrivateDataOnlyOnDemand) {
  {
    OLEStorage root(m_path.c_str(), CD_CreateWrite);
    DWX_OutStorage* container = CreateDWX(root);
    container->Release();
    root.Flush();
  }
  {
    OLEStorage root(m_path.c_str(), CD_OpenRead);
    EXPECT_FALSE(root.StorageExists(kDWX_PrivateDataName));
    DWX_InStorage2* container = OpenDWX2(root);
    EXPECT_FALSE(container->HasPrivateData());
    EXPECT_FALSE(container->OpenFolder2());  // no code file was made
    EXPECT_THROW(container->PrivateData(), FilterException);
    container->Release();
  }
  {
    OLEStorage root(m_path.c_str(), CD_CreateWrite);
    DWX_OutStorage2* container = CreateDWX2(root, true);
    OLEStorage* first = container->PrivateData();
    EXPECT_EQ(container->PrivateData(), first);
    OLEStream(*first, u"0", CD_CreateWrite).PutData("kept", 4);
    container->Release();
    root.Flush();
  }
  OLEStorage root(m_path.c_str(), CD_OpenRead);
  DWX_InStorage* container = OpenDWX(root);
  ASSERT_TRUE(container->HasPrivateData());
  EXPECT_EQ(container->PrivateData(), container->PrivateData());
  EXPECT_EQ(OLEStream(*container->PrivateData(), u"0", CD_OpenRead).GetSize(), 4u);
  container->Release();
}

// The size of the code-file stream when one repetitive stream of 64 KiB is written.
uint32_t CodeFileSize(const std::string& path, bool compress, bool oldName) {
  {
    OLEStorage root(path.c_str(), CD_CreateWrite);
    DWX_OutStorage* container = oldName ? CreateDWX(root) : CreateDWX2(root, compress);
    {
      auto folder = static_cast<DWX_OutStorage2*>(container)->CreateFolder2();
      auto stream = folder->CreateStream(ft_Char, "text", 0);
      const std::string text(65536, 'a');
      dynamic_cast<DWX_Out<char>&>(*stream).PutData(text.data(), dwx_ulong(text.size()));
    }
    container->Release();
    root.Flush();
  }
  OLEStorage root(path.c_str(), CD_OpenRead);
  OLEStorage textAndCode(root, kDWX_TextAndCodeName, CD_OpenRead);
  return OLEStream(textAndCode, kCodeFileStreamName, CD_OpenRead).GetSize();
}

TEST_F(ExchangeContainer, CompressionOnlyWhenAllowed) {
  EXPECT_GT(CodeFileSize(m_path, false, true), 65536u);
  EXPECT_GT(CodeFileSize(m_path, false, false), 65536u);
  EXPECT_LT(CodeFileSize(m_path, true, false), 4096u);
}

struct Processor : DWX_OutFolderProcessor, DWX_InFolderProcessor {
  int calls = 0;
  void Call(DWX_OutFolder&) override { ++calls; }
  void Call(DWX_InFolder&) override { ++calls; }
};

TEST_F(ExchangeContainer, PlainCompoundFileIsNoContainer) {
  {
    OLEStorage root(m_path.c_str(), CD_CreateWrite);
    OLEStorage child(root, u"Other", CD_CreateWrite);
    root.Flush();
  }
  OLEStorage root(m_path.c_str(), CD_OpenRead);
  EXPECT_FALSE(IsDWX(root));
  EXPECT_THROW(OpenDWX2(root), FilterException);
  OLEStorage other(root, u"Other", CD_OpenRead);
  Processor processor;
  EXPECT_FALSE(OpenDWXFolder2(other));
  EXPECT_FALSE(OpenDWXFolder(processor, other));
  EXPECT_EQ(processor.calls, 0);
}

TEST_F(ExchangeContainer, FirstGenerationDriveCompletesTheFile) {
  Processor processor;
  {
    OLEStorage root(m_path.c_str(), CD_CreateWrite);
    OLEStorage textAndCode(root, kDWX_TextAndCodeName, CD_CreateWrite);
    CreateDWXFolder(processor, textAndCode, false);
    root.Flush();
  }
  OLEStorage root(m_path.c_str(), CD_OpenRead);
  OLEStorage textAndCode(root, kDWX_TextAndCodeName, CD_OpenRead);
  EXPECT_TRUE(OpenDWXFolder(processor, textAndCode));
  EXPECT_EQ(processor.calls, 2);
}

}  // namespace
