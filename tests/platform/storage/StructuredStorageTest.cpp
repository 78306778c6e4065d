// The storage interface: results the container library branches on, and the semantics of
// streams, enumeration, subtree transfer, sharing and safe replacement.
#include "tests/platform/storage/StorageTestSupport.h"

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

class StorageTest : public testing::Test {
protected:
    // A new file with root, opened for writing.
    void createRoot(Ref<IStorage>& root, const std::string& name = "t.dwq") {
        ASSERT_EQ(StgCreateDocfile(folder.file(name).c_str(), kCreate, 0, root.out()), S_OK);
    }
    void openRoot(Ref<IStorage>& root, const std::string& name = "t.dwq") {
        ASSERT_EQ(StgOpenStorage(folder.file(name).c_str(), nullptr, kReadRoot, nullptr, 0, root.out()), S_OK);
    }
    // Finishes the file written through `root` and opens it again for reading.
    void flushAndReopen(Ref<IStorage>& root) {
        ASSERT_EQ(root->Flush(), S_OK);
        root.reset();
        openRoot(root);
    }
    TempFolder folder;
};

TEST_F(StorageTest, FileLevelResults) {
    const std::string text = folder.file("text.txt");
    putFileBytes(text, std::vector<uint8_t>(2000, 'x'));
    putFileBytes(folder.file("empty"), {});
    std::vector<uint8_t> shortFile = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    shortFile.resize(300);
    putFileBytes(folder.file("short"), shortFile);
    Ref<IStorage> root;
    // Not a compound file: the platform's own answer.
    for (const char* name : {"text.txt", "empty", "short"})
        EXPECT_EQ(StgOpenStorage(folder.file(name).c_str(), nullptr, kReadRoot, nullptr, 0, root.out()),
                  STG_E_FILEALREADYEXISTS) << name;
    EXPECT_EQ(StgOpenStorage(folder.file("absent").c_str(), nullptr, kReadRoot, nullptr, 0, root.out()), STG_E_FILENOTFOUND);
    EXPECT_EQ(StgOpenStorage(folder.file("no/absent").c_str(), nullptr, kReadRoot, nullptr, 0, root.out()), STG_E_PATHNOTFOUND);
    EXPECT_EQ(StgCreateDocfile(folder.file("no/new").c_str(), kCreate, 0, root.out()), STG_E_PATHNOTFOUND);
    EXPECT_EQ(StgOpenStorage(folder.path().c_str(), nullptr, kReadRoot, nullptr, 0, root.out()), STG_E_ACCESSDENIED);
    // Create without write access, transacted mode, both access bits, failing when there.
    EXPECT_EQ(StgCreateDocfile(folder.file("n").c_str(), STGM_CREATE | STGM_SHARE_EXCLUSIVE, 0, root.out()), STG_E_INVALIDFLAG);
    EXPECT_EQ(StgCreateDocfile(folder.file("n").c_str(), kCreate | STGM_TRANSACTED, 0, root.out()), STG_E_INVALIDFLAG);
    EXPECT_EQ(StgOpenStorage(folder.file("n").c_str(), nullptr, 3 | STGM_SHARE_EXCLUSIVE, nullptr, 0, root.out()), STG_E_INVALIDFLAG);
    EXPECT_EQ(StgCreateDocfile(text.c_str(), STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, root.out()), STG_E_FILEALREADYEXISTS);
    EXPECT_FALSE(root);
    EXPECT_EQ(folder.entries(), 3u);   // nothing left behind
}

