#include "Plugin/QAPI/QHandle.h"

#include <cstring>
#include <limits>
#include <utility>

#include "Plugin/Shell/HostSuites.h"

QHandleBase::QHandleBase()
{
    if (CallHost<XMM_NewHandle>(0u, &m_handle) != XT_OK || !m_handle) {
        m_handle = 0;
        throw std::bad_alloc();
    }
}

QHandleBase::~QHandleBase()
{
    Dispose();
}

QHandleBase::QHandleBase(QHandleBase&& other) noexcept
    : m_handle(std::exchange(other.m_handle, 0)), m_count(std::exchange(other.m_count, 0)),
      m_data(std::exchange(other.m_data, nullptr))
{
}

QHandleBase& QHandleBase::operator=(QHandleBase&& other) noexcept
{
    if (this != &other) {
        Dispose();
        m_handle = std::exchange(other.m_handle, 0);
        m_count = std::exchange(other.m_count, 0);
        m_data = std::exchange(other.m_data, nullptr);
    }
    return *this;
}

uint32_t QHandleBase::HostSize() const
{
    uint32_t size = 0;
    if (m_handle)
        CallHost<XMM_HandleSize>(m_handle, &size);
    return size;
}

void QHandleBase::Lock() const
{
    if (m_handle)
        CallHost<XMM_LockHandle>(m_handle);
}

void QHandleBase::Dispose()
{
    if (m_handle)
        CallHost<XMM_DisposeHandle>(m_handle);
    m_handle = 0;
    m_count = 0;
    m_data = nullptr;
}

void QHandleBase::AssignBytes(const void* data, uint32_t count, uint32_t size)
{
    if (!m_handle || (size != 0 && count > std::numeric_limits<uint32_t>::max() / size))
        throw std::bad_alloc();
    const uint32_t bytes = count * size;
    void* address = nullptr;
    if (CallHost<XMM_SetHandleSize>(m_handle, bytes) != XT_OK ||
        CallHost<XMM_HandleAddress>(m_handle, &address) != XT_OK || (bytes && !address)) {
        m_count = 0;
        m_data = nullptr;
        throw std::bad_alloc();
    }
    m_data = address;
    if (bytes) {
        if (data)
            std::memcpy(address, data, bytes);
        else
            std::memset(address, 0, bytes);
    }
    m_count = count;
}
