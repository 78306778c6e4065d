// A typed array kept in a host memory handle. The host's run tables and private data come in
// caller buffers; QHandle copies them into its own handle, which it owns and disposes.
#pragma once

#include <cstdint>
#include <new>
#include <vector>

#include "platform/host/xtapi/XTAPI.h"

class QHandleBase {
public:
    // An empty block (size 0) from the host; std::bad_alloc when the host gives none.
    QHandleBase();
    ~QHandleBase();
    QHandleBase(const QHandleBase&) = delete;
    QHandleBase& operator=(const QHandleBase&) = delete;
    QHandleBase(QHandleBase&& other) noexcept;
    QHandleBase& operator=(QHandleBase&& other) noexcept;

    XTHandle Handle() const { return m_handle; }
    uint32_t Count() const { return m_count; }
    // The host's size of the block in bytes; 0 for a null handle.
    uint32_t HostSize() const;
    // The host's lock of the block (no answer).
    void Lock() const;
    // Releases the block through the host; the handle is null afterwards.
    void Dispose();

protected:
    // Makes the block hold count elements of size bytes copied from data (may be null: zeros);
    // std::bad_alloc when the host refuses.
    void AssignBytes(const void* data, uint32_t count, uint32_t size);
    void* Data() const { return m_data; }
    void SetCount(uint32_t count) { m_count = count; }

private:
    XTHandle m_handle = 0;
    uint32_t m_count = 0;
    void* m_data = nullptr;  // the block's address, valid until the next resize
};

template <class T>
class QHandle : public QHandleBase {
public:
    QHandle() = default;

    // The element at index; index must be below Count().
    T* Element(uint32_t index) const { return static_cast<T*>(Data()) + index; }
    T& operator[](uint32_t index) const { return *Element(index); }

    void Assign(const T* elements, uint32_t count) { AssignBytes(elements, count, sizeof(T)); }
    void Assign(const std::vector<T>& elements)
    {
        Assign(elements.data(), static_cast<uint32_t>(elements.size()));
    }

    // Drops trailing elements whose length is 0 (run tables).
    void Trim()
    {
        uint32_t count = Count();
        while (count > 0 && Element(count - 1)->length == 0)
            --count;
        SetCount(count);
    }
};
