// Our compound files against independent implementations: Debian's python3-olefile and
// libgsf's "gsf" read what we write, and we read what "gsf createole" writes.
#include "tests/platform/storage/StorageTestSupport.h"

#include "fuzz/storage/WalkStorage.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <sys/wait.h>

namespace {

// Runs a program without a shell; its standard output is returned in `out`.
int runProgram(const std::vector<std::string>& args, std::string& out) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeFds[1], 1);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    out.clear();
    char buffer[65536];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        out.append(buffer, size_t(n));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// One element of a tree: 'd' for a storage, 'f' for a stream, its path ("a/b") and bytes.
struct Entry {
    char type;
    std::vector<uint8_t> bytes;
};
using Tree = std::map<std::string, Entry>;

// Lists every element with olefile (Debian's Python, where the package is installed).
Tree readWithOlefile(const std::string& file, const TempFolder& folder) {
    static const char* script = R"(
import sys, olefile
ole = olefile.OleFileIO(sys.argv[1])
for i, entry in enumerate(ole.listdir(streams=True, storages=True)):
    path = "/".join(entry)
    if ole.get_type(entry) == olefile.STGTY_STREAM:
        with open("%s/%d.bin" % (sys.argv[2], i), "wb") as out:
            out.write(ole.openstream(entry).read())
        line = "f\t%d\t%s\n" % (i, path)
    else:
        line = "d\t%d\t%s\n" % (i, path)
    sys.stdout.buffer.write(line.encode("utf-8"))
)";
    std::string out;
    const std::string dumps = folder.file("olefile");
    std::filesystem::create_directories(dumps);
    const int status = runProgram({"/usr/bin/python3", "-c", script, file, dumps}, out);
    EXPECT_EQ(status, 0) << "python3-olefile must be installed in /usr/bin/python3 (scripts/packages.txt)";
    Tree tree;
    for (const auto& line : lines(out)) {
        const size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        Entry e{line[0], {}};
        if (e.type == 'f') e.bytes = fileBytes(dumps + "/" + line.substr(tab1 + 1, tab2 - tab1 - 1) + ".bin");
        tree[line.substr(tab2 + 1)] = std::move(e);
    }
    return tree;
}

// Lists every element with "gsf list" and reads each stream with "gsf cat".
Tree readWithGsf(const std::string& file) {
    std::string out;
    const int status = runProgram({"gsf", "list", file}, out);
    EXPECT_EQ(status, 0) << "gsf (libgsf-bin) must be installed (scripts/packages.txt)";
    Tree tree;
    for (const auto& line : lines(out)) {
        if (line.size() < 2 || (line[0] != 'd' && line[0] != 'f') || line[1] != ' ') continue;
        const std::string path = line.substr(line.rfind(' ') + 1);
        if (path == "*root*") continue;
        Entry e{line[0], {}};
        if (e.type == 'f') {
            std::string content;
            EXPECT_EQ(runProgram({"gsf", "cat", file, path}, content), 0) << path;
            e.bytes = bytesOf(content);
        }
        tree[path] = std::move(e);
    }
    return tree;
}

// Lists every element through our own layer.
void readWithLayer(IStorage* storage, const std::string& prefix, Tree& tree) {
    for (const auto& child : listChildren(storage)) {
        const std::string path = prefix + utf8(child.name);
        if (child.type == STGTY_STORAGE) {
            tree[path] = Entry{'d', {}};
            Ref<IStorage> sub;
            ASSERT_EQ(storage->OpenStorage(child.name.c_str(), nullptr, kRead, nullptr, 0, sub.out()), S_OK);
            readWithLayer(sub.get(), path + "/", tree);
        } else {
            tree[path] = Entry{'f', readStream(storage, child.name)};
        }
    }
}

void expectSameTree(const Tree& actual, const Tree& expected, const char* reader) {
    ASSERT_EQ(actual.size(), expected.size()) << reader;
    for (const auto& [path, entry] : expected) {
        const auto it = actual.find(path);
        ASSERT_NE(it, actual.end()) << reader << " misses " << path;
        EXPECT_EQ(it->second.type, entry.type) << reader << " " << path;
        EXPECT_TRUE(it->second.bytes == entry.bytes) << reader << " reads other bytes in " << path;
    }
}

