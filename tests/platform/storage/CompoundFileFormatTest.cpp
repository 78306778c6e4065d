// The stored form: version 4 files, and damaged or hostile files, which must answer
// "corrupt" (or "not a compound file") without crashing, looping or allocating wildly.
#include "tests/platform/storage/StorageTestSupport.h"

#include "fuzz/storage/WalkStorage.h"

#include <cstring>
#include <functional>

namespace {

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    put16(b, at, uint16_t(v));
    put16(b, at + 2, uint16_t(v >> 16));
}
uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void putName(std::vector<uint8_t>& b, size_t entry, const std::u16string& name) {
    for (size_t k = 0; k < name.size(); ++k) put16(b, entry + 2 * k, name[k]);
    put16(b, entry + 64, uint16_t((name.size() + 1) * 2));
}

constexpr uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF;

// A version 4 file (4096-byte sectors) written by hand: a 5000-byte stream "big" in sectors 2
// and 3, a 100-byte stream "small" in the mini stream (sector 5), and the storage "St".
std::vector<uint8_t> versionFourFile() {
    const size_t sector = 4096;
    std::vector<uint8_t> b(sector * 7, 0);
    const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(b.data(), signature, 8);
    put16(b, 24, 0x3E);
    put16(b, 26, 4);
    put16(b, 28, 0xFFFE);
    put16(b, 30, 12);
    put16(b, 32, 6);
    put32(b, 40, 1);      // directory sectors
    put32(b, 44, 1);      // FAT sectors
    put32(b, 48, 1);      // first directory sector
    put32(b, 56, 4096);
    put32(b, 60, 4);      // first mini FAT sector
    put32(b, 64, 1);
    put32(b, 68, kEnd);
    put32(b, 72, 0);
    put32(b, 76, 0);      // FAT in sector 0
    for (size_t i = 1; i < 109; ++i) put32(b, 76 + 4 * i, kFree);
    const auto at = [&](uint32_t s) { return (s + 1) * sector; };
    const uint32_t fat[] = {0xFFFFFFFD, kEnd, 3, kEnd, kEnd, kEnd};
    for (size_t i = 0; i < 1024; ++i) put32(b, at(0) + 4 * i, i < 6 ? fat[i] : kFree);
    const size_t dir = at(1);
    for (size_t e = 0; e < 32; ++e)
        for (const size_t f : {68, 72, 76}) put32(b, dir + e * 128 + f, kFree);
    putName(b, dir, u"Root Entry");
    b[dir + 66] = 5;
    put32(b, dir + 76, 1);         // child: "big"
    put32(b, dir + 116, 5);        // mini stream
    put32(b, dir + 120, 128);
    putName(b, dir + 128, u"big");
    b[dir + 128 + 66] = 2;
    put32(b, dir + 128 + 72, 2);   // right: "small"
    put32(b, dir + 128 + 116, 2);
    put32(b, dir + 128 + 120, 5000);
    putName(b, dir + 256, u"small");
    b[dir + 256 + 66] = 2;
    put32(b, dir + 256 + 68, 3);   // left: "St"
    put32(b, dir + 256 + 116, 0);
    put32(b, dir + 256 + 120, 100);
    putName(b, dir + 384, u"St");
    b[dir + 384 + 66] = 1;
    for (size_t i = 0; i < 1024; ++i) put32(b, at(4) + 4 * i, i == 0 ? 1 : i == 1 ? kEnd : kFree);
    const auto big = pattern(5000, 1), small = pattern(100, 2);
    std::memcpy(b.data() + at(2), big.data(), big.size());
    std::memcpy(b.data() + at(5), small.data(), small.size());
    return b;
}

