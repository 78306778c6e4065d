#include "Foundation/AllocTracker.h"

#include <gtest/gtest.h>

#include "Foundation/Log.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

std::string Padded(const std::string& text, std::size_t width)
{
    return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

std::string Hex(const void* address)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*jX", static_cast<int>(2 * sizeof(void*)),
                  static_cast<uintmax_t>(reinterpret_cast<uintptr_t>(address)));
    return buffer;
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
        "0x" + Padded(Hex(&objects[1]), 10) + Padded("t_File", 68) + "\n" +
        "0x" + Padded(Hex(&objects[2]), 10) + Padded("t_File", 68) + "\n" +
        "0x" + Padded(Hex(&objects[0]), 10) + Padded("t_Folder: job", 68) + "\n";
    EXPECT_EQ(tracker.Dump(), expected);
}

TEST(AllocTracker, ObjectsWithoutTypeCountsStillListed)
{
    AllocTracker tracker;
    int object = 0;
    tracker.Track("", &object, "place");
    EXPECT_EQ(tracker.Dump(), "0x" + Padded(Hex(&object), 10) + Padded(": place", 68) + "\n");
    tracker.Untrack("", &object);
    EXPECT_EQ(tracker.Dump(), "");
}

TEST(AllocTracker, ReportTellsWhetherEverythingWasReleased)
{
    Allocations.Build();
    CaptureStderr();
    ReportAllocations("L");
    EXPECT_EQ(GetCapturedStderr(), "L:\n\nMemory completely deallocated.\n");

    int object = 0;
    TrackAlloc("t_LogFile", &object, "server log");
    CaptureStderr();
    ReportAllocations("L");
    EXPECT_EQ(GetCapturedStderr(), "L:\n\nMemory allocated:\n" + Allocations->Dump());
    UntrackAlloc("t_LogFile", &object);
    Allocations.Destroy();

    // Without the register nothing is tracked or reported.
    TrackAlloc("t_File", &object);
    CaptureStderr();
    ReportAllocations("L");
    EXPECT_EQ(GetCapturedStderr(), "");
}

} // namespace
