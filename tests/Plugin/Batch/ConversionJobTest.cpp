#include "Plugin/Batch/ConversionJob.h"

#include <gtest/gtest.h>

#include <cstring>

#include "Plugin/Batch/HostFiles.h"
#include "SHARED/Server/CnvTools/PathUtils.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr FileKind kAllKinds[] = {FileKind::Qxp, FileKind::Qxd, FileKind::Dwq, FileKind::Pdf,
                                  FileKind::Log, FileKind::Coo, FileKind::Tgx, FileKind::None};

// The four bytes of a code in memory order.
std::string Bytes(uint32_t code)
{
    char bytes[4];
    std::memcpy(bytes, &code, 4);
    return std::string(bytes, 4);
}

// The conversions that exist, as (source, target, second target or any) -> kind.
ConversionKind Expected(FileKind source, FileKind target, FileKind second)
{
    if (source == FileKind::Qxp && target == FileKind::Dwq)
        return second == FileKind::Pdf ? ConversionKind::ToExchangeAndPdf : ConversionKind::ToExchange;
    if (source == FileKind::Qxp && target == FileKind::Pdf)
        return ConversionKind::ToPdf;
    if (source == FileKind::Qxp && target == FileKind::Coo)
        return ConversionKind::ToCoordinates;
    if (source == FileKind::Qxp && target == FileKind::Tgx)
        return ConversionKind::ToXTags;
    if (source == FileKind::Dwq && target == FileKind::Qxp)
        return ConversionKind::ToDocument;
    return ConversionKind::Invalid;
}

TEST(ConversionKind, EveryTripleOfFileKinds)
{
    int valid = 0;
    for (FileKind source : kAllKinds)
        for (FileKind target : kAllKinds)
            for (FileKind second : kAllKinds) {
                const ConversionKind kind = ConversionKindOf(source, target, second);
                EXPECT_EQ(kind, Expected(source, target, second))
                    << int(source) << " " << int(target) << " " << int(second);
                valid += kind != ConversionKind::Invalid;
            }
    EXPECT_EQ(valid, 5 * 8);
    // The older document form is no source of any conversion.
    EXPECT_EQ(ConversionKindOf(FileKind::Qxd, FileKind::Dwq, FileKind::None), ConversionKind::Invalid);
    EXPECT_EQ(ConversionKindOf(FileKind::Qxp, FileKind::Dwq, FileKind::Pdf), ConversionKind::ToExchangeAndPdf);
    EXPECT_EQ(ConversionKindOf(FileKind::Qxp, FileKind::Dwq, FileKind::None), ConversionKind::ToExchange);
}

TEST(ConversionKind, DefaultFileKindsFillOnlyWhatTheKindHas)
{
    FileKind source = FileKind::Log, target = FileKind::Log, second = FileKind::Log;
    DefaultFileKinds(ConversionKind::ToDocument, &source, &target, &second);
    EXPECT_EQ(source, FileKind::Dwq);
    EXPECT_EQ(target, FileKind::Qxp);
    EXPECT_EQ(second, FileKind::Log);
    DefaultFileKinds(ConversionKind::ToExchangeAndPdf, &source, &target, &second);
    EXPECT_EQ(source, FileKind::Qxp);
    EXPECT_EQ(target, FileKind::Dwq);
    EXPECT_EQ(second, FileKind::Pdf);
    DefaultFileKinds(ConversionKind::Invalid, &source, &target, &second);
    DefaultFileKinds(static_cast<ConversionKind>(42), &source, nullptr, nullptr);
    EXPECT_EQ(source, FileKind::Qxp);
    DefaultFileKinds(ConversionKind::ToCoordinates, nullptr, &target, nullptr);
    EXPECT_EQ(target, FileKind::Coo);
}

