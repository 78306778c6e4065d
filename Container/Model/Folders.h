// Container folders, bundles and field streams over a code file and its code folders.
//
// A folder holds sub-folders addressed by (name, index), field streams addressed by (name, tag)
// and bundles: sub-folders with one field stream per field of a record type. Every folder,
// bundle and stream holds a reference to its container; the code file is complete once the last
// of them is released, or earlier through Complete(). Absence on reading is never an error: an
// Open answers an empty handle, a Process answers false.
#pragma once

#include "Container/Model/FieldStreams.h"
#include "Container/Model/Records.h"
#include "Container/Model/Referred.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class CF_Medium;
class OLEStorage;
class DWX_OutFolder;
class DWX_InFolder;
class DWX_OutBundle;
class DWX_InBundle;

// ---- Processors: hooks that receive a child for the time of one call ------------------------

class DWX_OutFolderProcessor : public polymorphic {
 public:
  virtual void Call(DWX_OutFolder& folder) = 0;
};
class DWX_InFolderProcessor : public polymorphic {
 public:
  virtual void Call(DWX_InFolder& folder) = 0;
};
class DWX_OutBundleProcessor : public polymorphic {
 public:
  virtual void Call(DWX_OutBundle& bundle) = 0;
};
class DWX_InBundleProcessor : public polymorphic {
 public:
  virtual void Call(DWX_InBundle& bundle) = 0;
};
class DWX_OutStreamProcessor : public polymorphic {
 public:
  virtual void Call(DWX_OutStream& stream) = 0;
};
class DWX_InStreamProcessor : public polymorphic {
 public:
  virtual void Call(DWX_InStream& stream) = 0;
};

// ---- Bundles ---------------------------------------------------------------------------------

class DWX_OutBundle : public polymorphic {
 public:
  // Writes each field of the record into its field stream.
  virtual void PutRecord(const DWX_OutRecord& record) = 0;
};

class DWX_OutBundle2 : public virtual DWX_OutBundle, public ReferredObject {
 public:
  // Completes the field streams and the bundle's folder; raises on failure.
  virtual void Finish() = 0;
};

class DWX_InBundle : public polymorphic {
 public:
  // False at the end of the records, and for a bundle none of whose field streams opened. A
  // record that the file leaves incomplete raises FE_CodeFileShortRead.
  virtual bool GetRecord(DWX_InRecord& record) = 0;
};

class DWX_InBundle2 : public virtual DWX_InBundle, public ReferredObject {};

// ---- Folders ---------------------------------------------------------------------------------

class DWX_OutFolder : public polymorphic {
 public:
  // Create the child, hand it to the processor, complete and release it.
  virtual void ProcessFolder(DWX_OutFolderProcessor& processor, const char* name,
                             dwx_long index) = 0;
  virtual void ProcessStream(DWX_OutStreamProcessor& processor, DWX_FieldType type,
                             const char* name, dwx_long tag) = 0;
  virtual void ProcessBundle(DWX_OutBundleProcessor& processor,
                             const DWX_FieldsEnumerator& record, const char* name,
                             dwx_long index) = 0;
};

class DWX_OutFolder2 : public virtual DWX_OutFolder, public ReferredObject {
 public:
  virtual DWX_Handle<DWX_OutFolder2> CreateFolder(const char* name, dwx_long index) = 0;
  // A stream of values of `type`; its type code is written at once.
  virtual DWX_Handle<DWX_OutStream2> CreateStream(DWX_FieldType type, const char* name,
                                                  dwx_long tag) = 0;
  // The sub-folder (name, index) with one field stream per field that `record` describes; the
  // record's values are not used.
  virtual DWX_Handle<DWX_OutBundle2> CreateBundle(const DWX_FieldsEnumerator& record,
                                                  const char* name, dwx_long index) = 0;
  // Writes this folder's table of sub-folders; raises on failure.
  virtual void Finish() = 0;
  // Completes the whole container now: every folder and stream still open in it, then the code
  // file's directory and header. Raises on failure. Nothing can be added afterwards.
  virtual void Complete() = 0;
};

