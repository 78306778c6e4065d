// The idle state machine against doubles of the batch status object, the batch steps and the
// host's quit request, and against the real conversion server on loopback.
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Plugin/Batch/BatchStatusFile.h"
#include "Plugin/Batch/FolderUtils.h"
#include "Plugin/Mixer/MessageBox.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/IdleMachine.h"
#include "Plugin/Shell/KestoInterface.h"
#include "Plugin/Shell/LoopbackServerClient.h"
#include "Plugin/Shell/ShellTestSupport.h"
#include "SHARED/Server/ServerLoops.h"

namespace {

// What the batch status file holds and what the machine did with it.
struct FakeBatch {
    BatchMode mode = BatchMode::None;
    bool valid = true;
    bool active = false;
    BatchMode modeAfterReload = BatchMode::None;  // what the controller has written meanwhile
    bool stepThrows = false;
    std::vector<std::string> calls;
    std::function<void()> duringStep;
};
FakeBatch g_batch;
int g_quits = 0;

int32_t FakeQuit()
{
    ++g_quits;
    return 0;
}

bool Pending()
{
    return g_batch.valid && (g_batch.mode == BatchMode::Export || g_batch.mode == BatchMode::Import);
}

void Step(const char* name)
{
    g_batch.calls.push_back(name);
    if (g_batch.duringStep)
        g_batch.duringStep();
    if (g_batch.stepThrows)
        throw std::runtime_error("step failed");
}

} // namespace

ModuleGlobal<BatchStatusFile> BatchStatus;
bool LaunchedByBatch = false;

BatchStatusFile::BatchStatusFile() = default;
BatchStatusFile::~BatchStatusFile() = default;

bool BatchStatusFile::Load(bool)
{
    g_batch.calls.push_back("load");
    g_batch.mode = g_batch.modeAfterReload;
    return true;
}
std::string BatchStatusFile::GetFilePath() const { return std::string(); }
BatchMode BatchStatusFile::GetMode() { return g_batch.mode; }
bool BatchStatusFile::IsValid() { return g_batch.valid; }
bool BatchStatusFile::NamesJob() { return Pending(); }
bool BatchStatusFile::IsActiveJob() { return g_batch.valid && g_batch.active; }
bool BatchStatusFile::MarkStarted()
{
    g_batch.calls.push_back("started");
    return IsActiveJob();
}
// Closing the batch: Active goes, the mode is Done.
bool BatchStatusFile::OnIdle(bool finished)
{
    g_batch.calls.push_back(finished ? "finished" : "unfinished");
    if (!finished)
        return false;
    g_batch.active = false;
    g_batch.mode = BatchMode::Done;
    return true;
}
bool ActivateBatchIfPending(BatchStatusFile&)
{
    g_batch.calls.push_back("activate");
    g_batch.active = Pending();
    return g_batch.active;
}
void RegisterBatchGlobals() {}

// The server runs no conversion jobs in these tests.
bool FolderUtils::ProcessConversion(const ustring&, const ustring&, FileKind, FileKind)
{
    return false;
}

int16_t ShowMessageBox(int32_t resId, const std::string& line1, const std::string& line2,
                       const std::string& line3, const std::string& line4, bool f1, bool f2, bool f3)
{
    g_batch.calls.push_back("box " + std::to_string(resId) + " " + line1 + "|" + line2 + "|" + line3 + "|" +
                            line4 + (f1 || f2 || f3 ? " forced" : ""));
    return 0;
}

template <>
void IdleAdapter<12>::ActionPerformed(XTIdleRec*)
{
    Step("export step");
}

template <>
void IdleAdapter<18>::ActionPerformed(XTIdleRec*)
{
    Step("import step");
}

namespace {

class IdleMachineTest : public ShellLogTest {
protected:
    void SetUp() override
    {
        ShellLogTest::SetUp();
        g_batch = FakeBatch{};
        g_quits = 0;
        LaunchedByBatch = false;
        ResetIdleMachine();
        KestoInterface::Destroy();
        BatchStatus.Build();
        HostSuiteTable(XT_SUITE_XAQ)->slot[16] = reinterpret_cast<XTProc>(&FakeQuit);
        m_machine = RefPtr<IdleAdapter<19>>(new IdleAdapter<19>);
        m_export = RefPtr<IdleAdapter<12>>(new IdleAdapter<12>);
        m_import = RefPtr<IdleAdapter<18>>(new IdleAdapter<18>);
    }

    void TearDown() override
    {
        HostSuiteTable(XT_SUITE_XAQ)->slot[16] = nullptr;
        BatchStatus.Destroy();
        KestoInterface::Destroy();
        ShellLogTest::TearDown();
    }

    void Idle(int times = 1)
    {
        XTIdleRec rec{XT_CB_IDLE, 0};
        for (int i = 0; i < times; ++i)
            m_machine->ActionPerformed(&rec);
    }

    void ActiveJob(BatchMode mode)
    {
        g_batch.mode = mode;
        g_batch.active = true;
    }

