// Listeners that stand in for the per-document commands in the driver's and the folder runs'
// tests: added to a command button, they write the job's target as a command would, or throw.
// The export command is real: its targets are checked as the exchange files it writes.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "Plugin/NobodyAtTheHost.h"

namespace kesto_test {

class TargetWriter : public CommandListener {
public:
    // Empty: creates the target and writes nothing, as a command that fails after making its file.
    enum class Mode { Write, Throw, Empty };
    explicit TargetWriter(Mode mode = Mode::Write) : m_mode(mode) {}

    void ActionPerformed(XTVoidRec*) override
    {
        targets.push_back(CurrentJob->target.GetPath());
        if (m_mode == Mode::Throw)
            throw std::runtime_error("command failed");
        // The verdict of the real command, which the button ran before, is not the stand-in's.
        ForgetCommandResult();
        std::ofstream file(targets.back(), std::ios::binary);
        if (m_mode == Mode::Write)
            file << "written from " << CurrentJob->source.GetPath();
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

// Whether the file starts as a compound file does: what the export command writes.
inline bool IsExchangeFile(const std::filesystem::path& file)
{
    static const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::ifstream in(file, std::ios::binary);
    char head[8] = {};
    return in.read(head, sizeof head) &&
           std::equal(std::begin(head), std::end(head), std::begin(signature),
                      [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
}

// What the driver's and the folder runs' tests name without their namespace.
namespace driver_names {
namespace fs = std::filesystem;
using kesto_test::AddTargetWriter;
using kesto_test::CountOf;
using kesto_test::IsExchangeFile;
using kesto_test::NobodyAtTheHost;
using kesto_test::ReadText;
using kesto_test::TargetWriter;
} // namespace driver_names

} // namespace kesto_test
