#include "Plugin/QAPI/QFontList.h"

#include <cstring>
#include <ios>
#include <new>
#include <ostream>
#include <vector>

#include "Foundation/Log.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Filter/CodePage_KS.h"
#include "Plugin/QAPI/QHandle.h"
#include "Plugin/Shell/HostSuites.h"

namespace {

constexpr size_t kMaxName = 255;

// A NUL-terminated name from [at, end); false when the list ends inside it.
bool ReadName(const uint8_t* data, size_t end, size_t& at, std::string& name)
{
    const void* zero = std::memchr(data + at, 0, end - at);
    if (!zero)
        return false;
    const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(zero) - (data + at));
    name.assign(reinterpret_cast<const char*>(data + at), length < kMaxName ? length : kMaxName);
    at += length + 1;
    return true;
}

} // namespace

QFontList::QFontList()
{
    int32_t size = 0;
    if (CallHost<XSD_FontList>(nullptr, &size) != XT_OK || size < 2)
        return;
    std::vector<uint8_t> packed(static_cast<size_t>(size));
    if (CallHost<XSD_FontList>(packed.data(), &size) != XT_OK || size < 2 ||
        static_cast<size_t>(size) > packed.size())
        return;
    try {
        QHandle<uint8_t> list;
        list.Assign(packed.data(), static_cast<uint32_t>(size));
        Build(list.Element(0), list.Count());
    } catch (const std::bad_alloc&) {
        // Without host memory the document has no font list; callers treat fonts as unlisted.
        ReportInternalError(__FILE__, __LINE__);
    }
}

QFontList::QFontList(const uint8_t* packed, size_t size)
{
    if (packed)
        Build(packed, size);
}

void QFontList::Build(const uint8_t* data, size_t end)
{
    if (end < 2)
        return;
    const uint16_t count = static_cast<uint16_t>(data[0] | data[1] << 8);
    size_t at = 2;
    for (uint16_t i = 0; i < count; ++i) {
        if (end - at < 4) {
            ReportInternalError(__FILE__, __LINE__);
            return;
        }
        const uint16_t id = static_cast<uint16_t>(data[at] | data[at + 1] << 8);
        const uint16_t script = data[at + 2];
        at += 4;
        std::string name, second;
        if (!ReadName(data, end, at, name) || !ReadName(data, end, at, second)) {
            ReportInternalError(__FILE__, __LINE__);
            return;
        }
        if (mEntries.count(id)) {
            ReportInternalError(__FILE__, __LINE__);
            continue;
        }
        auto* entry = new QFontEntry;
        entry->id = id;
        entry->name = name.c_str();
        entry->script = script;
        entry->codePage = script == 0 ? kNoCodePage : CodePageForScript(script);
        mEntries[id] = entry;
        mInOrder.push_back(entry);
    }
    if (at != end)
        ReportInternalError(__FILE__, __LINE__);
}

QFontList::~QFontList()
{
    for (auto& entry : mEntries)
        delete entry.second;
}

const QFontEntry* QFontList::Find(uint16_t id) const
{
    auto it = mEntries.find(id);
    if (it != mEntries.end())
        return it->second;
    std::ostream& log = GeneralLogStream();
    log << "##### fontID " << std::hex << id << std::dec << "  (" << id << ") is not found"
        << " will return something" << '\n';
    log.flush();
    return nullptr;
}
