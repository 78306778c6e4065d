#include "SHARED/Server/CnvTools/NodeFS.h"

#include <algorithm>

#include "Foundation/AllocTracker.h"
#include "Foundation/Log.h"
#include "Foundation/TimeStamp.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/fs/NativeFS.h"

namespace {

constexpr int kRemoveRetries = 3;
constexpr int kWarning = 5;
constexpr int kError = 6;
constexpr const char* kChainFolderType = "t_Folder<TStr>";

template <class TStr>
std::string Native(const TStr& path)
{
    return platform::fs::NativePath(ToStdString(path));
}

// The creation a constructor was asked for: an existing node, a missing parent (when one is
// given) and a failed creation are each logged, and only a new node is created.
template <class Node, class Folder>
void CreateAsked(Node& node, const Folder* parent, const char* kind, const std::string& location)
{
    if (node.Exists(true))
        LogMessage(location, std::string("Warning: ") + kind + " already exists!", kWarning);
    else if (parent && !parent->Exists(true))
        LogMessage(location, "Error: parent folder doesn't exist!", kError);
    else if (!node.Create())
        LogMessage(location, "Error: create failed!", kError);
}

} // namespace

// ---- NodeFSBase ----------------------------------------------------------------------------

template <class TStr>
NodeFSBase<TStr>::NodeFSBase(const TStr& name, ct_Folder<TStr>* parent)
    : m_name(name), m_keep(parent ? parent->GetFlag() : false)
{
    SetParent(parent);
}

template <class TStr>
NodeFSBase<TStr>::NodeFSBase(const TStr& name, const TStr& folderPath, bool keep)
    : m_name(name), m_keep(keep)
{
    TStr base = folderPath.empty() ? SystemTempPath<TStr>() : folderPath;
    StripTrailingSeparators(base);
    // Without any folder path there is no chain; the node then stands for its bare name.
    if (base.empty())
        return;

    ct_Folder<TStr>* current = nullptr;
    TStr folder;
    TStr last;
    while (SplitPathAtBackslash(base, folder, last, nullptr, true)) {
        ct_Folder<TStr>* made = NewChainFolder(last);
        if (current)
            made->AddFolder(current);
        else
            SetParent(made);
        current = made;
        base = folder;
        StripTrailingSeparators(base);
    }
    ct_Folder<TStr>* top = NewChainFolder(base);
    if (current)
        top->AddFolder(current);
    else
        SetParent(top);
}

template <class TStr>
ct_Folder<TStr>* NodeFSBase<TStr>::NewChainFolder(const TStr& name)
{
    const std::string location = KS_LOCATION("NodeFSBase::NodeFSBase");
    ReportAllocations(location);
    auto* folder = new ct_Folder<TStr>(name, nullptr, false);
    TrackAlloc(kChainFolderType, folder);
    ReportAllocations(location);
    m_chain.push_back(folder);
    return folder;
}

template <class TStr>
NodeFSBase<TStr>::~NodeFSBase()
{
    if (m_parent)
        m_parent->Unlist(this);
    m_parent = nullptr;

    const std::string location = KS_LOCATION("NodeFSBase::~NodeFSBase");
    for (ct_Folder<TStr>*& folder : m_chain)
        DeleteTracked(folder, kChainFolderType, location);
}

template <class TStr>
void NodeFSBase<TStr>::SetParent(ct_Folder<TStr>* parent)
{
    if (parent == m_parent)
        return;
    if (m_parent) {
        auto& dependents = m_parent->m_dependents;
        dependents.erase(std::remove(dependents.begin(), dependents.end(), this), dependents.end());
    }
    m_parent = parent;
    if (m_parent)
        m_parent->m_dependents.push_back(this);
}

template <class TStr>
bool NodeFSBase<TStr>::SetFlag(bool keep)
{
    m_keep = keep;
    return keep;
}

template <class TStr>
bool NodeFSBase<TStr>::GetFlag() const
{
    return m_keep;
}

template <class TStr>
std::vector<TStr> NodeFSBase<TStr>::GetParentNames() const
{
    std::vector<TStr> names;
    for (const ct_Folder<TStr>* folder = m_parent; folder; folder = folder->GetParent())
        names.push_back(folder->m_name);
    std::reverse(names.begin(), names.end());
    return names;
}