TEST(ConversionKind, TypesAndCreatorsAreFourBytesInMemoryOrder)
{
    struct Row {
        ConversionKind kind;
        const char* sourceType;
        const char* targetType;
        const char* targetCreator;
    };
    const Row rows[] = {
        {ConversionKind::ToExchange, "QXP\0", "DWQX", "XPR3"},
        {ConversionKind::ToPdf, "QXP\0", "PDF\0", "CARO"},
        {ConversionKind::ToCoordinates, "QXP\0", "COOT", "XPR3"},
        {ConversionKind::ToXTags, "QXP\0", "TGXT", "XPR3"},
        {ConversionKind::ToDocument, "DWQT", "XPRT", "XPR3"},
    };
    CaptureStderr();
    for (const Row& row : rows) {
        EXPECT_EQ(Bytes(FileTypeForConversion(row.kind, true)), std::string(row.sourceType, 4));
        EXPECT_EQ(Bytes(FileTypeForConversion(row.kind, false)), std::string(row.targetType, 4));
        EXPECT_EQ(Bytes(CreatorForConversion(row.kind, true)), "XPR3");
        EXPECT_EQ(Bytes(CreatorForConversion(row.kind, false)), std::string(row.targetCreator, 4));
    }
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(Bytes(XT_CREATOR_XPRESS), "XPR3");
}

TEST(ConversionKind, KindsWithoutFilesReportAndAnswerNone)
{
    for (ConversionKind kind : {ConversionKind::ToExchangeAndPdf, ConversionKind::Invalid, static_cast<ConversionKind>(-1)}) {
        CaptureStderr();
        EXPECT_EQ(FileTypeForConversion(kind, false), 0xFFFFFFFFu);
        EXPECT_EQ(Bytes(CreatorForConversion(kind, true)), "XPR3");
        EXPECT_EQ(GetCapturedStderr(), "ERROR: Invalid conversion type!\nERROR: Invalid conversion type!\n");
    }
}

TEST(ConversionJob, NewSpecsAndJobsAndTheirFileTypes)
{
    ConvFileSpec spec;
    EXPECT_EQ(spec.GetKind(), FileKind::None);
    EXPECT_EQ(Bytes(spec.GetCreator()), "XPR3");
    EXPECT_EQ(spec.GetType(), 0xFFFFFFFFu);
    EXPECT_EQ(spec.GetName(), "");
    EXPECT_EQ(spec.GetPath(), "");

    ConversionJob job;
    EXPECT_EQ(job.kind, ConversionKind::Invalid);
    job.kind = ConversionKind::ToPdf;
    job.SetFileTypes();
    EXPECT_EQ(Bytes(job.source.GetType()), std::string("QXP\0", 4));
    EXPECT_EQ(Bytes(job.target.GetType()), std::string("PDF\0", 4));
    EXPECT_EQ(Bytes(job.target.GetCreator()), "CARO");
    job.Reset();
    EXPECT_EQ(job.kind, ConversionKind::Invalid);
    EXPECT_EQ(job.target.GetType(), 0xFFFFFFFFu);
}

ConversionJob Job(ConversionKind kind, FileKind source, FileKind target)
{
    ConversionJob job;
    job.kind = kind;
    job.source.SetKind(source);
    job.target.SetKind(target);
    return job;
}

TEST(ConversionJob, IsValidForEveryKind)
{
    using K = ConversionKind;
    using F = FileKind;
    struct Row {
        K kind;
        F source, target;
        bool checked, unchecked;
    };
    const Row rows[] = {
        {K::ToExchange, F::Qxp, F::Dwq, true, true},
        {K::ToExchange, F::Qxd, F::Dwq, true, true},
        {K::ToExchange, F::Pdf, F::Dwq, false, true},
        {K::ToExchange, F::Qxp, F::Pdf, false, false},
        {K::ToPdf, F::Qxp, F::Pdf, true, true},
        {K::ToPdf, F::Dwq, F::Pdf, false, true},
        {K::ToCoordinates, F::Qxp, F::Coo, true, true},
        {K::ToCoordinates, F::Qxp, F::Tgx, false, false},
        {K::ToXTags, F::Qxp, F::Tgx, true, true},
        {K::ToXTags, F::None, F::Tgx, false, true},
        {K::ToDocument, F::Dwq, F::Qxp, true, true},
        {K::ToDocument, F::Dwq, F::Qxd, true, true},
        {K::ToDocument, F::Dwq, F::Pdf, false, false},
        {K::ToDocument, F::Qxp, F::Qxp, false, false},
        {K::ToExchangeAndPdf, F::Qxp, F::Dwq, false, false},
        {K::Invalid, F::Qxp, F::Dwq, false, false},
        {static_cast<K>(7), F::Qxp, F::Dwq, false, false},
    };
    for (const Row& row : rows) {
        const ConversionJob job = Job(row.kind, row.source, row.target);
        EXPECT_EQ(job.IsValid(true), row.checked) << int(row.kind) << " " << int(row.source) << " " << int(row.target);
        EXPECT_EQ(job.IsValid(false), row.unchecked) << int(row.kind) << " " << int(row.source) << " " << int(row.target);
    }
}

