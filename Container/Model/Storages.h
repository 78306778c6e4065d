// Exchange containers: a structured storage whose child storage "VerbantTextAndCode" holds the
// code file of the book, beside an optional child "VerbantPluginPrivateData" for data private to
// the plug-in.
#pragma once

#include "Container/Model/Folders.h"
#include "Container/Storage/OLEStorage.h"

#include <memory>

class DWX_Book_Out;
class DWX_Book_In;

extern const char16_t kDWX_TextAndCodeName[];   // "VerbantTextAndCode"
extern const char16_t kDWX_PrivateDataName[];   // "VerbantPluginPrivateData"

class DWX_OutStorage : public ReferredObject {
 public:
  // The private-data storage, created on the first call; it belongs to this object, so a caller
  // that keeps it longer keeps a copy of the handle.
  virtual OLEStorage* PrivateData() = 0;
  // Writes the book through its processors into a new code file in "VerbantTextAndCode"; the
  // code file is complete when this returns.
  virtual void CreateBook(DWX_Book_Out& book) = 0;
};

class DWX_OutStorage2 : public DWX_OutStorage {
 public:
  // The root folder of a new code file in "VerbantTextAndCode".
  virtual DWX_Handle<DWX_OutFolder2> CreateFolder2() = 0;
};

class DWX_InStorage : public ReferredObject {
 public:
  virtual bool HasPrivateData() = 0;
  // The private-data storage, opened on the first call; raises the storage error when the
  // container has none (ask HasPrivateData first).
  virtual OLEStorage* PrivateData() = 0;
  // Reads the book through its processors; false only when the container holds no code file.
  // A code file without "Book/" answers true without running the book.
  virtual bool OpenBook(DWX_Book_In& book) = 0;
};

class DWX_InStorage2 : public DWX_InStorage {
 public:
  // The root folder of the code file; empty when the container holds no code file.
  virtual DWX_Handle<DWX_InFolder2> OpenFolder2() = 0;
};

// The caller owns the one reference of the object returned and ends with Release(). A root that
// cannot take or does not hold "VerbantTextAndCode" raises the storage error.
DWX_OutStorage2* CreateDWX2(OLEStorage& root, bool compress);
DWX_OutStorage* CreateDWX(OLEStorage& root, bool compress);
DWX_OutStorage* CreateDWX(OLEStorage& root);
DWX_InStorage2* OpenDWX2(OLEStorage& root);
DWX_InStorage* OpenDWX(OLEStorage& root);
// Whether the root holds "VerbantTextAndCode"; opens nothing.
bool IsDWX(OLEStorage& root);
