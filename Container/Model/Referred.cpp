#include "Container/Model/Referred.h"

#include "Container/Storage/Errors.h"

uint32_t ReferredObject::AddRef() { return ++m_count; }

uint32_t ReferredObject::Release() {
  if (m_count == 0) {  // released once too often: a programming error, never a second delete
    AssertFail(__FILE__, __LINE__, "Release of an object without references");
    return 0;
  }
  if (--m_count == 0) {
    Delete();
    return 0;
  }
  return m_count;
}

ReferredObject::~ReferredObject() {
  if (m_count == 1) m_count = 0;  // destroyed directly by its only owner
}

void ReferredObject::Delete() { delete this; }