TEST(CompoundFileFormat, ReadsVersionFour) {
    TempFolder folder;
    const std::string file = folder.file("v4.cfb");
    putFileBytes(file, versionFourFile());
    Ref<IStorage> root;
    ASSERT_EQ(StgOpenStorage(file.c_str(), nullptr, kReadRoot, nullptr, 0, root.out()), S_OK);
    EXPECT_EQ(childNames(root.get()), (std::vector<std::u16string>{u"St", u"big", u"small"}));
    EXPECT_EQ(readStream(root.get(), u"big"), pattern(5000, 1));
    EXPECT_EQ(readStream(root.get(), u"SMALL"), pattern(100, 2));
    root.reset();
    // Version 4 sizes are 64 bits: one near 2^64 is refused, not wrapped round.
    std::vector<uint8_t> huge = versionFourFile();
    put32(huge, 2 * 4096 + 128 + 120, 0xFFFFFFFF);
    put32(huge, 2 * 4096 + 128 + 124, 0xFFFFFFFF);
    putFileBytes(folder.file("huge.cfb"), huge);
    EXPECT_EQ(storage_walk::walkFile(folder.file("huge.cfb").c_str()), STG_E_DOCFILECORRUPT);
    // Opened for writing, it is written again as version 3.
    ASSERT_EQ(StgOpenStorage(file.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, root.out()), S_OK);
    writeStream(root.get(), u"new", pattern(10, 3));
    ASSERT_EQ(root->Flush(), S_OK);
    root.reset();
    EXPECT_EQ(fileBytes(file)[26], 3);
    ASSERT_EQ(StgOpenStorage(file.c_str(), nullptr, kReadRoot, nullptr, 0, root.out()), S_OK);
    EXPECT_EQ(childNames(root.get()), (std::vector<std::u16string>{u"St", u"big", u"new", u"small"}));
    EXPECT_EQ(readStream(root.get(), u"big"), pattern(5000, 1));
    EXPECT_EQ(readStream(root.get(), u"small"), pattern(100, 2));
}

// A file of our own with a storage, two sector streams and two mini streams, and where its
// structures lie.
class DamagedFile : public testing::Test {
protected:
    void SetUp() override {
        Ref<IStorage> root, storage;
        ASSERT_EQ(StgCreateDocfile(path.c_str(), kCreate, 0, root.out()), S_OK);
        ASSERT_EQ(root->CreateStorage(u"S", kCreate, 0, 0, storage.out()), S_OK);
        writeStream(storage.get(), u"big", pattern(30000, 1));
        writeStream(storage.get(), u"small", pattern(300, 2));
        writeStream(root.get(), u"other", pattern(9000, 3));
        writeStream(root.get(), u"tiny", pattern(70, 4));
        storage.reset();
        ASSERT_EQ(root->Flush(), S_OK);
        root.reset();
        good = fileBytes(path);
        ASSERT_EQ(storage_walk::walkFile(path.c_str()), S_OK);
    }

    size_t sectorAt(uint32_t s) const { return (size_t(s) + 1) * 512; }
    size_t fatEntry(uint32_t s) const { return sectorAt(get32(good, 76)) + 4 * s; }
    // The directory entry of a name (our directory is written in consecutive sectors).
    size_t entryOf(const std::u16string& name) const {
        const size_t dir = sectorAt(get32(good, 48));
        for (size_t e = dir; e + 128 <= good.size(); e += 128) {
            std::vector<uint8_t> probe(128);
            putName(probe, 0, name);
            if (std::memcmp(probe.data(), good.data() + e, 66) == 0) return e;
        }
        ADD_FAILURE() << "no entry " << utf8(name);
        return 0;
    }
    // The result of opening and walking a changed copy.
    HRESULT walk(const std::vector<uint8_t>& bytes) {
        putFileBytes(path, bytes);
        return storage_walk::walkFile(path.c_str());
    }
    template <class Change>
    HRESULT walkChanged(Change change) {
        std::vector<uint8_t> bytes = good;
        change(bytes);
        return walk(bytes);
    }

    TempFolder folder;
    const std::string path = folder.file("t.dwq");
    std::vector<uint8_t> good;
};

TEST_F(DamagedFile, TruncatedAnywhere) {
    for (size_t size = 0; size < good.size(); size += size < 1024 ? 97 : 512) {
        const HRESULT hr = walk(std::vector<uint8_t>(good.begin(), good.begin() + long(size)));
        if (size < 512)
            EXPECT_EQ(hr, STG_E_FILEALREADYEXISTS) << size;
        else
            EXPECT_EQ(hr, STG_E_DOCFILECORRUPT) << size;   // the tables come last
    }
}