TEST_F(StorageTest, ElementResults) {
    Ref<IStorage> root, storage, other;
    Ref<IStream> stream, second;
    createRoot(root);
    ASSERT_EQ(root->CreateStorage(u"S", kCreate, 0, 0, storage.out()), S_OK);
    ASSERT_EQ(root->CreateStream(u"x", kCreate, 0, 0, stream.out()), S_OK);

    // Absent, or of the other type: not found.
    EXPECT_EQ(root->OpenStream(u"absent", nullptr, STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, second.out()), STG_E_FILENOTFOUND);
    EXPECT_EQ(root->OpenStream(u"S", nullptr, STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, second.out()), STG_E_FILENOTFOUND);
    EXPECT_EQ(root->OpenStorage(u"x", nullptr, STGM_WRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, other.out()), STG_E_FILENOTFOUND);
    // Names: 1 to 31 units, no separators; a leading control unit is fine.
    for (const char16_t* bad : {u"", u"a/b", u"a\\b", u"a:b", u"a!b", u"12345678901234567890123456789012"})
        EXPECT_EQ(root->CreateStream(bad, kCreate, 0, 0, second.out()), STG_E_INVALIDNAME) << utf8(bad);
    EXPECT_EQ(root->CreateStream(u"1234567890123456789012345678901", kCreate, 0, 0, second.out()), S_OK);
    EXPECT_EQ(root->CreateStream(u"\u0005VerbantSummaryInformation", kCreate, 0, 0, second.out()), S_OK);
    EXPECT_EQ(root->CreateStream(nullptr, kCreate, 0, 0, second.out()), STG_E_INVALIDNAME);
    // An open element cannot be opened again or replaced; without STGM_CREATE a name is taken.
    EXPECT_EQ(root->OpenStream(u"X", nullptr, STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, second.out()), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->CreateStream(u"x", kCreate, 0, 0, second.out()), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->CreateStorage(u"s", kCreate, 0, 0, other.out()), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->CreateStream(u"x", STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, second.out()), STG_E_FILEALREADYEXISTS);
    // Flags: create without write access (0x1010), children must be share-exclusive.
    EXPECT_EQ(root->CreateStream(u"y", STGM_CREATE | STGM_SHARE_EXCLUSIVE, 0, 0, second.out()), STG_E_INVALIDFLAG);
    EXPECT_EQ(root->CreateStream(u"y", STGM_CREATE | STGM_WRITE | STGM_SHARE_DENY_WRITE, 0, 0, second.out()), STG_E_INVALIDFLAG);
    // The root was created write-only: no read access below it.
    EXPECT_EQ(storage->CreateStream(u"y", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, second.out()), STG_E_ACCESSDENIED);
    uint8_t byte = 0;
    uint32_t count = 7;
    EXPECT_EQ(stream->Read(&byte, 1, &count), STG_E_ACCESSDENIED);
    EXPECT_EQ(count, 0u);
    // Directory look-up works on an open element and opens nothing.
    uint32_t type = 0;
    EXPECT_EQ(root->LookupElement(u"s", &type), S_OK);
    EXPECT_EQ(type, STGTY_STORAGE);
    EXPECT_EQ(root->LookupElement(u"X", &type), S_OK);
    EXPECT_EQ(type, STGTY_STREAM);
    EXPECT_EQ(root->LookupElement(u"absent", &type), STG_E_FILENOTFOUND);
    EXPECT_EQ(root->LookupElement(u"a/b", &type), STG_E_INVALIDNAME);
    stream.reset();
    storage.reset();
    ASSERT_EQ(root->Flush(), S_OK);
    root.reset();

    // Read-only file: no writing anywhere.
    openRoot(root);
    EXPECT_EQ(root->CreateStream(u"z", kCreate, 0, 0, second.out()), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->OpenStream(u"x", nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, second.out()), STG_E_ACCESSDENIED);
    ASSERT_EQ(root->OpenStream(u"x", nullptr, kRead, 0, second.out()), S_OK);
    EXPECT_EQ(second->Write("a", 1, &count), STG_E_ACCESSDENIED);
    EXPECT_EQ(second->SetSize(3), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->DestroyElement(u"S"), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->SetClass(CLSID_NULL), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->Flush(), S_OK);
}

TEST_F(StorageTest, CreateReplacesEitherType) {
    Ref<IStorage> root, storage;
    createRoot(root);
    ASSERT_EQ(root->CreateStorage(u"A", kCreate, 0, 0, storage.out()), S_OK);
    writeStream(storage.get(), u"inner", pattern(100, 1));
    storage.reset();
    writeStream(root.get(), u"a", pattern(5000, 2));   // the storage and its subtree go
    writeStream(root.get(), u"b", pattern(9000, 3));
    ASSERT_EQ(root->CreateStorage(u"B", kCreate, 0, 0, storage.out()), S_OK);
    storage.reset();
    Ref<IStream> replaced;
    ASSERT_EQ(root->CreateStream(u"A", kCreate, 0, 0, replaced.out()), S_OK);
    replaced.reset();
    ASSERT_EQ(root->Flush(), S_OK);
    root.reset();

    openRoot(root);
    const auto children = listChildren(root.get());
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0].name, u"A");   // the new spelling, a stream, empty
    EXPECT_EQ(children[0].type, STGTY_STREAM);
    EXPECT_EQ(children[0].size, 0u);
    EXPECT_EQ(children[1].name, u"B");
    EXPECT_EQ(children[1].type, STGTY_STORAGE);
    ASSERT_EQ(root->OpenStorage(u"b", nullptr, kRead, nullptr, 0, storage.out()), S_OK);
    EXPECT_TRUE(childNames(storage.get()).empty());
}

