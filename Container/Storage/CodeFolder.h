// Code folders: a tree over a code file's flat namespace of streams.
//
// A folder holds streams addressed by name and sub-folders addressed by (name, index). Names
// are flattened into code-file stream names: the stream n of the folder with prefix P is
// P + 0x01 + n, the sub-folder numbered k has the prefix P + 0x01 + k in upper-case hexadecimal,
// and the folder's table of sub-folders is the stream P + 0x02. The root's prefix is empty.
//
// Folders must be released before the code file they belong to.
#pragma once

#include "Container/Storage/CodeFile.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

// Composes the flattened names of one folder.
class CF_NameComposer {
 public:
  static constexpr char kItemSeparator = '\x01';
  static constexpr char kTableMark = '\x02';

  explicit CF_NameComposer(std::string prefix) : m_prefix(std::move(prefix)) {}

  const std::string& Prefix() const { return m_prefix; }
  std::string StreamName(const char* name) const { return m_prefix + kItemSeparator + name; }
  std::string FolderPrefix(uint32_t number) const;
  std::string TableName() const { return m_prefix + kTableMark; }
  // True for a name that no flattened name can hold (it contains a separator).
  static bool IsReserved(const char* name);

 private:
  std::string m_prefix;
};

class CF_OutFolder : public CF_OutStorage {
 public:
  // The sub-folder (name, index), created on first use; owned by the caller.
  virtual std::unique_ptr<CF_OutFolder> CreateFolder(const char* name, int32_t index) = 0;
  // Finish writes the folder's table of sub-folders; the destructor does so when it was not
  // called and reports a failure to the warning messenger.
};

class CF_InFolder : public virtual CF_InStorage {
 public:
  // Null when the pair is not in the folder's table.
  virtual std::unique_ptr<CF_InFolder> OpenFolder(const char* name, int32_t index) = 0;
};

class CF_EnumerableInFolder : public CF_InFolder, public CF_EnumerableInStorage {
 public:
  // Calls the receiver with the name of every stream directly in this folder.
  bool EnumerateStreams(IdentifierReceiver& receiver) override = 0;
  // OpenFolder for a folder that can be enumerated in turn.
  virtual std::unique_ptr<CF_EnumerableInFolder> OpenEnumerableFolder(const char* name,
                                                                      int32_t index) = 0;
  // The streams of the code file that lie outside every folder.
  virtual std::unique_ptr<CF_EnumerableInStorage> OpenUnfoldedStorage() = 0;
  // Calls the receiver with (name, index) of every sub-folder in table order.
  virtual bool EnumerateFolders(IdentifierReceiver& receiver) = 0;
};

// The root folder of a code file being written.
std::unique_ptr<CF_OutFolder> CreateCodeFolder(CF_OutStorage& file);
// The root folder of a code file being read; its table is read here (34001 when it is absent
// or damaged).
std::unique_ptr<CF_InFolder> OpenCodeFolder(CF_InStorage& file);
std::unique_ptr<CF_EnumerableInFolder> OpenEnumerableCodeFolder(CF_EnumerableInStorage& file);