template <class TStr>
std::vector<TStr> NodeFSBase<TStr>::GetPathComponents() const
{
    std::vector<TStr> components = GetParentNames();
    components.push_back(m_name);
    return components;
}

template <class TStr>
TStr NodeFSBase<TStr>::GetFolderPath() const
{
    TStr path;
    for (const TStr& name : GetParentNames())
        path = JoinPath(path, name);
    return path;
}

template <class TStr>
TStr NodeFSBase<TStr>::GetFullPath() const
{
    return m_parent ? JoinPath(GetFolderPath(), m_name) : m_name;
}

template <class TStr>
bool NodeFSBase<TStr>::operator==(const NodeFSBase& other) const
{
    return GetPathComponents() == other.GetPathComponents();
}

template <class TStr>
bool NodeFSBase<TStr>::operator!=(const NodeFSBase& other) const
{
    return !(*this == other);
}

template <class TStr>
bool NodeFSBase<TStr>::operator<(const NodeFSBase& other) const
{
    return GetPathComponents() < other.GetPathComponents();
}

template <class TStr>
bool NodeFSBase<TStr>::operator>(const NodeFSBase& other) const
{
    return other < *this;
}

// ---- ct_File -------------------------------------------------------------------------------

template <class TStr>
ct_File<TStr>::ct_File(const TStr& name, ct_Folder<TStr>* parent, bool create)
    : NodeFSBase<TStr>(name, parent)
{
    if (create)
        CreateAsked(*this, parent, "file", KS_LOCATION("ct_File::ct_File"));
    if (parent)
        parent->AddFile(this);
}

template <class TStr>
bool ct_File<TStr>::Create()
{
    if (this->m_name.empty())
        return false;
    const TStr path = this->GetFullPath();
    // An existing file is never overwritten.
    if (PathExists(path))
        return false;
    std::ofstream out(Native(path), std::ios::out | std::ios::binary);
    if (!out) {
        LogMessage(KS_LOCATION("ct_File::Create"), "Error: output file stream invalid", kError);
        return false;
    }
    TimeStamp stamp;
    stamp.SetNow();
    WriteTimeStamp(out, stamp) << '\n';
    out.flush();
    // A file without its time-stamp line is no placeholder the caller can rely on.
    if (!out) {
        LogMessage(KS_LOCATION("ct_File::Create"), "Error: output file stream invalid", kError);
        return false;
    }
    return true;
}

template <class TStr>
bool ct_File<TStr>::Remove()
{
    if (this->m_keep)
        return false;
    return RemoveFile(this->GetFullPath(), kRemoveRetries);
}

template <class TStr>
bool ct_File<TStr>::Exists(bool strict) const
{
    bool isDirectory = false;
    if (!PathExists(this->GetFullPath(), &isDirectory))
        return false;
    return !strict || !isDirectory;
}

// ---- ct_LogFile ----------------------------------------------------------------------------

template <class TStr>
ct_LogFile<TStr>::ct_LogFile(const TStr& name, ct_Folder<TStr>* parent)
    : ct_File<TStr>(name, parent, false)
{
    m_stream.open(Native(this->GetFullPath()), std::ios::out | std::ios::trunc);
}

template <class TStr>
ct_LogFile<TStr>::~ct_LogFile()
{
    if (m_stream.is_open())
        m_stream.close();
}

// ---- ct_Folder -----------------------------------------------------------------------------

template <class TStr>
ct_Folder<TStr>::ct_Folder(const TStr& name, ct_Folder* parent, bool create)
    : NodeFSBase<TStr>(name, parent)
{
    if (create)
        CreateAsked(*this, parent, "folder", KS_LOCATION("ct_Folder::ct_Folder"));
    if (parent)
        parent->AddFolder(this);
}

template <class TStr>
ct_Folder<TStr>::ct_Folder(const TStr& name, const TStr& folderPath, bool create, bool keep)
    : NodeFSBase<TStr>(name, folderPath, keep)
{
    // No test of the parent: a missing one makes the creation fail and log.
    if (create)
        CreateAsked(*this, static_cast<ct_Folder*>(nullptr), "folder", KS_LOCATION("ct_Folder::ct_Folder"));
}

template <class TStr>
ct_Folder<TStr>::~ct_Folder()
{
    for (NodeFSBase<TStr>* dependent : m_dependents)
        dependent->m_parent = nullptr;
    m_dependents.clear();
    m_files.clear();
    m_folders.clear();
}

