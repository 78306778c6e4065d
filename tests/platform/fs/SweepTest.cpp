#include "platform/fs/Sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Foundation/TestSupport.h"

namespace {

namespace stdfs = std::filesystem;
using platform::fs::NameForm;
using platform::fs::OwnedKind;

TEST(Sweep, OneParserReadsTheProcessIdOfEachForm)
{
    const std::string job = "OMRA_20261208010203_QWERTYUI" + platform::fs::JobOwnerLetters("20261208010203", 4242);
    std::string forged = job;
    forged.back() = forged.back() == 'A' ? 'B' : 'A';
    const struct {
        std::string name;
        NameForm form;
        pid_t owner;   // 0: not of the form
    } cases[] = {
        {".report.dwq.kesto-4242-abcdefghij237.tmp", {OwnedKind::Temporary, ".tmp"}, 4242},
        {".a.kesto-b.kesto-1-aaaaaaaaaaaaa.part", {OwnedKind::Temporary, ".part"}, 1},
        {".report.dwq.kesto-4242-abcdefghij237.tmp", {OwnedKind::Temporary, ".part"}, 0},
        {"report.dwq.kesto-4242-abcdefghij237.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {"..kesto-4242-abcdefghij237.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {".report.dwq.kesto-4242-abcdefghij23.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {".report.dwq.kesto-4242-abcdefghij231.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {".report.dwq.kesto-4242-ABCDEFGHIJ237.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {".report.dwq.kesto--abcdefghij237.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {".report.dwq.kesto-0-abcdefghij237.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {".report.dwq.kesto-1234567890-abcdefghij237.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        // A user's hidden files, and the names of earlier builds, which a user's file may have.
        {".budget.2024-03.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {".holiday.2023-12.part", {OwnedKind::Temporary, ".part"}, 0},
        {".report.dwq.4242-7.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {"KS_PdfProbe_1_123_0", {OwnedKind::ProbeFolder, ""}, 1},
        {"KS_PdfProbe_77_123", {OwnedKind::ProbeFolder, ""}, 0},
        {"KS_PdfProbe_x7_1_0", {OwnedKind::ProbeFolder, ""}, 0},
        {"KS_PdfStyle_1_2_3", {OwnedKind::ProbeFolder, ""}, 0},
        {job, {OwnedKind::JobFolder, ""}, 4242},
        {forged, {OwnedKind::JobFolder, ""}, 0},
        {job + "A", {OwnedKind::JobFolder, ""}, 0},
        {job, {OwnedKind::ProbeFolder, ""}, 0},
    };
    for (const auto& c : cases) {
        pid_t owner = 0;
        EXPECT_EQ(platform::fs::ParseOwnedName(c.name, c.form, owner), c.owner != 0) << c.name;
        if (c.owner != 0) {
            EXPECT_EQ(owner, c.owner) << c.name;
        }
    }
}

} // namespace
