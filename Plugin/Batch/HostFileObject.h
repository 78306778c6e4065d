// A host file object of the module's file operations, and the host's codes as the module
// answers them.
#pragma once

#include <cstdint>
#include <string>

#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/HostText.h"
#include "platform/host/HostServices.h"

inline int16_t HostCode(int32_t result)
{
    return static_cast<int16_t>(result);
}

// A host file object made from a path, disposed with this object.
class HostFileObject {
public:
    HostFileObject(const std::string& path, uint32_t creator)
    {
        const XTHandle text = NewHostText(path);
        if (!text) {
            m_result = XT_ERR_PARAM;
            return;
        }
        m_result = CallHost<XFJ_FileRefFromText>(text, creator, 0, 0, &m_ref);
        CallHost<XText_Dispose>(text);
        if (m_result == XT_OK && m_ref == 0)
            m_result = XT_ERR_PARAM;
    }
    // An empty one, to be pointed at a file specification.
    HostFileObject() { m_result = CallHost<XFJ_NewFileRef>(&m_ref); }
    ~HostFileObject()
    {
        if (m_ref)
            CallHost<XFJ_Dispose>(m_ref);
    }
    HostFileObject(const HostFileObject&) = delete;
    HostFileObject& operator=(const HostFileObject&) = delete;

    int32_t Result() const { return m_result; }
    XTHandle Ref() const { return m_ref; }

    // The object's file specification into out, which is untouched on failure.
    int32_t CopySpec(HostFileSpec& out) const
    {
        HostFileSpec spec{};
        const int32_t result = CallHost<XFJ_GetFileSpec>(m_ref, &spec);
        if (result == XT_OK)
            out = spec;
        return result;
    }

private:
    XTHandle m_ref = 0;
    int32_t m_result = XT_OK;
};
