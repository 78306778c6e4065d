// One process-wide slot per class naming its single live object, so that any part of the
// module can reach a command object or button by its class without being handed it.
#pragma once

#include "Plugin/Shell/RefObject.h"

template <class T>
class ClassObject : public virtual RefObject {
public:
    // A new reference to the live object of T, or null when none is alive.
    static RefPtr<T> Instance() { return RefPtr<T>::Share(s_instance); }

protected:
    // The slot holds no reference: it only names the object, from its construction until its
    // destruction begins. A second object of T replaces the first in the slot.
    ClassObject() { s_instance = static_cast<T*>(this); }
    ~ClassObject() override
    {
        if (s_instance == static_cast<T*>(this))
            s_instance = nullptr;
    }

private:
    static inline T* s_instance = nullptr;
};
