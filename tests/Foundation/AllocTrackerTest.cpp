#include "Foundation/AllocTracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "Foundation/Log.h"
#include "Foundation/TestSupport.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

std::string Padded(const std::string& text, std::size_t width)
{
    return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

// "0x", the address in upper-case digits to the full pointer width, and the blanks up to the
// description: a 32-bit address fills 10 columns, a 64-bit one is followed by one blank.
std::string AddressColumn(const void* address)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*jX", static_cast<int>(2 * sizeof(void*)),
                  static_cast<uintmax_t>(reinterpret_cast<uintptr_t>(address)));
    return "0x" + std::string(buffer) + (sizeof(void*) == 4 ? "  " : " ");
}

TEST(AllocTracker, CountsByTypeAndGoesNegativeForUnknownTypes)
{
    AllocTracker tracker;
    int a = 0;
    int b = 0;
    tracker.Track("t_File", &a, "");
    tracker.Track("t_File", &b, "");
    tracker.Untrack("t_File", &a);
    tracker.Untrack("t_Folder", nullptr);
    EXPECT_EQ(tracker.GetCount("t_File"), 1);
    EXPECT_EQ(tracker.GetCount("t_Folder"), -1);
}

TEST(AllocTracker, DumpListsCountsThenObjectsByDescription)
{
    AllocTracker tracker;
    static int objects[3];
    tracker.Track("t_Folder", &objects[0], "job");
    tracker.Track("t_File", &objects[1], "");
    tracker.Track("t_File", &objects[2], "");
    tracker.Track("", nullptr, "ignored");
    tracker.Track("zero", nullptr, "");
    tracker.Untrack("zero", nullptr);

    const std::string expected =
        Padded("t_File", 64) + std::string(15, ' ') + "2\n" +
        Padded("t_Folder", 64) + std::string(15, ' ') + "1\n" +
        "\n" +
        AddressColumn(&objects[1]) + Padded("t_File", 68) + "\n" +
        AddressColumn(&objects[2]) + Padded("t_File", 68) + "\n" +
        AddressColumn(&objects[0]) + Padded("t_Folder: job", 68) + "\n";
    EXPECT_EQ(tracker.Dump(), expected);
}

TEST(AllocTracker, EveryAddressIsSeparatedFromItsDescription)
{
    AllocTracker tracker;
    static int objects[2];
    tracker.Track("t_Folder", &objects[0], "a");
    tracker.Track("t_File", &objects[1], "");
    std::istringstream lines(tracker.Dump());
    std::string line;
    int listed = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("0x", 0) != 0)
            continue;
        ++listed;
        // The address as the whole first column, then the description after blanks only.
        const std::size_t end = line.find(' ');
        ASSERT_NE(end, std::string::npos) << line;
        EXPECT_EQ(end, 2 + 2 * sizeof(void*)) << line;
        EXPECT_EQ(line.find_first_not_of("0123456789ABCDEF", 2), end) << line;
        const std::size_t description = line.find_first_not_of(' ', end);
        EXPECT_EQ(description, std::max<std::size_t>(12, end + 1)) << line;
        EXPECT_EQ(line.compare(description, 2, "t_"), 0) << line;
    }
    EXPECT_EQ(listed, 2);
}

TEST(AllocTracker, ObjectsWithoutTypeCountsStillListed)
{
    AllocTracker tracker;
    int object = 0;
    tracker.Track("", &object, "place");
    EXPECT_EQ(tracker.Dump(), AddressColumn(&object) + Padded(": place", 68) + "\n");
    tracker.Untrack("", &object);
    EXPECT_EQ(tracker.Dump(), "");
}

TEST(AllocTracker, ReportTellsWhetherEverythingWasReleasedInTheGeneralLogOnly)
{
    TempDir dir;
    Allocations.Build();
    GeneralLog.Build(dir / "general.log");
    CaptureStderr();
    ReportAllocations("L");
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(ReadFile(dir / "general.log"), "L:\n\nMemory completely deallocated.\n");

    int object = 0;
    TrackAlloc("t_LogFile", &object, "server log");
    CaptureStderr();
    ReportAllocations("L");
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(ReadFile(dir / "general.log"),
              "L:\n\nMemory completely deallocated.\nL:\n\nMemory allocated:\n" + Allocations->Dump());
    UntrackAlloc("t_LogFile", &object);
    GeneralLog.Destroy();
    Allocations.Destroy();

    // Without the register nothing is tracked or reported.
    TrackAlloc("t_File", &object);
    CaptureStderr();
    ReportAllocations("L");
    EXPECT_EQ(GetCapturedStderr(), "");
}

} // namespace
