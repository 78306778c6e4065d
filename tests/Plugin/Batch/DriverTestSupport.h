// Listeners that stand in for the per-document commands in the driver's and the folder runs'
// tests: added to a command button, they write the job's target as a command would, or throw.
#pragma once

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/AppFolderTest.h"

namespace kesto_test {

class TargetWriter : public CommandListener {
public:
    enum class Mode { Write, Throw };
    explicit TargetWriter(Mode mode = Mode::Write) : m_mode(mode) {}

    void ActionPerformed(XTVoidRec*) override
    {
        targets.push_back(CurrentJob->target.GetPath());
        if (m_mode == Mode::Throw)
            throw std::runtime_error("command failed");
        std::ofstream(targets.back(), std::ios::binary) << "written from " << CurrentJob->source.GetPath();
    }

    std::vector<std::string> targets;

private:
    Mode m_mode;
};

// Adds a new writer to the live button N and answers it (null when the button is missing).
template <int N>
RefPtr<TargetWriter> AddTargetWriter(TargetWriter::Mode mode = TargetWriter::Mode::Write)
{
    RefPtr<TargetWriter> writer(new TargetWriter(mode));
    RefPtr<MenuButton<N>> button = ClassObject<MenuButton<N>>::Instance();
    if (!button)
        return RefPtr<TargetWriter>();
    button->AddActionListener(writer);
    return writer;
}

} // namespace kesto_test
