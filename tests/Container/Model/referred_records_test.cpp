// Reference counting, handles and the self-describing records.
#include "Container/Model/Folders.h"
#include "ModelDump.h"

#include <gtest/gtest.h>

#include <typeinfo>

namespace {

struct Counted : ReferredObject {
  explicit Counted(int* deleted) : deleted(deleted) {}
  ~Counted() override { ++*deleted; }
  int* deleted;
};

TEST(ReferredObject, CountsFromOneAndFreesAtZero) {
  int deleted = 0;
  auto* object = new Counted(&deleted);
  EXPECT_EQ(object->AddRef(), 2u);
  EXPECT_EQ(object->Release(), 1u);
  EXPECT_EQ(deleted, 0);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(deleted, 1);
}

TEST(DWX_Handle, AdoptsCopiesAssignsAndReleases) {
  int deleted = 0;
  {
    DWX_Handle<Counted> a(new Counted(&deleted));
    DWX_Handle<Counted> b(a);
    a = a;  // self-assignment keeps the object
    EXPECT_EQ(a->AddRef(), 3u);
    a->Release();
    b.Reset();
    EXPECT_EQ(deleted, 0);
    DWX_Handle<Counted> c(new Counted(&deleted));
    c = a;  // the object c held goes
    EXPECT_EQ(deleted, 1);
    EXPECT_FALSE(b);
    EXPECT_TRUE(c);
  }
  EXPECT_EQ(deleted, 2);
}

struct Fields : DWX_FieldReceiver {
  std::vector<std::tuple<DWX_FieldType, std::string, dwx_long>> seen;
  void AddField(DWX_FieldType type, const char* name, dwx_long index) override {
    seen.emplace_back(type, name, index);
  }
};

TEST(Records, DescribeTheirFieldsInIndexOrder) {
  Fields refPoint;
  DWX_RefPoint_Rec().EnumFields(refPoint);
  using F = std::tuple<DWX_FieldType, std::string, dwx_long>;
  EXPECT_EQ(refPoint.seen, (std::vector<F>{{ft_Long, "m_ObjectFolderID", 0},
                                           {ft_Long, "m_ObjectTypeRef", 1},
                                           {ft_Long, "m_RefTypeRef", 2}}));
  Fields numbered;
  DWX_NumberedString().EnumFields(numbered);
  EXPECT_EQ(numbered.seen, (std::vector<F>{{ft_Long, "m_Ref", 0}, {ft_WString, "m_String", 1}}));

  DWX_FieldsList list;
  DWX_SpecialChar_Rec().EnumFields(list);
  const DWX_FieldsList::Map::value_type* field = nullptr;
  ASSERT_TRUE(list.Next(field));
  EXPECT_EQ(field->second.name, "m_NameRef");
  ASSERT_TRUE(list.Next(field));
  EXPECT_EQ(field->second.name, "m_DataRef");
  EXPECT_FALSE(list.Next(field));
}

// Fields go through streams of their own type; other indexes and types are refused.
TEST(Records, PutAndGetFieldsThroughTypedStreams) {
  model_test::MemoryCodeFile file;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    auto longs = root->CreateStream(ft_Long, "longs", 0);
    auto shorts = root->CreateStream(ft_Short, "shorts", 0);
    DWX_PlaceHolder_Rec_Out placeHolder;
    placeHolder.m_ObjectFolderID = 7;
    placeHolder.m_ObjectTypeRef = 3;
    placeHolder.PutField(0, *longs);
    placeHolder.PutField(2, *longs);  // no such field: nothing
    placeHolder.PutField(1, *longs);
    EXPECT_THROW(placeHolder.PutField(0, *shorts), std::bad_cast);
  }
  EXPECT_EQ(model_test::StreamBytes(file.Medium(), {}, "longs"),
            model_test::LongStream({7, 3}));

  auto root = OpenDWXFolder2(file.Medium());
  auto longs = root->OpenStream(ft_Long, "longs", 0);
  ASSERT_TRUE(longs);
  DWX_RefPoint_Rec_In refPoint;
  EXPECT_FALSE(refPoint.GetField(3, *longs));
  EXPECT_EQ(refPoint.m_ObjectFolderID, 0);
  EXPECT_TRUE(refPoint.GetField(2, *longs));
  EXPECT_EQ(refPoint.m_RefTypeRef, 7);
  EXPECT_TRUE(refPoint.GetField(0, *longs));
  EXPECT_FALSE(refPoint.GetField(1, *longs));  // the stream has ended
  EXPECT_EQ(refPoint.m_ObjectTypeRef, -1);
  auto shorts = root->OpenStream(ft_Short, "shorts", 0);
  ASSERT_TRUE(shorts);
  EXPECT_THROW(refPoint.GetField(0, *shorts), std::bad_cast);
}

}  // namespace
