// Reference counting of the exchange model: the counted objects every container folder, bundle
// and field stream derives from, and the handle through which callers hold them.
#pragma once

#include <cstdint>
#include <utility>

// Widths of the stored form: the 32-bit Windows module's long and unsigned long.
using dwx_long = int32_t;
using dwx_ulong = uint32_t;
static_assert(sizeof(dwx_long) == 4 && sizeof(dwx_ulong) == 4, "model integers are 32 bits");
static_assert(sizeof(char16_t) == 2, "model text is UTF-16");

// Empty root of the model's interfaces.
class polymorphic {
 public:
  virtual ~polymorphic() = default;
};

// Intrusive reference count. The creator holds the first reference; the Release that brings the
// count to 0 deletes the object, which must have been made with new.
class ReferredObject {
 public:
  ReferredObject() = default;
  ReferredObject(const ReferredObject&) = delete;
  ReferredObject& operator=(const ReferredObject&) = delete;

  // Answers the new count.
  virtual uint32_t AddRef();
  // Answers the new count; 0 means the object is gone.
  virtual uint32_t Release();
  virtual ~ReferredObject();
  virtual void Delete();

 private:
  uint32_t m_count = 1;
};

// Owns one reference to a counted object; empty means absent.
template <class T>
class DWX_Handle {
 public:
  DWX_Handle() = default;
  // Adopts the reference that `object` already carries (creation functions hand out count 1).
  explicit DWX_Handle(T* object) : m_object(object) {}
  DWX_Handle(const DWX_Handle& other) : m_object(other.m_object) {
    if (m_object) m_object->AddRef();
  }
  DWX_Handle(DWX_Handle&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
  ~DWX_Handle() {
    if (m_object) m_object->Release();
  }

  DWX_Handle& operator=(const DWX_Handle& other) {
    if (other.m_object) other.m_object->AddRef();
    T* old = std::exchange(m_object, other.m_object);
    if (old) old->Release();
    return *this;
  }
  DWX_Handle& operator=(DWX_Handle&& other) noexcept {
    std::swap(m_object, other.m_object);
    return *this;
  }

  bool Empty() const { return m_object == nullptr; }
  explicit operator bool() const { return m_object != nullptr; }
  T* Get() const { return m_object; }
  T& operator*() const { return *m_object; }
  T* operator->() const { return m_object; }
  // Drops the reference now.
  void Reset() {
    if (T* old = std::exchange(m_object, nullptr)) old->Release();
  }

 private:
  T* m_object = nullptr;
};