TEST(CompoundFileInterop, IndependentReadersAgreeOnAnExchangeContainer) {
    TempFolder folder;
    const std::string file = folder.file("export.dwq");
    const std::string summary = "\x05VerbantSummaryInformation";
    Tree expected = {
        {"VerbantTextAndCode", {'d', {}}},
        {"VerbantTextAndCode/VerbantCodeFile", {'f', pattern(20 * 1024, 1)}},
        {"VerbantTextAndCode/" + summary, {'f', pattern(88, 2)}},
        {"VerbantPluginPrivateData", {'d', {}}},
        {"VerbantPluginPrivateData/KestoExportTemplates", {'d', {}}},
        {"VerbantPluginPrivateData/KestoExportTemplates/0", {'f', pattern(12 << 20, 3)}},   // needs DIFAT sectors
    };
    {
        Ref<IStorage> root, code, data, templates;
        ASSERT_EQ(StgCreateDocfile(file.c_str(), kCreate, 0, root.out()), S_OK);
        ASSERT_EQ(root->CreateStorage(u"VerbantTextAndCode", kCreate, 0, 0, code.out()), S_OK);
        writeStream(code.get(), u"VerbantCodeFile", expected["VerbantTextAndCode/VerbantCodeFile"].bytes);
        writeStream(code.get(), u"\u0005VerbantSummaryInformation", pattern(88, 2));
        ASSERT_EQ(root->CreateStorage(u"VerbantPluginPrivateData", kCreate, 0, 0, data.out()), S_OK);
        ASSERT_EQ(data->CreateStorage(u"KestoExportTemplates", kCreate, 0, 0, templates.out()), S_OK);
        writeStream(templates.get(), u"0", expected["VerbantPluginPrivateData/KestoExportTemplates/0"].bytes);
        templates.reset();
        data.reset();
        code.reset();
        ASSERT_EQ(root->Flush(), S_OK);
    }
    expectSameTree(readWithOlefile(file, folder), expected, "olefile");
    expectSameTree(readWithGsf(file), expected, "gsf");
    Ref<IStorage> root;
    ASSERT_EQ(StgOpenStorage(file.c_str(), nullptr, kReadRoot, nullptr, 0, root.out()), S_OK);
    Tree ours;
    readWithLayer(root.get(), "", ours);
    expectSameTree(ours, expected, "layer");
}

TEST(CompoundFileInterop, ReadsAndRewritesWhatGsfWrites) {
    TempFolder folder;
    const std::filesystem::path source = folder.path() / "source";
    std::filesystem::create_directories(source / "sub");
    putFileBytes((source / "a.txt").string(), pattern(6, 1));
    putFileBytes((source / "mid.bin").string(), pattern(5000, 2));
    putFileBytes((source / "sub" / "s").string(), pattern(300, 3));
    putFileBytes((source / "sub" / "big.bin").string(), pattern(100000, 4));
    const std::string file = folder.file("gsf.ole");
    std::string out;
    ASSERT_EQ(runProgram({"gsf", "createole", file, (source / "a.txt").string(), (source / "sub").string(),
                          (source / "mid.bin").string()},
                         out),
              0)
        << "gsf (libgsf-bin) must be installed (scripts/packages.txt)";
    Tree expected = {
        {"a.txt", {'f', pattern(6, 1)}},
        {"mid.bin", {'f', pattern(5000, 2)}},
        {"sub", {'d', {}}},
        {"sub/s", {'f', pattern(300, 3)}},
        {"sub/big.bin", {'f', pattern(100000, 4)}},
    };
    EXPECT_EQ(storage_walk::walkFile(file.c_str()), S_OK);
    {
        Ref<IStorage> root;
        ASSERT_EQ(StgOpenStorage(file.c_str(), nullptr, kReadRoot, nullptr, 0, root.out()), S_OK);
        EXPECT_EQ(childNames(root.get()), (std::vector<std::u16string>{u"sub", u"a.txt", u"mid.bin"}));
        Tree ours;
        readWithLayer(root.get(), "", ours);
        expectSameTree(ours, expected, "layer");
    }
    // Changed through our layer, the file still reads the same elsewhere.
    {
        Ref<IStorage> root;
        ASSERT_EQ(StgOpenStorage(file.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, root.out()), S_OK);
        writeStream(root.get(), u"added", pattern(7000, 5));
        ASSERT_EQ(root->DestroyElement(u"a.txt"), S_OK);
        ASSERT_EQ(root->Flush(), S_OK);
    }
    expected.erase("a.txt");
    expected["added"] = Entry{'f', pattern(7000, 5)};
    expectSameTree(readWithOlefile(file, folder), expected, "olefile");
    expectSameTree(readWithGsf(file), expected, "gsf");
}

}  // namespace