TEST_F(DamagedFile, BrokenHeader) {
    EXPECT_EQ(walkChanged([](auto& b) { b[0] = 0; }), STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(walkChanged([](auto& b) { put16(b, 30, 10); }), STG_E_DOCFILECORRUPT);            // sector size
    EXPECT_EQ(walkChanged([](auto& b) { put16(b, 26, 5); }), STG_E_DOCFILECORRUPT);             // version
    EXPECT_EQ(walkChanged([](auto& b) { put32(b, 44, 0x7FFFFFFF); }), STG_E_DOCFILECORRUPT);    // FAT count
    EXPECT_EQ(walkChanged([](auto& b) { put32(b, 44, get32(b, 44) + 1); }), STG_E_DOCFILECORRUPT);   // FAT sector unset
    EXPECT_EQ(walkChanged([](auto& b) { put32(b, 48, 0xFFFFFFF0); }), STG_E_DOCFILECORRUPT);    // directory
    EXPECT_EQ(walkChanged([](auto& b) { put32(b, 64, 100000); }), STG_E_DOCFILECORRUPT);        // mini FAT count
    EXPECT_EQ(walkChanged([](auto& b) { put32(b, 56, 512); }), STG_E_DOCFILECORRUPT);           // cutoff
}

TEST_F(DamagedFile, BrokenChains) {
    const size_t big = entryOf(u"big"), other = entryOf(u"other"), tiny = entryOf(u"tiny");
    const uint32_t bigStart = get32(good, big + 116);
    // A chain that loops, one that leaves the file, two streams sharing sectors.
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, fatEntry(bigStart), bigStart); }), STG_E_DOCFILECORRUPT);
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, fatEntry(bigStart), 0x00FFFFFF); }), STG_E_DOCFILECORRUPT);
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, other + 116, bigStart); }), STG_E_DOCFILECORRUPT);
    // A chain that ends too early for its size.
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, fatEntry(bigStart), kEnd); }), STG_E_DOCFILECORRUPT);
    // Sizes beyond the file: nothing is allocated for them.
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, big + 120, 0x7FFFFFFF); }), STG_E_DOCFILECORRUPT);
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, tiny + 120, 4000); }), STG_E_DOCFILECORRUPT);
    // An empty stream whose start names a mini chain reads as empty (a crash the fuzzer found).
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, tiny + 120, 0); }), S_OK);
    // Mini sectors out of range, and the mini stream larger than its chain.
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, tiny + 116, 5000); }), STG_E_DOCFILECORRUPT);
    const size_t root = sectorAt(get32(good, 48));
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, root + 120, 0x10000000); }), STG_E_DOCFILECORRUPT);
}

TEST_F(DamagedFile, BrokenDirectory) {
    const size_t root = sectorAt(get32(good, 48)), big = entryOf(u"big"), tiny = entryOf(u"tiny");
    EXPECT_EQ(walkChanged([&](auto& b) { b[root + 66] = 1; }), STG_E_DOCFILECORRUPT);           // no root entry
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, root + 76, 0); }), STG_E_DOCFILECORRUPT);     // root is its own child
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, root + 76, 9999); }), STG_E_DOCFILECORRUPT);  // child out of range
    // A sibling cycle, and one entry reached twice.
    const uint32_t bigId = uint32_t((big - root) / 128);
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, big + 68, bigId); }), STG_E_DOCFILECORRUPT);
    EXPECT_EQ(walkChanged([&](auto& b) { put32(b, tiny + 76, bigId); b[tiny + 66] = 1; }), STG_E_DOCFILECORRUPT);
    // Names: empty, odd length, too long, NUL inside; an unknown type; two siblings alike.
    EXPECT_EQ(walkChanged([&](auto& b) { put16(b, big + 64, 0); }), STG_E_DOCFILECORRUPT);
    EXPECT_EQ(walkChanged([&](auto& b) { put16(b, big + 64, 7); }), STG_E_DOCFILECORRUPT);
    EXPECT_EQ(walkChanged([&](auto& b) { put16(b, big + 64, 66); }), STG_E_DOCFILECORRUPT);
    EXPECT_EQ(walkChanged([&](auto& b) { put16(b, big + 2, 0); }), STG_E_DOCFILECORRUPT);
    EXPECT_EQ(walkChanged([&](auto& b) { b[big + 66] = 3; }), STG_E_DOCFILECORRUPT);
    EXPECT_EQ(walkChanged([&](auto& b) { putName(b, tiny, u"OTHER"); }), STG_E_DOCFILECORRUPT);
}

