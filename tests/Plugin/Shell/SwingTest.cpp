#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Foundation/MsgString.h"
#include "Plugin/Shell/CBAdapter.h"
#include "Plugin/Shell/Swing.h"
#include "Plugin/Shell/ShellTestSupport.h"

namespace {

struct TestRec {
    int value = 0;
};
using Rec = TestRec*;
using Button = Swing::AbstractButton<Rec, 5>;
using Listener = Swing::ActionListener<Rec>;

// Records every call in a shared journal under its tag.
class Recorder : public Listener {
public:
    Recorder(std::vector<std::string>& journal, std::string tag, std::vector<Rec>* seen = nullptr)
        : m_journal(journal), m_tag(std::move(tag)), m_seen(seen)
    {
    }
    ~Recorder() override { m_journal.push_back("~" + m_tag); }
    void ActionPerformed(Rec rec) override
    {
        m_journal.push_back(m_tag);
        if (m_seen)
            m_seen->push_back(rec);
    }

private:
    std::vector<std::string>& m_journal;
    std::string m_tag;
    std::vector<Rec>* m_seen;
};

class Thrower : public Listener {
public:
    void ActionPerformed(Rec) override { throw std::runtime_error("command failed"); }
};

RefPtr<Listener> MakeRecorder(std::vector<std::string>& journal, const std::string& tag,
                              std::vector<Rec>* seen = nullptr)
{
    return RefPtr<Listener>(new Recorder(journal, tag, seen));
}

class SwingTest : public ShellLogTest {};

} // namespace

// Two command adapters, as the owners of commands write their bodies.
static std::vector<std::string> g_adapterCalls;
template <>
void Swing::ActionAdapter<Rec, 9>::ActionPerformed(Rec)
{
    g_adapterCalls.push_back("export");
}
template <>
void Swing::ActionAdapter<Rec, 1>::ActionPerformed(Rec)
{
    g_adapterCalls.push_back("beep");
}

TEST(SwingAction, MenuTextsByNumber)
{
    const std::pair<int, const char*> cases[] = {
        {4, " About Kesto"},
        {5, " Export current document"},
        {6, " Export PDF coordinates"},
        {7, " Export XTags"},
        {8, " Export multiple documents"},
        {10, " Export to Verbant"},
        {15, " Import Verbant file"},
        {16, " Import multiple Verbant files"},
        {1, " Action 1"},
        {9, " Action 9"},
        {31, " Action 31"},
        {-7, " Action -7"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(Swing::ActionName(c.first).Text(), c.second) << c.first;

    RefPtr<Button> button(new Button);
    EXPECT_STREQ(button->GetName().Text(), " Export current document");
}

TEST_F(SwingTest, ListenersFireInOrderWithTheSameRecord)
{
    std::vector<std::string> journal;
    std::vector<Rec> seen;
    RefPtr<Button> button(new Button);
    button->FireActionPerformed(nullptr); // no listeners: nothing happens

    button->AddActionListener(MakeRecorder(journal, "A", &seen));
    button->AddActionListener(MakeRecorder(journal, "B", &seen));
    TestRec rec;
    button->FireActionPerformed(&rec);
    button->ActionPerformed(nullptr); // a button performed is a button fired
    EXPECT_EQ(journal, (std::vector<std::string>{"A", "B", "A", "B"}));
    EXPECT_EQ(seen, (std::vector<Rec>{&rec, &rec, nullptr, nullptr}));

    // A disabled button fired directly still runs its listeners.
    button->SetEnabled(false);
    button->FireActionPerformed(nullptr);
    EXPECT_EQ(journal.size(), 6u);

    // The listeners die with their button, in the order of the list.
    button.Reset();
    EXPECT_EQ(journal.back(), "~B");
    EXPECT_EQ(journal[journal.size() - 2], "~A");
    EXPECT_EQ(GeneralLogText(), "");
}

TEST_F(SwingTest, DuplicateAndAbsentListenersAreReportedNotThrown)
{
    std::vector<std::string> journal;
    RefPtr<Button> button(new Button);
    RefPtr<Listener> a = MakeRecorder(journal, "A");
    RefPtr<Listener> b = MakeRecorder(journal, "B");
    RefPtr<Listener> c = MakeRecorder(journal, "C");

    button->AddActionListener(a);
    button->AddActionListener(a);
    EXPECT_EQ(button->GetListenerCount(), 1u);
    EXPECT_EQ(a->GetRefCount(), 2u);

    button->RemoveActionListener(b);
    button->AddActionListener(b);
    button->AddActionListener(c);
    button->RemoveActionListener(b); // the middle one
    EXPECT_EQ(b->GetRefCount(), 1u);
    button->FireActionPerformed(nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"A", "C"}));

    const std::vector<std::string> lines = BreakPointLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "duplicated listener");
    EXPECT_EQ(lines[1], "duplicated listener metastasis");
}

TEST_F(SwingTest, BreakPointReportsNumberThemselves)
{
    BreakPoint_KS("first");
    BreakPoint_KS(nullptr);
    const std::string log = GeneralLogText();
    const std::string prefix = "######## BreakPoint_KS:";
    ASSERT_EQ(log.compare(0, prefix.size(), prefix), 0) << log;
    const unsigned long n = std::stoul(log.substr(prefix.size()));
    EXPECT_EQ(log, prefix + std::to_string(n) + " first\n" + prefix + std::to_string(n + 1) + "\n");
}

