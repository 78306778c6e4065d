// File-system nodes: small objects standing for one file or folder on disk, each knowing its
// place in a tree of folder nodes. A node computes its full path from its ancestors' names,
// creates and removes itself on disk, and refuses removal while its keep flag is set; a folder
// removes everything listed below it.
//
// Ownership: whoever creates a node deletes it. A folder's maps only list its children and
// never own them. A node that is deleted unlists itself from its folder, and a folder that is
// deleted leaves every node that named it as parent without parent, so no node is ever left
// pointing at a deleted folder. A node built from a folder path owns the chain of folder nodes
// made for that path.
//
// t_File, t_Folder and t_LogFile are the std::string instantiations.
#pragma once

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Foundation/UString.h"

template <class TStr>
class NodeFSBase;
template <class TStr>
class ct_Folder;

template <class TStr>
class INodeFS {
public:
    virtual bool Create() = 0;
    virtual bool Remove() = 0;
    virtual bool SetFlag(bool keep) = 0;
    virtual bool GetFlag() const = 0;
    // With strict, the path must also be of the node's kind (file or folder).
    virtual bool Exists(bool strict) const = 0;
    virtual ~INodeFS() = default;

    // Comparisons of the nodes' path components, names compared byte-wise.
    virtual bool operator==(const NodeFSBase<TStr>& other) const = 0;
    virtual bool operator!=(const NodeFSBase<TStr>& other) const = 0;
    virtual bool operator<(const NodeFSBase<TStr>& other) const = 0;
    virtual bool operator>(const NodeFSBase<TStr>& other) const = 0;
};

template <class TStr>
class NodeFSBase : public INodeFS<TStr> {
public:
    // Child form: the keep flag comes from the parent; the node is not listed here.
    NodeFSBase(const TStr& name, ct_Folder<TStr>* parent);
    // Path form: builds and owns one folder node per component of the folder path (the
    // system's temporary folder when it is empty); touches nothing on disk.
    NodeFSBase(const TStr& name, const TStr& folderPath, bool keep);
    ~NodeFSBase() override;

    NodeFSBase(const NodeFSBase&) = delete;
    NodeFSBase& operator=(const NodeFSBase&) = delete;

    bool SetFlag(bool keep) override;
    bool GetFlag() const override;

    bool operator==(const NodeFSBase& other) const override;
    bool operator!=(const NodeFSBase& other) const override;
    bool operator<(const NodeFSBase& other) const override;
    bool operator>(const NodeFSBase& other) const override;

    TStr GetName() const { return m_name; }
    ct_Folder<TStr>* GetParent() const { return m_parent; }
    void SetParent(ct_Folder<TStr>* parent);

    // The ancestors' names from the top of the chain down to the parent.
    std::vector<TStr> GetParentNames() const;
    // GetParentNames followed by the node's own name.
    std::vector<TStr> GetPathComponents() const;
    // The ancestors' names joined by "/" (empty without parent).
    TStr GetFolderPath() const;
    // The folder path, "/" and the name; the name alone for a node without parent.
    TStr GetFullPath() const;

    // The folder nodes made by the path form, the node's own parent first.
    const std::vector<ct_Folder<TStr>*>& GetChain() const { return m_chain; }

protected:
    TStr m_name;
    bool m_keep = false;
    ct_Folder<TStr>* m_parent = nullptr;
    std::vector<ct_Folder<TStr>*> m_chain;

private:
    friend class ct_Folder<TStr>;
    ct_Folder<TStr>* NewChainFolder(const TStr& name);
};

template <class TStr>
class ct_File : public NodeFSBase<TStr> {
public:
    ct_File(const TStr& name, ct_Folder<TStr>* parent, bool create);

    // Writes a new file holding one line, its creation time; never overwrites.
    bool Create() override;
    bool Remove() override;
    bool Exists(bool strict) const override;
};

template <class TStr>
class ct_LogFile : public ct_File<TStr> {
public:
    // Opens the stream on the full path, truncating; a failed open leaves the stream failed.
    ct_LogFile(const TStr& name, ct_Folder<TStr>* parent);
    ~ct_LogFile() override;

    std::ofstream& GetStream() { return m_stream; }

private:
    std::ofstream m_stream;
};

template <class TStr>
class ct_Folder : public NodeFSBase<TStr> {
public:
    ct_Folder(const TStr& name, ct_Folder* parent, bool create);
    ct_Folder(const TStr& name, const TStr& folderPath, bool create, bool keep);
    ~ct_Folder() override;

    bool Create() override;
    // Removes the listed children (folders, then files), then the folder itself.
    bool Remove() override;
    // Sets the flag on every listed descendant, then on the folder.
    bool SetFlag(bool keep) override;
    bool Exists(bool strict) const override;

    bool AddFile(ct_File<TStr>* file);
    bool AddFolder(ct_Folder* folder);
    ct_Folder* FindFolder(const TStr& name) const;
    // Creates the missing folders from the nearest existing ancestor down to this one.
    bool CreateWithParents();

    // Forgets a node that is going away: drops it from the maps when it is listed there.
    void Unlist(const NodeFSBase<TStr>* child);

    const std::map<TStr, ct_File<TStr>*>& GetFiles() const { return m_files; }
    const std::map<TStr, ct_Folder*>& GetFolders() const { return m_folders; }

private:
    friend class NodeFSBase<TStr>;

    std::map<TStr, ct_File<TStr>*> m_files;
    std::map<TStr, ct_Folder*> m_folders;
    // Every node whose parent pointer names this folder, listed or not.
    std::vector<NodeFSBase<TStr>*> m_dependents;
};

using t_File = ct_File<std::string>;
using t_Folder = ct_Folder<std::string>;
using t_LogFile = ct_LogFile<std::string>;

extern template class NodeFSBase<std::string>;
extern template class NodeFSBase<ustring>;
extern template class ct_File<std::string>;
extern template class ct_File<ustring>;
extern template class ct_LogFile<std::string>;
extern template class ct_Folder<std::string>;
extern template class ct_Folder<ustring>;