class DWX_InFolder : public polymorphic {
 public:
  // Open the child and hand it to the processor; false when the child is absent.
  virtual bool ProcessFolder(DWX_InFolderProcessor& processor, const char* name,
                             dwx_long index) = 0;
  virtual bool ProcessStream(DWX_InStreamProcessor& processor, DWX_FieldType type,
                             const char* name, dwx_long tag) = 0;
  virtual bool ProcessBundle(DWX_InBundleProcessor& processor, const DWX_FieldsEnumerator& record,
                             const char* name, dwx_long index) = 0;
};

class DWX_InFolder2 : public virtual DWX_InFolder, public ReferredObject {
 public:
  virtual DWX_Handle<DWX_InFolder2> OpenFolder(const char* name, dwx_long index) = 0;
  // Empty also when the stored type code is not `type`.
  virtual DWX_Handle<DWX_InStream2> OpenStream(DWX_FieldType type, const char* name,
                                               dwx_long tag) = 0;
  // A field whose stream is absent or of another type is left out: its field keeps its value.
  virtual DWX_Handle<DWX_InBundle2> OpenBundle(const DWX_FieldsEnumerator& record,
                                               const char* name, dwx_long index) = 0;
};

// ---- Entry functions -----------------------------------------------------------------------

// The root folder of a new code file in `storage`; `compress` allows per-stream compression.
DWX_Handle<DWX_OutFolder2> CreateDWXFolder2(OLEStorage& storage, bool compress);
// The same over another medium (memory, for tools and tests).
DWX_Handle<DWX_OutFolder2> CreateDWXFolder2(std::unique_ptr<CF_Medium> medium, bool compress);
// The root folder of the code file in `storage`; empty when there is no code file or no root
// folder. A damaged code file raises its library error.
DWX_Handle<DWX_InFolder2> OpenDWXFolder2(OLEStorage& storage);
DWX_Handle<DWX_InFolder2> OpenDWXFolder2(std::unique_ptr<CF_Medium> medium);

// The indices of the sub-folders named `name` that `folder` lists, ascending. A reader that
// opens elements 0, 1, ... stops at the first missing one; this shows what lies behind it.
std::vector<dwx_long> DWX_SubFolderIndices(DWX_InFolder2& folder, const char* name);
// Every (name, index) pair of the sub-folders that `folder` lists, in its table's order: a
// reader can tell from it what the folder holds under names it does not open.
std::vector<std::pair<std::string, dwx_long>> DWX_SubFolders(DWX_InFolder2& folder);

void CreateDWXFolder(DWX_OutFolderProcessor& processor, OLEStorage& storage, bool compress);
bool OpenDWXFolder(DWX_InFolderProcessor& processor, OLEStorage& storage);

// ---- Folder handlers: the bases of the book writers and readers ---------------------------

class DWX_FolderHandler_Out2 : public polymorphic {
 public:
  explicit DWX_FolderHandler_Out2(const DWX_Handle<DWX_OutFolder2>& folder) : m_folder(folder) {}
  // The wrapped folder; raises FE_StorageInvalidPointer for an empty handle.
  virtual DWX_OutFolder2& Folder();

 private:
  DWX_Handle<DWX_OutFolder2> m_folder;
};

class DWX_FolderHandler_In2 : public polymorphic {
 public:
  explicit DWX_FolderHandler_In2(const DWX_Handle<DWX_InFolder2>& folder) : m_folder(folder) {}
  virtual bool Valid() const { return !m_folder.Empty(); }
  // The wrapped folder; raises FE_StorageInvalidPointer when the handler is not valid.
  virtual DWX_InFolder2& Folder();

 protected:
  // Null when the handler is not valid.
  virtual DWX_InFolder2* FolderOrNull() { return m_folder.Get(); }

 private:
  DWX_Handle<DWX_InFolder2> m_folder;
};

// ---- Single-value style references ---------------------------------------------------------

class DWX_ProcessorWithStyle_Out : public virtual DWX_OutFolderProcessor {
 protected:
  // A long stream `name` in `folder` holding the one value `id`.
  static void StoreStyleRef(DWX_OutFolder& folder, dwx_long id, const char* name);
};

class DWX_ProcessorWithStyle_In : public virtual DWX_InFolderProcessor {
 protected:
  // False when the stream is absent (id unchanged); a stream without one whole value gives -1.
  static bool RestoreStyleRef(DWX_InFolder& folder, dwx_long& id, const char* name);
};