TEST_F(SwingTest, ListenerExceptionEndsTheFiring)
{
    std::vector<std::string> journal;
    RefPtr<Button> button(new Button);
    button->AddActionListener(RefPtr<Listener>(new Thrower));
    button->AddActionListener(MakeRecorder(journal, "beep"));
    EXPECT_THROW(button->FireActionPerformed(nullptr), std::runtime_error);
    EXPECT_TRUE(journal.empty());
}

namespace {

// A listener that takes itself (or another) out of the list while it fires.
class Remover : public Listener {
public:
    Remover(Button& button, std::vector<std::string>& journal) : m_button(button), m_journal(journal) {}
    ~Remover() override { m_journal.push_back("~remover"); }
    void ActionPerformed(Rec) override
    {
        m_journal.push_back("remover");
        m_button.RemoveActionListener(RefPtr<Listener>::Share(this));
        m_journal.push_back("still alive");
    }

private:
    Button& m_button;
    std::vector<std::string>& m_journal;
};

} // namespace

TEST_F(SwingTest, ListenerRemovingItselfWhileFiring)
{
    std::vector<std::string> journal;
    RefPtr<Button> button(new Button);
    button->AddActionListener(MakeRecorder(journal, "A"));
    button->AddActionListener(RefPtr<Listener>(new Remover(*button, journal)));
    button->AddActionListener(MakeRecorder(journal, "C"));

    button->FireActionPerformed(nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"A", "remover", "still alive", "~remover", "C"}));
    EXPECT_EQ(button->GetListenerCount(), 2u);

    journal.clear();
    button->FireActionPerformed(nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"A", "C"}));
}

TEST_F(SwingTest, AdapterSingleInstanceAndIdentity)
{
    using Export = Swing::ActionAdapter<Rec, 9>;
    EXPECT_FALSE(ClassObject<Export>::Instance());
    {
        RefPtr<Export> adapter(new Export);
        EXPECT_EQ(adapter->GetNumber(), 9);
        RefPtr<Export> again = ClassObject<Export>::Instance();
        EXPECT_EQ(again.Get(), adapter.Get());
        EXPECT_EQ(adapter->GetRefCount(), 2u);

        // The adapter seen as a listener and the adapter itself are one object.
        RefPtr<Listener> asListener(adapter);
        EXPECT_TRUE(IsSameObject(asListener, adapter));

        RefPtr<Button> button(new Button);
        button->AddActionListener(asListener);
        button->AddActionListener(adapter);
        EXPECT_EQ(button->GetListenerCount(), 1u);
        EXPECT_EQ(BreakPointLines(), std::vector<std::string>{"duplicated listener"});
    }
    EXPECT_FALSE(ClassObject<Export>::Instance());
}

TEST_F(SwingTest, CallBackAdapterFiresOnlyWhileEnabled)
{
    using Idle = CBAdapter<Rec, 31>;
    std::vector<std::string> journal;
    RefPtr<Idle> idle(new Idle);
    // It is reachable as its button class.
    EXPECT_EQ((ClassObject<Swing::AbstractButton<Rec, 31>>::Instance().Get()), idle.Get());

    idle->AddActionListener(MakeRecorder(journal, "step"));
    TestRec rec;
    CBGlue* glue = idle.Get();
    EXPECT_EQ(glue->Invoke(&rec), 0);
    EXPECT_EQ(journal, std::vector<std::string>{"step"});

    idle->SetEnabled(false);
    idle->SetEnabled(false);
    EXPECT_FALSE(idle->IsEnabled());
    EXPECT_EQ(idle->Call(&rec), 0);
    EXPECT_EQ(journal, std::vector<std::string>{"step"});

    idle->SetEnabled(true);
    EXPECT_EQ(idle->Call(nullptr), 0);
    EXPECT_EQ(journal, (std::vector<std::string>{"step", "step"}));
    idle.Reset();
    EXPECT_FALSE((ClassObject<Swing::AbstractButton<Rec, 31>>::Instance()));
}

TEST_F(SwingTest, MenuButtonRunsCommandThenBeep)
{
    using Beep = Swing::ActionAdapter<Rec, 1>;
    using Export = Swing::ActionAdapter<Rec, 9>;
    g_adapterCalls.clear();
    RefPtr<Button> button(new Button);
    RefPtr<Beep> beep(new Beep);
    RefPtr<Export> command(new Export);
    button->AddActionListener(command);
    button->AddActionListener(beep);
    // The holders go; the button keeps both adapters alive.
    command.Reset();
    beep.Reset();
    ASSERT_TRUE(ClassObject<Export>::Instance());
    ClassObject<Button>::Instance()->FireActionPerformed(nullptr);
    EXPECT_EQ(g_adapterCalls, (std::vector<std::string>{"export", "beep"}));
    button.Reset();
    EXPECT_FALSE(ClassObject<Export>::Instance());
    EXPECT_FALSE(ClassObject<Beep>::Instance());
}
