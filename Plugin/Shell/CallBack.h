// Handler objects of host callbacks as the callback manager stores them.
#pragma once

#include <cstdint>

#include "Plugin/Shell/RefObject.h"

// A handler seen without its record type: the callback manager hands it the host's record.
class CBGlue : public virtual RefObject {
public:
    virtual int32_t Invoke(void* rec) = 0;
};

// A handler of one record type; Rec is a pointer to the host's record of that callback kind.
template <class Rec>
class CallBack : public CBGlue {
public:
    int32_t Invoke(void* rec) override { return Call(static_cast<Rec>(rec)); }
    virtual int32_t Call(Rec rec) = 0;
};