TEST_F(StorageTest, StreamPositionsSizesAndClones) {
    Ref<IStorage> root;
    Ref<IStream> stream, clone;
    ASSERT_EQ(StgCreateDocfile(folder.file("t.dwq").c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, root.out()), S_OK);
    ASSERT_EQ(root->CreateStream(u"s", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.out()), S_OK);
    uint64_t position = 0;
    uint32_t count = 0;
    // The code file's first move: seek to 8 in an empty stream, then write; the gap is zeros.
    ASSERT_EQ(stream->Seek(8, STREAM_SEEK_SET, &position), S_OK);
    EXPECT_EQ(position, 8u);
    ASSERT_EQ(stream->Write("abcd", 4, &count), S_OK);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(stream->Seek(-13, STREAM_SEEK_END, &position), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->Seek(0, 7, &position), STG_E_INVALIDFUNCTION);
    ASSERT_EQ(stream->Seek(-12, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position, 0u);
    std::vector<uint8_t> expected = {0, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c', 'd'};
    EXPECT_EQ(streamBytes(stream.get()), expected);
    // At and past the end a read succeeds with 0 bytes.
    uint8_t buffer[16];
    ASSERT_EQ(stream->Seek(100, STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(stream->Read(buffer, sizeof buffer, &count), S_OK);
    EXPECT_EQ(count, 0u);

    // A clone starts at the original's position, moves on its own and shares the data.
    ASSERT_EQ(stream->Seek(2, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Clone(clone.out()), S_OK);
    ASSERT_EQ(clone->Seek(0, STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(position, 2u);
    ASSERT_EQ(clone->Seek(0, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position, 12u);
    ASSERT_EQ(clone->Write("XY", 2, &count), S_OK);
    ASSERT_EQ(stream->Seek(0, STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(position, 2u);
    ASSERT_EQ(stream->Seek(12, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Read(buffer, 4, &count), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "XY");

    // Sizes across the mini-stream cutoff: grow with zeros, shrink, position untouched.
    const std::vector<uint8_t> data = pattern(10000, 5);
    ASSERT_EQ(stream->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Write(data.data(), 4095, &count), S_OK);
    ASSERT_EQ(stream->Write(data.data() + 4095, 2, &count), S_OK);   // 4097: moves to sectors
    for (const uint64_t size : {uint64_t(4096), uint64_t(4095), uint64_t(10), uint64_t(20000), uint64_t(4096)}) {
        ASSERT_EQ(stream->SetSize(size), S_OK);
        ASSERT_EQ(stream->Seek(0, STREAM_SEEK_CUR, &position), S_OK);
        EXPECT_EQ(position, 4097u);
        STATSTG stat;
        ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
        EXPECT_EQ(stat.cbSize, size);
    }
    std::vector<uint8_t> want(data.begin(), data.begin() + 10);
    want.resize(4096);
    ASSERT_EQ(stream->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(streamBytes(clone.get()).size(), 4096u - 14);   // the clone stands at 14
    EXPECT_EQ(streamBytes(stream.get()), want);

    // CopyTo: min(count, rest) from the position to the target's position, both advance.
    Ref<IStream> target;
    ASSERT_EQ(root->CreateStream(u"t", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, target.out()), S_OK);
    ASSERT_EQ(stream->Seek(4000, STREAM_SEEK_SET, nullptr), S_OK);
    uint64_t read = 0, written = 0;
    ASSERT_EQ(stream->CopyTo(target.get(), 1000, &read, &written), S_OK);
    EXPECT_EQ(read, 96u);
    EXPECT_EQ(written, 96u);
    ASSERT_EQ(target->Seek(0, STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(position, 96u);
    ASSERT_EQ(stream->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->CopyTo(target.get(), 5000, &read, &written), S_OK);
    EXPECT_EQ(read, 4096u);
    ASSERT_EQ(target->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
    std::vector<uint8_t> copied(want.begin() + 4000, want.end());
    copied.insert(copied.end(), want.begin(), want.end());
    EXPECT_EQ(streamBytes(target.get()), copied);
    clone.reset();
    stream.reset();
    target.reset();
    flushAndReopen(root);
    EXPECT_EQ(readStream(root.get(), u"S"), want);
    EXPECT_EQ(readStream(root.get(), u"t"), copied);
}

// Writes that continue one another reach the disk later, gathered; every read, copy and shrink
// before that sees them all the same, and a write elsewhere does not overtake them.
TEST_F(StorageTest, GatheredWritesAreSeenBeforeTheyReachTheDisk) {
    constexpr uint32_t kBoth = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    Ref<IStorage> root;
    ASSERT_EQ(StgCreateDocfile(folder.file("t.dwq").c_str(), kBoth, 0, root.out()), S_OK);
    Ref<IStream> a, b, clone;
    ASSERT_EQ(root->CreateStream(u"a", kBoth, 0, 0, a.out()), S_OK);
    ASSERT_EQ(root->CreateStream(u"b", kBoth, 0, 0, b.out()), S_OK);
    std::vector<uint8_t> expectedA = pattern(200000, 5), expectedB = pattern(9000, 6);
    uint32_t count = 0;
    for (size_t at = 0; at < expectedA.size(); at += 1000) {
        ASSERT_EQ(a->Write(expectedA.data() + at, 1000, &count), S_OK);
        if (at == 100000) {
            ASSERT_EQ(b->Write(expectedB.data(), uint32_t(expectedB.size()), &count), S_OK);
        }
    }
    // An overwrite inside what is held, then one before it.
    const std::vector<uint8_t> patch = pattern(3000, 7);
    ASSERT_EQ(a->Seek(190000, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(a->Write(patch.data(), uint32_t(patch.size()), &count), S_OK);
    std::copy(patch.begin(), patch.end(), expectedA.begin() + 190000);
    ASSERT_EQ(a->Seek(10, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(a->Write(patch.data(), 100, &count), S_OK);
    std::copy(patch.begin(), patch.begin() + 100, expectedA.begin() + 10);

    ASSERT_EQ(a->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(a->Clone(clone.out()), S_OK);
    EXPECT_EQ(streamBytes(clone.get()), expectedA);
    ASSERT_EQ(b->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(streamBytes(b.get()), expectedB);
    // A copy inside the same file reads the source's sectors.
    a.reset();
    clone.reset();
    ASSERT_EQ(root->MoveElementTo(u"a", root.get(), u"c", STGMOVE_COPY), S_OK);
    EXPECT_EQ(readStream(root.get(), u"c"), expectedA);
    // Back below the small-stream size: the bytes kept are the ones written last.
    ASSERT_EQ(b->SetSize(3000), S_OK);
    expectedB.resize(3000);
    ASSERT_EQ(b->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(streamBytes(b.get()), expectedB);
    b.reset();
    flushAndReopen(root);
    EXPECT_EQ(readStream(root.get(), u"a"), expectedA);
    EXPECT_EQ(readStream(root.get(), u"b"), expectedB);
    EXPECT_EQ(readStream(root.get(), u"c"), expectedA);
}

// Writes in pieces leave the file byte for byte as the same pieces written one by one: a stream
// that starts small and moves to sectors within the call, a gap after a seek past the end, an
// overwrite, and another stream taking sectors between two calls.
TEST_F(StorageTest, WritesInPiecesLeaveTheFileAsSingleWrites) {
    const std::vector<uint8_t> data = pattern(60000, 9);
    for (bool pieces : {true, false}) {
        Ref<IStorage> root;
        createRoot(root, pieces ? "pieces.dwq" : "single.dwq");
        Ref<IStream> a, b;
        ASSERT_EQ(root->CreateStream(u"a", kCreate, 0, 0, a.out()), S_OK);
        ASSERT_EQ(root->CreateStream(u"b", kCreate, 0, 0, b.out()), S_OK);
        const auto write = [&](IStream* stream, const uint8_t* at, uint32_t count, uint32_t piece) {
            uint32_t written = 0;
            if (pieces) {
                ASSERT_EQ(stream->WritePieces(at, count, piece, &written), S_OK);
                ASSERT_EQ(written, count);
                return;
            }
            for (uint32_t done = 0; done < count; done += piece) {
                const uint32_t n = std::min(piece, count - done);
                ASSERT_EQ(stream->Write(at + done, n, &written), S_OK);
                ASSERT_EQ(written, n);
            }
        };
        write(a.get(), data.data(), 10000, 1000);   // small at first
        write(b.get(), data.data(), 5000, 5000);
        {
            // Its first write chooses where the stream starts: a small piece, not the whole.
            Ref<IStream> c;
            ASSERT_EQ(root->CreateStream(u"c", kCreate, 0, 0, c.out()), S_OK);
            write(c.get(), data.data(), 60000, 4096);
        }
        ASSERT_EQ(a->Seek(12345, STREAM_SEEK_SET, nullptr), S_OK);
        write(a.get(), data.data() + 7, 40000, 4096);
        write(b.get(), data.data() + 3, 9000, 4096);
        ASSERT_EQ(a->Seek(100, STREAM_SEEK_SET, nullptr), S_OK);
        write(a.get(), data.data() + 11, 20000, 512);
        uint64_t position = 0;
        ASSERT_EQ(a->Seek(0, STREAM_SEEK_CUR, &position), S_OK);
        EXPECT_EQ(position, 20100u);
        uint32_t written = 7;
        EXPECT_EQ(a->WritePieces(data.data(), 0, 4096, &written), S_OK);
        EXPECT_EQ(written, 0u);
        a.reset();
        b.reset();
        ASSERT_EQ(root->Flush(), S_OK);
        root.reset();
        openRoot(root, pieces ? "pieces.dwq" : "single.dwq");
        std::vector<uint8_t> expected(data.begin(), data.begin() + 10000);
        expected.resize(12345);
        expected.insert(expected.end(), data.begin() + 7, data.begin() + 7 + 40000);
        std::copy(data.begin() + 11, data.begin() + 11 + 20000, expected.begin() + 100);
        EXPECT_EQ(readStream(root.get(), u"a"), expected);
        EXPECT_EQ(readStream(root.get(), u"c"), data);
    }
    EXPECT_EQ(fileBytes(folder.file("pieces.dwq")), fileBytes(folder.file("single.dwq")));
}

TEST_F(StorageTest, StatNamesAndClassIds) {
    const CLSID id = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    Ref<IStorage> root, storage;
    createRoot(root);
    ASSERT_EQ(root->CreateStorage(u"MixedCase", kCreate, 0, 0, storage.out()), S_OK);
    ASSERT_EQ(storage->SetClass(id), S_OK);
    STATSTG stat;
    ASSERT_EQ(storage->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(std::u16string(stat.pwcsName), u"MixedCase");
    EXPECT_EQ(stat.type, STGTY_STORAGE);
    EXPECT_EQ(stat.grfMode, kCreate);
    EXPECT_EQ(stat.clsid.Data1, id.Data1);
    freeName(stat.pwcsName);
    storage.reset();
    ASSERT_EQ(root->Flush(), S_OK);
    root.reset();

    openRoot(root);
    ASSERT_EQ(root->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(utf8(stat.pwcsName), folder.file("t.dwq"));   // a root's name is its path
    EXPECT_EQ(stat.grfMode, kReadRoot);
    EXPECT_EQ(std::memcmp(&stat.clsid, &CLSID_NULL, sizeof(CLSID)), 0);
    freeName(stat.pwcsName);
    ASSERT_EQ(root->OpenStorage(u"MIXEDCASE", nullptr, kRead, nullptr, 0, storage.out()), S_OK);
    ASSERT_EQ(storage->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_EQ(stat.grfMode, kRead);
    EXPECT_EQ(std::memcmp(&stat.clsid, &id, sizeof(CLSID)), 0);
}

TEST_F(StorageTest, EnumerationOrderAndCursor) {
    Ref<IStorage> root, storage;
    createRoot(root);
    for (const char16_t* name : {u"b", u"aa", u"AB", u"c", u"A", u"\u00e9t\u00e9", u"Zz", u"\u0005Summary"})
        writeStream(root.get(), name, pattern(10, 1));
    ASSERT_EQ(root->CreateStorage(u"St", kCreate, 0, 0, storage.out()), S_OK);
    storage.reset();
    // A storage opened for writing still enumerates (the wrappers choose not to).
    EXPECT_EQ(childNames(root.get()).size(), 9u);
    ASSERT_EQ(root->Flush(), S_OK);
    root.reset();

    openRoot(root);
    const std::vector<std::u16string> order = {u"A", u"b", u"c", u"aa", u"AB", u"St", u"Zz", u"\u00e9t\u00e9",
                                               u"\u0005Summary"};
    EXPECT_EQ(childNames(root.get()), order);

    Ref<IEnumSTATSTG> elements, copy;
    ASSERT_EQ(root->EnumElements(0, nullptr, 0, elements.out()), S_OK);
    STATSTG stats[3];
    uint32_t fetched = 0;
    ASSERT_EQ(elements->Skip(2), S_OK);
    ASSERT_EQ(elements->Clone(copy.out()), S_OK);
    ASSERT_EQ(elements->Next(3, stats, &fetched), S_OK);
    ASSERT_EQ(fetched, 3u);
    EXPECT_EQ(std::u16string(stats[0].pwcsName), u"c");
    EXPECT_EQ(std::u16string(stats[2].pwcsName), u"AB");
    for (auto& s : stats) freeName(s.pwcsName);
    ASSERT_EQ(copy->Next(1, stats, nullptr), S_OK);   // the clone kept the position
    EXPECT_EQ(std::u16string(stats[0].pwcsName), u"c");
    freeName(stats[0].pwcsName);
    EXPECT_EQ(elements->Skip(3), S_OK);
    EXPECT_EQ(elements->Skip(2), S_FALSE);
    EXPECT_EQ(elements->Next(1, stats, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    ASSERT_EQ(elements->Reset(), S_OK);
    ASSERT_EQ(elements->Next(1, stats, &fetched), S_OK);
    EXPECT_EQ(std::u16string(stats[0].pwcsName), u"A");
    freeName(stats[0].pwcsName);
    EXPECT_EQ(elements->Next(2, stats, nullptr), STG_E_INVALIDPOINTER);
}

// Builds S (class id) { x: 6000 bytes, T { y: 30 bytes } } in `storage`.
void buildSubtree(IStorage* storage, const CLSID& id) {
    Ref<IStorage> s, t;
    ASSERT_EQ(storage->CreateStorage(u"S", kCreate, 0, 0, s.out()), S_OK);
    ASSERT_EQ(s->SetClass(id), S_OK);
    writeStream(s.get(), u"x", pattern(6000, 7));
    ASSERT_EQ(s->CreateStorage(u"T", kCreate, 0, 0, t.out()), S_OK);
    writeStream(t.get(), u"y", pattern(30, 8));
}

void expectSubtree(IStorage* storage, const std::u16string& name, const CLSID& id) {
    Ref<IStorage> s, t;
    ASSERT_EQ(storage->OpenStorage(name.c_str(), nullptr, kRead, nullptr, 0, s.out()), S_OK) << utf8(name);
    STATSTG stat;
    ASSERT_EQ(s->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(std::memcmp(&stat.clsid, &id, sizeof id), 0);
    EXPECT_EQ(childNames(s.get()), (std::vector<std::u16string>{u"T", u"x"}));
    EXPECT_EQ(readStream(s.get(), u"x"), pattern(6000, 7));
    ASSERT_EQ(s->OpenStorage(u"T", nullptr, kRead, nullptr, 0, t.out()), S_OK);
    EXPECT_EQ(readStream(t.get(), u"y"), pattern(30, 8));
}

TEST_F(StorageTest, MoveAndCopySubtrees) {
    const CLSID id = {0xCAFE, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    Ref<IStorage> root, other, dest, s;
    createRoot(root);
    createRoot(other, "other.dwq");
    buildSubtree(root.get(), id);
    ASSERT_EQ(root->CreateStorage(u"D", kCreate, 0, 0, dest.out()), S_OK);

    EXPECT_EQ(root->MoveElementTo(u"absent", dest.get(), u"n", STGMOVE_COPY), STG_E_FILENOTFOUND);
    EXPECT_EQ(root->MoveElementTo(u"S", dest.get(), u"n", 7), STG_E_INVALIDFLAG);
    EXPECT_EQ(root->MoveElementTo(u"S", root.get(), u"s", STGMOVE_MOVE), STG_E_ACCESSDENIED);   // onto itself
    EXPECT_EQ(root->MoveElementTo(u"S", root.get(), u"D", STGMOVE_COPY), STG_E_FILEALREADYEXISTS);
    ASSERT_EQ(root->OpenStorage(u"S", nullptr, STGM_WRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, s.out()), S_OK);
    EXPECT_EQ(root->MoveElementTo(u"S", s.get(), u"in", STGMOVE_COPY), STG_E_ACCESSDENIED);   // into itself
    EXPECT_EQ(root->MoveElementTo(u"S", dest.get(), u"n", STGMOVE_MOVE), STG_E_ACCESSDENIED); // open
    // Copying an open element is fine.
    ASSERT_EQ(root->MoveElementTo(u"S", dest.get(), u"Copy", STGMOVE_COPY), S_OK);
    s.reset();
    ASSERT_EQ(root->MoveElementTo(u"S", other.get(), nullptr, STGMOVE_COPY), S_OK);      // another file
    ASSERT_EQ(root->MoveElementTo(u"S", dest.get(), u"Moved", STGMOVE_MOVE), S_OK);       // same file
    ASSERT_EQ(dest->MoveElementTo(u"Copy", other.get(), u"Moved", STGMOVE_MOVE), S_OK);   // another file
    dest.reset();
    ASSERT_EQ(root->Flush(), S_OK);
    ASSERT_EQ(other->Flush(), S_OK);
    root.reset();
    other.reset();

    openRoot(root);
    EXPECT_EQ(childNames(root.get()), std::vector<std::u16string>{u"D"});
    ASSERT_EQ(root->OpenStorage(u"D", nullptr, kRead, nullptr, 0, dest.out()), S_OK);
    EXPECT_EQ(childNames(dest.get()), std::vector<std::u16string>{u"Moved"});
    expectSubtree(dest.get(), u"Moved", id);
    openRoot(other, "other.dwq");
    EXPECT_EQ(childNames(other.get()), (std::vector<std::u16string>{u"S", u"Moved"}));
    expectSubtree(other.get(), u"S", id);
    expectSubtree(other.get(), u"Moved", id);
}

TEST_F(StorageTest, RenameAndDestroy) {
    Ref<IStorage> root, s;
    Ref<IStream> open;
    createRoot(root);
    buildSubtree(root.get(), CLSID_NULL);
    writeStream(root.get(), u"big", pattern(50000, 9));
    writeStream(root.get(), u"keep", pattern(70000, 10));
    ASSERT_EQ(root->OpenStream(u"keep", nullptr, STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, open.out()), S_OK);
    EXPECT_EQ(root->RenameElement(u"absent", u"n"), STG_E_FILENOTFOUND);
    EXPECT_EQ(root->RenameElement(u"S", u"BIG"), STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(root->RenameElement(u"S", u"a:b"), STG_E_INVALIDNAME);
    EXPECT_EQ(root->RenameElement(u"keep", u"k"), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->DestroyElement(u"keep"), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->DestroyElement(u"absent"), STG_E_FILENOTFOUND);
    ASSERT_EQ(root->RenameElement(u"S", u"Renamed"), S_OK);
    ASSERT_EQ(root->RenameElement(u"big", u"BIG"), S_OK);   // a new spelling of the same name
    ASSERT_EQ(root->DestroyElement(u"renamed"), S_OK);
    open.reset();
    // Space freed by the destroyed subtree is used again.
    writeStream(root.get(), u"again", pattern(6000, 11));
    ASSERT_EQ(root->Flush(), S_OK);
    root.reset();

    openRoot(root);
    EXPECT_EQ(childNames(root.get()), (std::vector<std::u16string>{u"BIG", u"keep", u"again"}));
    EXPECT_EQ(readStream(root.get(), u"big"), pattern(50000, 9));
    EXPECT_EQ(readStream(root.get(), u"keep"), pattern(70000, 10));
    EXPECT_EQ(readStream(root.get(), u"again"), pattern(6000, 11));
}

TEST_F(StorageTest, SharingBetweenOpens) {
    const std::string path = folder.file("t.dwq");
    Ref<IStorage> writer, reader, second;
    createRoot(writer);
    ASSERT_EQ(writer->Flush(), S_OK);   // now the file exists, still held by the writer
    EXPECT_EQ(StgOpenStorage(path.c_str(), nullptr, kReadRoot, nullptr, 0, reader.out()), STG_E_SHAREVIOLATION);
    EXPECT_EQ(StgCreateDocfile(path.c_str(), kCreate, 0, second.out()), STG_E_SHAREVIOLATION);
    writer.reset();

    ASSERT_EQ(StgOpenStorage(path.c_str(), nullptr, kReadRoot, nullptr, 0, reader.out()), S_OK);
    ASSERT_EQ(StgOpenStorage(path.c_str(), nullptr, kReadRoot, nullptr, 0, second.out()), S_OK);
    EXPECT_EQ(StgCreateDocfile(path.c_str(), kCreate, 0, writer.out()), STG_E_SHAREVIOLATION);
    EXPECT_EQ(StgOpenStorage(path.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, writer.out()),
              STG_E_SHAREVIOLATION);
    // The lock holds for another process too.
    const pid_t child = fork();
    if (child == 0) {
        IStorage* root = nullptr;
        _exit(StgCreateDocfile(path.c_str(), kCreate, 0, &root) == STG_E_SHAREVIOLATION ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(StorageTest, ReplacingIsSafe) {
    const std::string path = folder.file("t.dwq");
    Ref<IStorage> root;
    createRoot(root);
    writeStream(root.get(), u"old", pattern(300, 1));
    root.reset();   // the last release finishes the file
    const std::vector<uint8_t> original = fileBytes(path);
    ASSERT_FALSE(original.empty());

    // Abandoned: the target stays as it was and no temporary file is left.
    createRoot(root);
    writeStream(root.get(), u"new", pattern(300, 2));
    ASSERT_EQ(root->Revert(), S_OK);
    Ref<IStream> stream;
    EXPECT_EQ(root->CreateStream(u"more", kCreate, 0, 0, stream.out()), STG_E_REVERTED);
    EXPECT_EQ(root->Flush(), STG_E_REVERTED);
    root.reset();
    EXPECT_EQ(fileBytes(path), original);
    EXPECT_EQ(folder.entries(), 1u);

    // A write that fails (here: the process's file size limit) leaves the target untouched too.
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
        IStorage* file = nullptr;
        IStream* big = nullptr;
        if (StgCreateDocfile(path.c_str(), kCreate, 0, &file) != S_OK) _exit(1);
        if (file->CreateStream(u"big", kCreate, 0, 0, &big) != S_OK) _exit(2);
        const std::vector<uint8_t> data = pattern(4 << 20, 3);
        uint32_t written = 1;
        if (big->Write(data.data(), uint32_t(data.size()), &written) != STG_E_MEDIUMFULL || written != 0) _exit(3);
        big->Release();
        if (file->Flush() != STG_E_MEDIUMFULL) _exit(4);
        file->Release();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(fileBytes(path), original);
    EXPECT_EQ(folder.entries(), 1u);

    // Opened for writing: changes go to a new file that replaces the old one when finished.
    ASSERT_EQ(StgOpenStorage(path.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, root.out()), S_OK);
    writeStream(root.get(), u"added", pattern(20000, 4));
    EXPECT_EQ(readStream(root.get(), u"old"), pattern(300, 1));
    ASSERT_EQ(root->Flush(), S_OK);
    EXPECT_EQ(root->Revert(), STG_E_INVALIDFUNCTION);
    root.reset();
    openRoot(root);
    EXPECT_EQ(childNames(root.get()), (std::vector<std::u16string>{u"old", u"added"}));
    EXPECT_EQ(readStream(root.get(), u"added"), pattern(20000, 4));
    EXPECT_EQ(folder.entries(), 1u);
}

TEST_F(StorageTest, RuntimeStandIns) {
    EXPECT_EQ(OleInitialize(nullptr), S_OK);
    EXPECT_EQ(OleInitialize(nullptr), S_FALSE);
    OleUninitialize();
    OleUninitialize();
    EXPECT_EQ(OleInitialize(nullptr), S_OK);
    OleUninitialize();
    IMalloc* allocator = nullptr;
    EXPECT_EQ(CoGetMalloc(0, &allocator), E_INVALIDARG);
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &allocator), S_OK);
    void* block = allocator->Alloc(10);
    EXPECT_NE(block, nullptr);
    allocator->Free(block);
}

}  // namespace