template <class TStr>
bool ct_Folder<TStr>::Create()
{
    if (this->m_name.empty())
        return false;
    return createDirectory(this->GetFullPath());
}

template <class TStr>
bool ct_Folder<TStr>::Exists(bool strict) const
{
    bool isDirectory = false;
    if (!PathExists(this->GetFullPath(), &isDirectory))
        return false;
    return !strict || isDirectory;
}

template <class TStr>
bool ct_Folder<TStr>::Remove()
{
    if (this->m_keep)
        return false;
    bool children = true;
    for (const auto& entry : m_folders)
        children = entry.second->Remove() && children;
    m_folders.clear();
    for (const auto& entry : m_files)
        children = entry.second->Remove() && children;
    m_files.clear();
    // The folder is tried even when a child stayed; it then fails after its retries.
    const bool removed = removeDirectory(this->GetFullPath(), kRemoveRetries);
    return children && removed;
}

template <class TStr>
bool ct_Folder<TStr>::SetFlag(bool keep)
{
    for (const auto& entry : m_folders)
        entry.second->SetFlag(keep);
    for (const auto& entry : m_files)
        entry.second->SetFlag(keep);
    return NodeFSBase<TStr>::SetFlag(keep);
}

template <class TStr>
bool ct_Folder<TStr>::AddFile(ct_File<TStr>* file)
{
    if (!file)
        return false;
    if (!m_files.emplace(file->GetName(), file).second) {
        LogMessage(KS_LOCATION("ct_Folder::AddFile"), "Warning: duplicate file!", kWarning);
        return false;
    }
    file->SetParent(this);
    return true;
}

template <class TStr>
bool ct_Folder<TStr>::AddFolder(ct_Folder* folder)
{
    // A folder cannot be listed inside itself or below itself: its path would never end.
    for (const ct_Folder* ancestor = this; ancestor; ancestor = ancestor->GetParent())
        if (ancestor == folder)
            return false;
    if (!folder)
        return false;
    if (!m_folders.emplace(folder->GetName(), folder).second) {
        LogMessage(KS_LOCATION("ct_Folder::AddFolder"), "Warning: duplicate folder!", kWarning);
        return false;
    }
    folder->SetParent(this);
    return true;
}

template <class TStr>
ct_Folder<TStr>* ct_Folder<TStr>::FindFolder(const TStr& name) const
{
    const auto it = m_folders.find(name);
    return it == m_folders.end() ? nullptr : it->second;
}

template <class TStr>
void ct_Folder<TStr>::Unlist(const NodeFSBase<TStr>* child)
{
    const TStr name = child->GetName();
    if (const auto it = m_files.find(name);
        it != m_files.end() && static_cast<const NodeFSBase<TStr>*>(it->second) == child)
        m_files.erase(it);
    if (const auto it = m_folders.find(name);
        it != m_folders.end() && static_cast<const NodeFSBase<TStr>*>(it->second) == child)
        m_folders.erase(it);
    m_dependents.erase(std::remove(m_dependents.begin(), m_dependents.end(), child),
                       m_dependents.end());
}

template <class TStr>
bool ct_Folder<TStr>::CreateWithParents()
{
    if (this->m_name.empty())
        return false;

    // This folder and its ancestors, nearest first, up to the first one found on disk.
    std::vector<ct_Folder*> missing;
    ct_Folder* existing = this;
    while (existing && !existing->Exists(true)) {
        missing.push_back(existing);
        existing = existing->GetParent();
    }
    if (!existing)
        return false;
    if (existing == this)
        return Create();   // refused: the path exists

    // Down again by name, creating each folder below the existing one; a failure is logged by
    // the creation and the walk goes on.
    ct_Folder* current = existing;
    for (std::size_t i = missing.size(); i-- > 1;) {
        ct_Folder* child = current->FindFolder(missing[i]->GetName());
        if (!child)
            return false;
        child->Create();
        current = child;
    }
    return Create();
}

template class NodeFSBase<std::string>;
template class NodeFSBase<ustring>;
template class ct_File<std::string>;
template class ct_File<ustring>;
template class ct_LogFile<std::string>;
template class ct_Folder<std::string>;
template class ct_Folder<ustring>;