// The loader says which of its checks a damaged file failed.
TEST_F(DamagedFile, EachDamageIsNamed) {
    const size_t root = sectorAt(get32(good, 48)), big = entryOf(u"big"), other = entryOf(u"other");
    const uint32_t bigStart = get32(good, big + 116), bigId = uint32_t((big - root) / 128);
    const std::vector<std::pair<std::function<void(std::vector<uint8_t>&)>, std::string>> damages = {
        {[&](auto& b) { put32(b, fatEntry(bigStart), bigStart); },
         "the chain of stream \"big\" (directory entry " + std::to_string(bigId) + ") loops back to sector " + std::to_string(bigStart)},
        {[&](auto& b) { put32(b, other + 116, bigStart); }, "runs into sector " + std::to_string(bigStart) + ", which another chain holds"},
        {[&](auto& b) { put32(b, fatEntry(bigStart), 0x00FFFFFF); }, "names sector 16777215, beyond the "},
        {[&](auto& b) { put32(b, big + 68, bigId); }, "its directory links to entry " + std::to_string(bigId) + " a second time (a cycle)"},
        {[&](auto& b) { put32(b, big + 120, 0x7FFFFFFF); }, "stream \"big\" (directory entry " + std::to_string(bigId) +
                                                             ") of 2147483647 bytes is larger than the file"},
        {[&](auto& b) { put32(b, fatEntry(get32(good, 48)), get32(good, 48)); }, "the directory's chain loops back to sector"},
        {[&](auto& b) { put16(b, big + 64, 7); }, "directory entry " + std::to_string(bigId) + " has a name of 7 bytes"},
    };
    for (const auto& [change, named] : damages) {
        EXPECT_EQ(walkChanged(change), STG_E_DOCFILECORRUPT) << named;
        const std::string damage = StgTakeDamage();
        EXPECT_NE(damage.find(named), std::string::npos) << damage;
        EXPECT_EQ(StgTakeDamage(), "");  // taken once
    }
}

TEST_F(DamagedFile, NestingDeeperThanTheLimitIsRefused) {
    {
        Ref<IStorage> root;
        ASSERT_EQ(StgCreateDocfile(path.c_str(), kCreate, 0, root.out()), S_OK);
        std::vector<Ref<IStorage>> chain(1001);
        IStorage* parent = root.get();
        for (auto& level : chain) {
            ASSERT_EQ(parent->CreateStorage(u"d", kCreate, 0, 0, level.out()), S_OK);
            parent = level.get();
        }
        ASSERT_EQ(root->Flush(), S_OK);
        while (!chain.empty()) chain.pop_back();
    }
    EXPECT_EQ(storage_walk::walkFile(path.c_str()), STG_E_DOCFILECORRUPT);
}

// Inputs that once crashed the fuzz target of this reader; each must now give an answer.
TEST(CompoundFileFormat, FuzzFindingsAnswer) {
    const std::filesystem::path corpus = std::filesystem::path(KESTO_SOURCE_DIR) / "fuzz/corpus/CompoundFileFuzzer";
    size_t replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        const HRESULT hr = storage_walk::walkFile(entry.path().c_str());
        EXPECT_TRUE(hr == S_OK || hr == STG_E_DOCFILECORRUPT || hr == STG_E_FILEALREADYEXISTS)
            << entry.path() << " " << std::hex << hr;
        ++replayed;
    }
    EXPECT_GT(replayed, 0u);
}

}  // namespace
