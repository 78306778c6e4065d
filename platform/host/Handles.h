// Handles the host issues: 32-bit integers (tag << 24 | serial). Serials count from 1 per
// table and are never reused, so a disposed handle stays unknown for good.
#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "platform/host/xtapi/XTAPI.h"

namespace xthost {

// Tags of the core's handles. The documents use tags 0x01 to 0x0A and share 0x09 (file
// objects) with the core's file references.
enum HandleTag : uint8_t {
    kTagFileRef = 0x09,
    kTagMenu = 0x10,
    kTagDialog = 0x11,
    kTagText = 0x12,
    kTagFileDialog = 0x13,
    kTagComponent = 0x14,
    kTagModuleObject = 0x15,
    kTagWindow = 0x16,
    kTagWindowItem = 0x17,
    kTagMemory = 0x18,
};

template <class T>
class HandleTable {
public:
    explicit HandleTable(HandleTag tag) : m_tag(tag) {}

    // The new handle, or 0 once the table's 2^24 - 1 serials are spent.
    XTHandle Issue(T value)
    {
        if (m_serial >= 0xFFFFFF)
            return 0;
        const XTHandle handle = static_cast<XTHandle>(uint32_t(m_tag) << 24 | ++m_serial);
        m_items.emplace(handle, std::move(value));
        return handle;
    }
    T* Find(XTHandle handle)
    {
        auto it = m_items.find(handle);
        return it == m_items.end() ? nullptr : &it->second;
    }
    bool Dispose(XTHandle handle) { return m_items.erase(handle) != 0; }
    bool Owns(XTHandle handle) const { return (uint32_t(handle) >> 24) == m_tag; }
    std::map<XTHandle, T>& Items() { return m_items; }
    void Clear() { m_items.clear(); }

private:
    HandleTag m_tag;
    uint32_t m_serial = 0;
    std::map<XTHandle, T> m_items;
};

}  // namespace xthost
