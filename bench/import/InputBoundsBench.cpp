// Containers small on disk that ask an import for much time or memory, imported through xthost
// and Kesto.so, each in a process of its own whose time and peak memory are measured:
//   InputBoundsBench                 all the cases below
//   InputBoundsBench run N [N...]    the export of minimal.qxp with its first text run made N Mi
//                                    characters long (a compressed container of some 10 KB a Mi):
//                                    the import's time per Mi characters should not grow with N
//   InputBoundsBench over            the same run 72 Mi characters long, more than a document
//                                    holds: refused before a story is written, in seconds
//   InputBoundsBench bomb            a compressed folder table whose first record names a length
//                                    of 0x7FFFFFF0 and whose stream inflates to 1 GiB: the
//                                    import's peak memory, which should stay far below that
// Times are noisy on a busy machine; the ratio of the time per Mi characters at the largest
// length to that at the smallest is what tells linear from quadratic.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "examples/damage/DamagedContainer.h"

namespace fs = std::filesystem;
using namespace kesto_damage;

namespace {

struct Measured {
    double seconds = -1;
    double peakMiB = 0;
    std::string transcript;
};

// Runs xthost on `script` in `folder`; its wall time, its peak memory and what it wrote.
Measured RunHost(const fs::path& folder, const std::string& script)
{
    const fs::path out = folder / "transcript.txt";
    const std::string xthost = KESTO_BINARY_DIR "/platform/host/xthost";
    const std::string module = KESTO_BINARY_DIR "/Plugin/XTension/Kesto.so";
    const auto start = std::chrono::steady_clock::now();
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0 || !std::freopen(out.c_str(), "w", stdout) || !std::freopen(out.c_str(), "a", stderr))
            ::_exit(127);
        ::execl(xthost.c_str(), xthost.c_str(), "--app", ".", "--module", module.c_str(), "--script", script.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    Measured m;
    int status = 0;
    rusage usage{};
    if (child > 0 && ::wait4(child, &status, 0, &usage) == child) {
        m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        m.peakMiB = usage.ru_maxrss / 1024.0;
    }
    std::ifstream in(out);
    m.transcript.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return m;
}

// Imports `dwq` of the folder into `name`.qxp; the result dialog (103 "Import done", 104 "Import
// failed") is confirmed.
Measured Import(const fs::path& folder, const std::string& dwq, const std::string& name, int dialog)
{
    std::ofstream(folder / (name + ".xts")) << "start\nmenu \"Import Verbant file\"\nopen * " << dwq << "\nsave * " << name
                                            << ".qxp\ndialog " << dialog << "\n  press 1\nquit\n";
    return RunHost(folder, name + ".xts");
}

// The round trip's folder of minimal.qxp, with its export minimal.dwq.
fs::path Prepare()
{
    const std::string command = "KESTO_KEEP=1 bash '" KESTO_SOURCE_DIR "/examples/app/roundtrip.sh' '" KESTO_BINARY_DIR
                                "' minimal.qxp 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char line[4096];
    while (pipe && std::fgets(line, sizeof line, pipe))
        out += line;
    if (pipe)
        pclose(pipe);
    const std::string key = "imported document: ";
    const size_t at = out.rfind(key);
    if (at == std::string::npos)
        return {};
    return fs::path(out.substr(at + key.size(), out.find('\n', at) - at - key.size())).parent_path();
}

const char* Result(const std::string& transcript)
{
    if (transcript.find("dialog 103") != std::string::npos)
        return "Import done";
    return transcript.find("dialog 104") != std::string::npos ? "Import failed" : "no result";
}

// Writes `name`.dwq: the export of minimal.qxp with its first text run made n Mi characters long.
void WithLongRun(const fs::path& folder, const CodeStreams& source, int n, const std::string& name)
{
    CodeStreams code = source;
    std::string stream;
    for (const auto& [item, bytes] : code.streams)
        if (stream.empty() && item.find("!1:Unicodes") != std::string::npos)
            stream = item;
    Bytes& units = code.streams.at(stream);
    units.assign({5, 0});  // the field type of 16-bit characters
    const std::string words = "Lorem ipsum dolor sit amet, consectetur adipiscing elit. ";
    units.reserve(2 + (size_t(n) << 21));
    for (size_t k = 0; k < (size_t(n) << 20); ++k) {
        units.push_back(static_cast<uint8_t>(words[k % words.size()]));
        units.push_back(0);
    }
    WriteCopy((folder / "minimal.dwq").string(), (folder / (name + ".dwq")).string(), &code);
}

int Over(const fs::path& folder)
{
    WithLongRun(folder, ReadCodeFile((folder / "minimal.dwq").string()), 72, "over");
    const Measured m = Import(folder, "over.dwq", "over", 104);
    if (m.seconds < 0) {
        std::fprintf(stderr, "the import of the run over the document's bound did not run\n");
        return 1;
    }
    std::printf("run of 72 Mi characters, more than a document holds, container %.1f KB: %.2f s, peak memory %.1f MiB, "
                "%s\n",
                fs::file_size(folder / "over.dwq") / 1000.0, m.seconds, m.peakMiB, Result(m.transcript));
    fs::remove(folder / "over.dwq");
    return 0;
}

int LongRuns(const fs::path& folder, const std::vector<int>& mebis)
{
    const CodeStreams source = ReadCodeFile((folder / "minimal.dwq").string());
    double first = 0, last = 0;
    for (int n : mebis) {
        const std::string name = "run-" + std::to_string(n) + "Mi";
        WithLongRun(folder, source, n, name);
        const Measured m = Import(folder, name + ".dwq", name, 103);
        if (m.seconds < 0) {
            std::fprintf(stderr, "the import of %s did not run\n", name.c_str());
            return 1;
        }
        const double perMebi = m.seconds / n;
        std::printf("run of %4d Mi characters, container %7.1f KB: %8.2f s, %6.3f s per Mi, peak memory %7.1f MiB, %s\n", n,
                    fs::file_size(folder / (name + ".dwq")) / 1000.0, m.seconds, perMebi, m.peakMiB, Result(m.transcript));
        std::fflush(stdout);
        fs::remove(folder / (name + ".dwq"));
        fs::remove(folder / (name + ".qxp"));
        if (first == 0)
            first = perMebi;
        last = perMebi;
    }
    std::printf("time per Mi characters at %d Mi against %d Mi: %.2f\n", mebis.back(), mebis.front(), last / first);
    return 0;
}

int Bomb(const fs::path& folder)
{
    CodeStreams code = ReadCodeFile((folder / "minimal.dwq").string());
    Bytes& table = code.streams.at("\x02");
    table.assign(size_t(1) << 30, 0);
    PutU32(table, 0, 0x7FFFFFF0u);
    WriteCopy((folder / "minimal.dwq").string(), (folder / "bomb.dwq").string(), &code);
    code.streams.clear();
    const Measured m = Import(folder, "bomb.dwq", "bomb", 104);
    if (m.seconds < 0) {
        std::fprintf(stderr, "the import of the bomb did not run\n");
        return 1;
    }
    std::printf("folder table of 1 GiB naming a length of 0x7FFFFFF0, container %.1f KB: %.2f s, peak memory %.1f MiB, %s\n",
                fs::file_size(folder / "bomb.dwq") / 1000.0, m.seconds, m.peakMiB, Result(m.transcript));
    std::ifstream log(folder / "KestoLogfile.txt");
    for (std::string line; std::getline(log, line);)
        if (line.find("Container Error") != std::string::npos)
            std::printf("  %s\n", line.c_str());
    const Measured plain = Import(folder, "minimal.dwq", "plain", 103);
    std::printf("the same export undamaged: %.2f s, peak memory %.1f MiB, %s\n", plain.seconds, plain.peakMiB,
                Result(plain.transcript));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<int> mebis;
    if (args.empty())
        mebis = {1, 4, 16};
    else if (args[0] == "run")
        for (size_t i = 1; i < args.size(); ++i)
            mebis.push_back(std::atoi(args[i].c_str()));
    const bool bomb = args.empty() || args[0] == "bomb";
    const bool over = args.empty() || args[0] == "over";
    if ((!args.empty() && args[0] == "run" && mebis.empty()) ||
        (!args.empty() && args[0] != "run" && args[0] != "bomb" && args[0] != "over")) {
        std::fprintf(stderr, "usage: InputBoundsBench [run N... | over | bomb]\n");
        return 2;
    }
    const fs::path folder = Prepare();
    if (folder.empty()) {
        std::fprintf(stderr, "the round trip of minimal.qxp failed\n");
        return 1;
    }
    int result = 0;
    if (!mebis.empty())
        result |= LongRuns(folder, mebis);
    if (over)
        result |= Over(folder);
    if (bomb)
        result |= Bomb(folder);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return result;
}
