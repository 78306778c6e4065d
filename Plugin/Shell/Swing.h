// The module's small event framework: every command is an action, every menu item and the
// idle callback a button whose listeners run in the order they were added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Plugin/Shell/BreakPoint.h"
#include "Plugin/Shell/ClassObject.h"
#include "Plugin/Shell/RefObject.h"

class MsgString;

namespace Swing {

// An action has a number, which names it and gives its menu text, and an enabled flag.
class Action : public virtual RefObject {
public:
    explicit Action(int32_t number) : m_number(number) {}

    virtual MsgString GetName() const;

    bool IsEnabled() const { return m_enabled; }
    void SetEnabled(bool enabled) { m_enabled = enabled; }
    int32_t GetNumber() const { return m_number; }

private:
    const int32_t m_number;
    bool m_enabled = true;
};

// The menu text of an action number (also " Action <n>" for numbers without a menu item).
MsgString ActionName(int32_t number);

// Rec is a pointer to a host callback record; listeners pass it on and never read it.
template <class Rec>
class ActionListener : public virtual RefObject {
public:
    virtual void ActionPerformed(Rec rec) = 0;
};

template <class Rec, int N>
class AbstractAction : public Action, public ActionListener<Rec> {
public:
    AbstractAction() : Action(N) {}
};

// The worker of command N: its ActionPerformed is the command body, defined by the code that
// owns the command as an explicit specialisation of this member.
template <class Rec, int N>
class ActionAdapter : public AbstractAction<Rec, N>, public ClassObject<ActionAdapter<Rec, N>> {
public:
    void ActionPerformed(Rec rec) override;
};

// An event source: performing the button hands the record to each listener in turn.
template <class Rec, int N>
class AbstractButton : public AbstractAction<Rec, N>, public ClassObject<AbstractButton<Rec, N>> {
public:
    using Listener = ActionListener<Rec>;

    virtual void AddActionListener(RefPtr<Listener> listener);
    virtual void RemoveActionListener(RefPtr<Listener> listener);

    void ActionPerformed(Rec rec) override { FireActionPerformed(rec); }

    // Runs every listener, whether or not the button is enabled; an exception from a listener
    // ends the firing and reaches the caller.
    void FireActionPerformed(Rec rec);

    std::size_t GetListenerCount() const { return m_listeners.size(); }

private:
    std::size_t Find(const RefPtr<Listener>& listener) const;

    std::vector<RefPtr<Listener>> m_listeners;
};

template <class Rec, int N>
std::size_t AbstractButton<Rec, N>::Find(const RefPtr<Listener>& listener) const
{
    std::size_t i = 0;
    while (i < m_listeners.size() && !IsSameObject(m_listeners[i], listener))
        ++i;
    return i;
}

template <class Rec, int N>
void AbstractButton<Rec, N>::AddActionListener(RefPtr<Listener> listener)
{
    if (!listener) {
        BreakPoint_KS("null listener");
        return;
    }
    if (Find(listener) != m_listeners.size()) {
        BreakPoint_KS("duplicated listener");
        return;
    }
    m_listeners.push_back(std::move(listener));
}

template <class Rec, int N>
void AbstractButton<Rec, N>::RemoveActionListener(RefPtr<Listener> listener)
{
    const std::size_t i = Find(listener);
    if (!listener || i == m_listeners.size()) {
        BreakPoint_KS("duplicated listener metastasis");
        return;
    }
    m_listeners.erase(m_listeners.begin() + static_cast<std::ptrdiff_t>(i));
}

template <class Rec, int N>
void AbstractButton<Rec, N>::FireActionPerformed(Rec rec)
{
    // The walk goes by position, re-reads the end on every step and holds the running listener
    // for the length of its call, so a listener that changes this list while it fires neither
    // breaks the walk nor destroys itself under its own feet. After each call the walk goes on
    // behind the listener that just ran, wherever it now stands; when it removed itself, its
    // successor has moved into its place.
    for (std::size_t i = 0; i < m_listeners.size();) {
        RefPtr<Listener> current = m_listeners[i];
        current->ActionPerformed(rec);
        const std::size_t at = Find(current);
        if (at < m_listeners.size())
            i = at + 1;
    }
}

} // namespace Swing