    RefPtr<IdleAdapter<19>> m_machine;
    RefPtr<IdleAdapter<12>> m_export;
    RefPtr<IdleAdapter<18>> m_import;
};

using Calls = std::vector<std::string>;

int Count(const std::string& text, const std::string& part)
{
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace

TEST_F(IdleMachineTest, BatchAtLaunchRunsTheStepThenWaitsForTheNextJob)
{
    LaunchedByBatch = true;
    ActiveJob(BatchMode::Export);
    Idle();
    EXPECT_EQ(g_batch.calls, (Calls{"started", "export step", "finished"}));

    // The batch is closed: the status file is read again and nothing is pending yet.
    g_batch.calls.clear();
    g_batch.modeAfterReload = BatchMode::Done;
    Idle();
    EXPECT_EQ(g_batch.calls, (Calls{"load", "activate"}));

    // The controller writes the next job; it becomes active and runs at the following call.
    g_batch.calls.clear();
    g_batch.modeAfterReload = BatchMode::Import;
    Idle(2);
    EXPECT_EQ(g_batch.calls, (Calls{"load", "activate", "started", "import step", "finished"}));
    EXPECT_EQ(g_quits, 0);
}

TEST_F(IdleMachineTest, BatchNotStartedAtLaunchQuitsTheHostOnceWhenOver)
{
    ActiveJob(BatchMode::Import);
    Idle(4);
    EXPECT_EQ(g_batch.calls, (Calls{"started", "import step", "finished"}));
    EXPECT_EQ(g_quits, 1);
}

TEST_F(IdleMachineTest, FailingStepIsReportedUnfinishedAndTriedAgain)
{
    ActiveJob(BatchMode::Export);
    g_batch.stepThrows = true;
    Idle(2);
    EXPECT_EQ(g_batch.calls, (Calls{"started", "export step", "unfinished", "started", "export step", "unfinished"}));
    EXPECT_EQ(g_quits, 0);
}

TEST_F(IdleMachineTest, NestedIdleDuringAStepStartsNoSecondStep)
{
    ActiveJob(BatchMode::Export);
    g_batch.duringStep = [this] {
        g_batch.duringStep = nullptr;
        Idle();
    };
    Idle();
    EXPECT_EQ(g_batch.calls, (Calls{"started", "export step", "finished"}));
    EXPECT_EQ(g_quits, 0);
}

TEST_F(IdleMachineTest, UnknownModeShowsTheBatchModeErrorAndClosesTheStep)
{
    LaunchedByBatch = true;
    ActiveJob(BatchMode::Export);
    Idle();  // decides for a batch run
    g_batch.calls.clear();
    ActiveJob(static_cast<BatchMode>(7));
    Idle();
    EXPECT_EQ(g_batch.calls, (Calls{"started", "box 22100 Batch mode error!|||", "finished"}));
}

TEST_F(IdleMachineTest, DecisionIsKeptForTheWholeRun)
{
    // Done at the first call: never a batch run, even when a job shows up later.
    g_batch.mode = BatchMode::Done;
    Idle();
    ActiveJob(BatchMode::Export);
    Idle(2);
    EXPECT_TRUE(g_batch.calls.empty());
    EXPECT_EQ(g_quits, 0);

    // An invalid status file is no batch run either.
    ResetIdleMachine();
    g_batch.valid = false;
    Idle(2);
    EXPECT_TRUE(g_batch.calls.empty());
}

TEST_F(IdleMachineTest, ServerThatFailsIsStartedAgainAtEveryCall)
{
    kesto_test::PortHolder holder;
    LoadSettings("[Server]\nserverMode=True\nlistenPort=" + std::to_string(holder.Port()) + "\n");
    // A pending batch is never considered in server mode.
    ActiveJob(BatchMode::Export);
    CaptureStandardError();
    Idle(3);
    const std::string err = StandardErrorText();
    EXPECT_EQ(Count(err, "Server DOWN"), 3) << err;
    EXPECT_EQ(Count(err, "DoStartServer[BEFORE]"), 3);
    EXPECT_EQ(Count(err, "Quark shutdown"), 0);
    EXPECT_TRUE(g_batch.calls.empty());
    EXPECT_EQ(g_quits, 0);
}

TEST_F(IdleMachineTest, HaltedServerAsksTheHostToQuitOnce)
{
    const uint16_t port = kesto_test::FreePort();
    LoadSettings("[Server]\nserverMode=True\nlistenPort=" + std::to_string(port) + "\n");
    kesto_test::ServerClient client(port, {"haltServer"});
    CaptureStandardError();
    Idle();
    client.Join();
    EXPECT_NE(client.Received().find("halt server\n"), std::string::npos) << client.Received();
    Idle(2);
    const std::string err = StandardErrorText();
    EXPECT_EQ(g_quits, 1);
    EXPECT_EQ(Count(err, "Server DOWN"), 1) << err;
    EXPECT_LT(err.find("Quark shutdown started ..."), err.find("Quark shutdown complete."));
    EXPECT_NE(err.find("Quark shutdown complete."), std::string::npos);
}
