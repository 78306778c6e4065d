// A button that a host callback drives through the callback manager (the idle button).
#pragma once

#include <cstdint>

#include "Plugin/Shell/CallBack.h"
#include "Plugin/Shell/Swing.h"

// Registers in the slot of Swing::AbstractButton<Rec,N>, so Instance of that class yields it.
template <class Rec, int N>
class CBAdapter : public Swing::AbstractButton<Rec, N>, public CallBack<Rec> {
public:
    // Fires only while the button is enabled; the host always gets 0.
    int32_t Call(Rec rec) override
    {
        if (this->IsEnabled())
            this->FireActionPerformed(rec);
        return 0;
    }
};
