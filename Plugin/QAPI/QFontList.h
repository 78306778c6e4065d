// The fonts of the current document: id, name, script and the Windows code page of the script.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Plugin/Mixer/HostCalls.h"

struct QFontEntry {
    uint16_t id = 0;
    FixedString<256> name;
    uint32_t codePage = 65535;  // 65535 for script 0, which only the language resolves
    uint16_t script = 0;
};

class QFontList {
public:
    // Reads the host's packed font list of the current document. A font met twice keeps its first
    // entry; a list that does not end where its size says is reported; names longer than 255
    // bytes are cut.
    QFontList();
    // The same from a packed list in the host's form.
    QFontList(const uint8_t* packed, size_t size);
    ~QFontList();
    QFontList(const QFontList&) = delete;
    QFontList& operator=(const QFontList&) = delete;

    // The entry of a font id; when absent, "##### fontID <hex>  (<decimal>) is not found will
    // return something" goes to the general log and the answer is null.
    const QFontEntry* Find(uint16_t id) const;
    size_t Size() const { return mEntries.size(); }
    // The entries in the order of the host's list.
    const std::vector<const QFontEntry*>& InOrder() const { return mInOrder; }

private:
    void Build(const uint8_t* data, size_t end);

    std::map<uint16_t, QFontEntry*> mEntries;
    std::vector<const QFontEntry*> mInOrder;
};
