// Opens arbitrary bytes as an exchange container through the import side of the bridge and
// walks all of it: every element, every reader, every attribute call, and the stored host
// document. Damage must be reported as the container library's error, never crash, hang or
// allocate without bound.
#include "Container/Storage/Errors.h"
#include "Plugin/Exchange/DWX_Import.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace KS_DWX::Import;

namespace {

constexpr int32_t kMaxElements = 64;
// The stored document is inflated this far; a bomb of 2 GiB would only make the run slow.
constexpr uint64_t kMaxInflated = 8u << 20;

// A folder of this process for the container file, removed at exit.
struct Scratch {
    Scratch() : folder("/tmp/exchange-book-fuzzer-" + std::to_string(::getpid()))
    {
        made = ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
        path = folder + "/input.dwq";
    }
    ~Scratch()
    {
        ::unlink(path.c_str());
        ::rmdir(folder.c_str());
    }
    std::string folder;
    std::string path;
    bool made = false;
};

bool WriteFile(const std::string& path, const uint8_t* data, size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = true;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) {
            ok = false;
            break;
        }
        data += n;
        size -= size_t(n);
    }
    ::close(fd);
    return ok;
}

class CountingSink final : public KS_DWX::KSOutStream {
public:
    void write(const void* data, uint32_t count) override
    {
        if (!data && count)
            __builtin_trap();
        m_total += count;
        if (m_total > kMaxInflated)
            Error(FE_StorageMediumFull);
    }

private:
    uint64_t m_total = 0;
};

void Attributes(ICommon& object)
{
    static const char16_t* const kNames[] = {u"source_data_type", u"source_platform", u"story_type",
                                             u"uniqID", u"private", u"typeface", u"codepage",
                                             u"maxuniqID", u"bold", u"sectional_pos"};
    for (const char16_t* name : kNames) {
        object.GetText(name);
        int32_t value = 0;
        object.GetNumber(name, value);
    }
    object.GetTable(u"point", 1);
    object.GetTable(u"start", 2);
    object.GetTable(u"end", 3);
    object.Reserved();
}

void Content(IRun& run)
{
    run.Kind();
    uint8_t buffer[16];
    for (uint32_t i = 0; i < 1u << 20; ++i) {
        const uint32_t n = run.Read(buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n > sizeof buffer)
            __builtin_trap();
    }
}

void Walk(const std::string& path)
{
    RefPtr<IBook> book = OpenImportBook(path);
    if (!book)
        return;
    Attributes(*book);
    for (int32_t d = 0; d < kMaxElements; ++d) {
        RefPtr<IDoc> doc = book->Document(d);
        if (!doc)
            break;
        Attributes(*doc);
        for (int32_t s = 0; s < kMaxElements; ++s) {
            RefPtr<IStory> story = doc->Story(s);
            if (!story)
                break;
            Attributes(*story);
            story->StoredChildren();
            story->UnknownRecords();
            for (int32_t p = 0; p < kMaxElements; ++p) {
                RefPtr<IPara> para = story->Paragraph(p);
                if (!para)
                    break;
                Attributes(*para);
                para->StoredChildren();
                para->UnknownRecords();
                for (int32_t r = 0; r < kMaxElements; ++r) {
                    RefPtr<IRun> run = para->Run(r);
                    if (!run)
                        break;
                    Attributes(*run);
                    Content(*run);
                }
            }
        }
    }
    for (int32_t id : {0, 7}) {
        CountingSink sink;
        try {
            book->LoadQXP(id, &sink);
        } catch (const FilterException&) {
            // a missing or damaged document
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Scratch scratch;
    if (!scratch.made || !WriteFile(scratch.path, data, size))
        return 0;
    try {
        Walk(scratch.path);
    } catch (const FilterException&) {
        // damage reported: the expected outcome for most inputs
    }
    return 0;
}