TEST(HostFilePaths, FileKindByExtension)
{
    EXPECT_EQ(FileKindByExtension(".QXP", false), FileKind::Qxp);
    EXPECT_EQ(FileKindByExtension(".QXP", true), FileKind::Qxp);
    EXPECT_EQ(FileKindByExtension(".qxpx", false), FileKind::None);
    EXPECT_EQ(FileKindByExtension(".qxpx", true), FileKind::None);
    EXPECT_EQ(FileKindByExtension(".tgx", true), FileKind::Tgx);
    EXPECT_EQ(FileKindByExtension(".Log", false), FileKind::Log);
    EXPECT_EQ(FileKindByExtension("qxp", false), FileKind::None);   // the dot belongs to it
    EXPECT_EQ(FileKindByExtension(".", false), FileKind::None);     // the empty entry never matches
    EXPECT_EQ(FileKindByExtension("", false), FileKind::None);
    EXPECT_EQ(FileKindOfPath("C:\\work\\Report.DWQ", true), FileKind::Dwq);
    EXPECT_EQ(FileKindOfPath("/work/a.b/report", false), FileKind::None);
    EXPECT_EQ(FileKindOfPath("/work/report.coo", false), FileKind::Coo);
}

TEST(HostFilePaths, SplitPathWithEitherSeparator)
{
    for (const char separator : {'\\', '/'}) {
        SCOPED_TRACE(std::string(1, separator));
        const auto path = [separator](std::string text) {
            for (char& c : text)
                if (c == '\\')
                    c = separator;
            return text;
        };
        std::string folder = "x", name = "y", extension;
        EXPECT_FALSE(SplitPathAtBackslash(std::string("C:"), folder, name, &extension, false));
        EXPECT_TRUE(SplitPathAtBackslash(path("C:\\a\\b.qxp"), folder, name, &extension, false));
        EXPECT_EQ(folder, path("C:\\a"));
        EXPECT_EQ(name, "b");
        EXPECT_EQ(extension, "qxp");
        EXPECT_TRUE(SplitPathAtBackslash(path("C:\\a\\b.qxp"), folder, name, nullptr, true));
        EXPECT_EQ(name, "b.qxp");
        EXPECT_FALSE(SplitPathAtBackslash(path("C:\\"), folder, name, nullptr, false));
    }
}

TEST(HostFilePaths, HiddenNamesAndTheTemporaryFolder)
{
    EXPECT_TRUE(IsHiddenOrSystem(".cache"));
    EXPECT_FALSE(IsHiddenOrSystem("a.qxp"));
    EXPECT_FALSE(IsHiddenOrSystem(""));
    EXPECT_STREQ(PathSeparator, "/");

    const char* saved = std::getenv("TMPDIR");
    const std::string keep = saved ? saved : "";
    ::setenv("TMPDIR", "/nonexistent-kesto-folder/", 1);
    std::string out = "unchanged";
    EXPECT_FALSE(GetSystemTempPathU(out));
    EXPECT_EQ(SystemTempPathU(), "");
    ::setenv("TMPDIR", "/tmp///", 1);
    EXPECT_TRUE(GetSystemTempPathU(out));
    EXPECT_EQ(out, "/tmp");
    if (saved)
        ::setenv("TMPDIR", keep.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

} // namespace
