// Copies of an exchange container with damage done to them: the code file's streams by name,
// edited through the folder tree they flatten, and raw edits of any stream of the compound file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Container/Storage/CodeFile.h"
#include "Container/Storage/OLEStorage.h"

namespace kesto_test {

using Bytes = std::vector<uint8_t>;

inline uint32_t U32(const Bytes& bytes, size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24;
}

inline void PutU32(Bytes& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// ---- The code file as streams by name ----------------------------------------------------------

struct StreamNames : IdentifierReceiver {
    std::vector<std::string> names;
    bool operator()(const char* name, uint32_t) override
    {
        names.emplace_back(name ? name : "");
        return true;
    }
};

inline Bytes ReadAll(InStream& stream)
{
    Bytes bytes;
    uint8_t block[4096];
    for (uint32_t got; (got = stream.GetData(block, sizeof block)) > 0;)
        bytes.insert(bytes.end(), block, block + got);
    return bytes;
}

// One entry of a folder's table of sub-folders.
struct FolderEntry {
    std::string name;
    int32_t index;
    uint32_t number;
};

// The streams of a code file (every one with tag 0), edited through the folder tree they flatten.
struct CodeStreams {
    std::map<std::string, Bytes> streams;

    static std::string Hex(uint32_t number)
    {
        char digits[12];
        std::snprintf(digits, sizeof digits, "%X", number);
        return digits;
    }

    std::vector<FolderEntry> Table(const std::string& prefix) const
    {
        std::vector<FolderEntry> entries;
        const Bytes& t = streams.at(prefix + '\x02');
        for (size_t at = 0; at < t.size();) {
            const uint32_t length = U32(t, at);
            FolderEntry entry{std::string(t.begin() + at + 4, t.begin() + at + 4 + length - 1), 0, 0};
            entry.index = static_cast<int32_t>(U32(t, at + 4 + length));
            entry.number = U32(t, at + 8 + length);
            entries.push_back(entry);
            at += 12 + length;
        }
        return entries;
    }

    void SetTable(const std::string& prefix, const std::vector<FolderEntry>& entries)
    {
        Bytes t;
        for (const FolderEntry& e : entries) {
            const size_t at = t.size();
            t.resize(at + 12 + e.name.size() + 1);
            PutU32(t, at, static_cast<uint32_t>(e.name.size() + 1));
            std::copy(e.name.begin(), e.name.end(), t.begin() + at + 4);
            PutU32(t, at + 5 + e.name.size(), static_cast<uint32_t>(e.index));
            PutU32(t, at + 9 + e.name.size(), e.number);
        }
        streams[prefix + '\x02'] = t;
    }

    // The prefix of the folder at the path of (name, index) pairs below the root.
    std::string Folder(const std::vector<std::pair<std::string, int32_t>>& path) const
    {
        std::string prefix;
        for (const auto& [name, index] : path) {
            bool found = false;
            for (const FolderEntry& e : Table(prefix))
                if (e.name == name && e.index == index) {
                    prefix += '\x01' + Hex(e.number);
                    found = true;
                }
            if (!found)
                throw std::runtime_error("no folder " + name);
        }
        return prefix;
    }

    // Every folder below `prefix` whose name is `name`, depth first.
    void Find(const std::string& prefix, const std::string& name, std::vector<std::string>& found) const
    {
        for (const FolderEntry& e : Table(prefix)) {
            const std::string child = prefix + '\x01' + Hex(e.number);
            if (e.name == name)
                found.push_back(child);
            Find(child, name, found);
        }
    }
};

inline const std::vector<std::pair<std::string, int32_t>> kStories = {
    {"Book/", 0}, {"DocumentsSet/", 0}, {"Document[]/", 0}, {"StoriesSet/", 0}};

inline std::vector<std::pair<std::string, int32_t>> StoryPath(int32_t story)
{
    auto path = kStories;
    path.emplace_back("Story[]/", story);
    return path;
}

inline const char16_t kTextAndCode[] = u"VerbantTextAndCode";
inline const char16_t kCodeStream[] = u"VerbantCodeFile";

inline CodeStreams ReadCodeFile(const std::string& path)
{
    OLEStorage root(path.c_str(), CD_OpenRead);
    OLEStorage code(root, kTextAndCode, CD_OpenRead);
    std::unique_ptr<CF_EnumerableInStorage> file = OpenEnumerableCodeFile(code);
    StreamNames names;
    file->EnumerateStreams(names);
    CodeStreams out;
    for (const std::string& name : names.names)
        out.streams[name] = ReadAll(*file->OpenStream(name.c_str(), 0));
    return out;
}

// ---- Copies of a container with edits ----------------------------------------------------------

// Receives the bytes of the stream at a path ("A/B/name") of the copy; answers false to keep them.
using RawEdit = std::function<bool(const std::u16string& path, Bytes& bytes)>;

inline void CopyStorage(OLEStorage& in, OLEStorage& out, const std::u16string& at, const std::vector<std::u16string>& edited,
                 const CodeStreams* code, const RawEdit& edit)
{
    OLEStorageEnumerator items = in.CreateEnumerator();
    while (items.Next()) {
        const std::u16string name = items.ItemName();
        const std::u16string path = at.empty() ? name : at + u"/" + name;
        if (code && items.ItemIsStorage() && path == kTextAndCode) {
            OLEStorage target(out, name.c_str(), CD_CreateWrite);
            std::unique_ptr<CF_OutStorage> file = CreateCodeFile(target, true);
            for (const auto& [stream, bytes] : code->streams) {
                std::unique_ptr<CF_OutStream> copy = file->CreateStream(stream.c_str(), 0, cf_Automatic);
                if (!bytes.empty())
                    copy->PutData(bytes.data(), static_cast<uint32_t>(bytes.size()));
                copy->Finish();
            }
            file->Finish();
            continue;
        }
        bool descend = false;
        for (const std::u16string& e : edited)
            descend |= e.compare(0, path.size(), path) == 0 && (e.size() == path.size() || e[path.size()] == u'/');
        if (!descend) {
            in.CopyItem(name.c_str(), out, nullptr, false);
        } else if (items.ItemIsStorage()) {
            OLEStorage source(in, name.c_str(), CD_OpenRead);
            OLEStorage target(out, name.c_str(), CD_CreateWrite);
            CopyStorage(source, target, path, edited, code, edit);
        } else {
            OLEStream source(in, name.c_str(), CD_OpenRead);
            Bytes bytes = ReadAll(source);
            edit(path, bytes);
            OLEStream target(out, name.c_str(), CD_CreateWrite);
            if (!bytes.empty())
                target.PutData(bytes.data(), static_cast<uint32_t>(bytes.size()));
        }
    }
}

// Writes `out` from `in` with the code file's streams from `code` (when given) and the streams at
// the paths of `edited` passed through `edit`.
inline void WriteCopy(const std::string& in, const std::string& out, const CodeStreams* code,
               const std::vector<std::u16string>& edited = {}, const RawEdit& edit = nullptr)
{
    OLEStorage source(in.c_str(), CD_OpenRead);
    OLEStorage target(out.c_str(), CD_CreateWrite);
    CopyStorage(source, target, u"", edited, code, edit);
    target.Flush();
}

// Flips one bit of the directory entry of `stream` in the code-file stream: 13-byte entries
// {id, tag, compression, chunk-table offset} from the offset in the header, then the names.
inline void FlipDescriptorBit(Bytes& code, const std::string& stream, size_t byte, int bit)
{
    const uint32_t count = U32(code, 0), directory = U32(code, 4);
    size_t at = directory + 13 * size_t(count);
    const uint32_t names = U32(code, at);
    at += 4;
    uint32_t id = UINT32_MAX;
    for (uint32_t i = 0; i < names; ++i) {
        const size_t length = code[at] | code[at + 1] << 8;
        const std::string name(code.begin() + at + 2, code.begin() + at + 2 + length);
        if (name == stream)
            id = U32(code, at + 2 + length);
        at += 6 + length;
    }
    for (uint32_t i = 0; i < count; ++i)
        if (U32(code, directory + 13 * i) == id)
            code[directory + 13 * i + byte] ^= static_cast<uint8_t>(1u << bit);
}

} // namespace kesto_test
