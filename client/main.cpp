// kesto-client: asks a running Kesto server for its state, has it convert a document, or halts
// it. It speaks the server's line protocol through the protocol client the server's tests use.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "client/ProtocolClient.h"

namespace fs = std::filesystem;

namespace {

constexpr int kConverted = 0;
constexpr int kFailed = 1;
constexpr int kUnusable = 2;

// What a server that reads no password file expects; it takes it only from clients on its own
// machine.
constexpr const char* kFixedPassword = "omra.Kesto#2026";
constexpr uint16_t kDefaultPort = 8126;

const char* const kUsage =
    R"(usage: kesto-client [OPTIONS] status
       kesto-client [OPTIONS] export WORD SOURCE TARGET-NAME [--socket] [--compress]
                                     [--target-folder F] [--out DIR]
       kesto-client [OPTIONS] halt

Talks to a Kesto server (xthost running Kesto.so with serverMode=True in kesto.ini).

  status    whether the server answers, its version and the transfer modes it takes
  export    has the server convert SOURCE; TARGET-NAME names the results (the server
            gives them its extensions). WORD is one of the server's export words, with or
            without "export" in front: pdf, pdfandoverset, jpgs, dwq (or dwx), dwqandpdf,
            dwqandpdfandoverset, qxp (or indd), qxpandpdf, qxpandpdfandoverset.
              --socket             send SOURCE over the connection and receive the results
                                   into --out DIR (default: the current folder)
              --compress           the same, deflated both ways (implies --socket)
            Without --socket the server reads SOURCE and writes the results itself, in a
            folder both share: SOURCE is then a path as the server sees it (a relative one
            is made absolute here), and the results go to --target-folder F (default:
            SOURCE's folder).
  halt      stops the server; the host then quits

Options:
  --host H            the server's machine (default 127.0.0.1)
  --port P            its port (default 8126, listenPort of kesto.ini)
  --password-file F   the password is F's first line (without it: the server's fixed
                      password, which a server takes only from its own machine)
  --timeout S         how long to wait for any one answer, in seconds (default 600)
  --help              this text

Exit status: 0 done, 1 the conversion failed (the line says why), 2 unusable arguments,
or no server to talk to.
)";

struct Options {
    std::string host = "127.0.0.1";
    uint16_t port = kDefaultPort;
    std::string passwordFile;
    int timeoutSeconds = 600;
    bool socket = false;
    bool compress = false;
    std::string targetFolder;
    std::string out;
    std::vector<std::string> words;
};

int Unusable(const std::string& message)
{
    std::cerr << "kesto-client: " << message << "\n";
    return kUnusable;
}

bool ParseNumber(const std::string& text, long low, long high, long& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return false;
    value = std::stol(text);
    return value >= low && value <= high;
}

// Options may stand anywhere; the rest are the command and its words. Empty on success, else
// what is wrong.
std::string ParseArguments(int argc, char** argv, Options& options, bool& help)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc)
                return false;
            into = argv[++i];
            return true;
        };
        std::string text;
        long number = 0;
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--host") {
            if (!value(options.host) || options.host.empty())
                return "--host needs a machine's name or address";
        } else if (arg == "--port") {
            if (!value(text) || !ParseNumber(text, 1, 65535, number))
                return "--port needs a number from 1 to 65535";
            options.port = static_cast<uint16_t>(number);
        } else if (arg == "--password-file") {
            if (!value(options.passwordFile) || options.passwordFile.empty())
                return "--password-file needs a file";
        } else if (arg == "--timeout") {
            if (!value(text) || !ParseNumber(text, 1, 86400, number))
                return "--timeout needs a number of seconds from 1 to 86400";
            options.timeoutSeconds = static_cast<int>(number);
        } else if (arg == "--socket") {
            options.socket = true;
        } else if (arg == "--compress") {
            options.compress = options.socket = true;
        } else if (arg == "--target-folder") {
            if (!value(options.targetFolder) || options.targetFolder.empty())
                return "--target-folder needs a folder";
        } else if (arg == "--out") {
            if (!value(options.out) || options.out.empty())
                return "--out needs a folder";
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg;
        } else {
            options.words.push_back(arg);
        }
    }
    return "";
}

// The server's export words; a word may be given without "export".
std::optional<std::string> ExportWord(const std::string& word)
{
    static const std::set<std::string> words = {
        "exportpdf",        "exportpdfandoverset",       "exportjpgs",
        "exportdwx",        "exportdwq",                 "exportdwxandpdf",
        "exportdwqandpdf",  "exportdwxandpdfandoverset", "exportdwqandpdfandoverset",
        "exportindd",       "exportqxp",                 "exportinddandpdf",
        "exportqxpandpdf",  "exportinddandpdfandoverset", "exportqxpandpdfandoverset"};
    const std::string full = word.rfind("export", 0) == 0 ? word : "export" + word;
    if (!words.count(full))
        return std::nullopt;
    return full;
}

std::optional<std::string> ReadPassword(const std::string& file, std::string& error)
{
    if (file.empty())
        return std::string(kFixedPassword);
    std::ifstream in(file, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) {
        error = "cannot read the password file " + file;
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty()) {
        error = "the password file " + file + " has an empty first line";
        return std::nullopt;
    }
    return line;
}

// A name the server gave for a result: a plain file name, nothing that leads elsewhere.
bool IsPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

// Writes the bytes to folder/name through a new file beside it, so that a name already there
// (a link included) is replaced whole or not at all.
bool WriteResult(const fs::path& folder, const std::string& name, const std::string& bytes, std::string& error)
{
    std::string temporary = (folder / ("." + name + ".XXXXXX")).string();
    const int fd = ::mkstemp(&temporary[0]);
    if (fd < 0) {
        error = "cannot write into " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const bool written = done == bytes.size() && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), (folder / name).c_str()) != 0) {
        error = "cannot write " + (folder / name).string() + ": " + std::strerror(written ? errno : saved);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

class Session {
public:
    Session(std::unique_ptr<protocol::Client> client, std::string where) : m_client(std::move(client)), m_where(std::move(where)) {}

    // The server's answer to the line; nullopt when it closed the connection or stayed silent.
    std::optional<std::string> Ask(const std::string& line)
    {
        if (!m_client->SendLine(line))
            return std::nullopt;
        return m_client->ReadLine();
    }

    // Sends each line and expects its answer; empty when all came, else why not.
    std::string Dialogue(const std::vector<std::pair<std::string, std::string>>& steps)
    {
        for (const auto& [line, expected] : steps) {
            const std::optional<std::string> reply = Ask(line);
            if (reply != expected)
                return Unexpected(reply);
        }
        return "";
    }

    std::string Unexpected(const std::optional<std::string>& reply) const
    {
        return reply ? "the server answered \"" + *reply + "\"" : "the server closed the connection";
    }

    protocol::Client& Raw() { return *m_client; }
    const std::string& Where() const { return m_where; }

    // Ends the dialogue as the protocol does; the server closes without an answer.
    void Quit() { m_client->SendLine("quit"); }

private:
    std::unique_ptr<protocol::Client> m_client;
    std::string m_where;
};

// Connects and gives the password; null after saying why not.
std::unique_ptr<Session> Open(const Options& options)
{
    std::string error;
    const std::optional<std::string> password = ReadPassword(options.passwordFile, error);
    if (!password) {
        Unusable(error);
        return nullptr;
    }
    const std::string where = options.host + ":" + std::to_string(options.port);
    auto client = protocol::Client::Connect(options.host, options.port, options.timeoutSeconds * 1000, error);
    if (!client) {
        Unusable("cannot reach the server at " + where + ": " + error);
        return nullptr;
    }
    auto session = std::make_unique<Session>(std::move(client), where);
    const std::optional<std::string> reply = session->Ask(*password);
    if (reply != "password ok") {
        Unusable("the server at " + where + " refused the password" + (reply ? " (\"" + *reply + "\")" : ""));
        return nullptr;
    }
    return session;
}

int Status(Session& session)
{
    std::string answers[3];
    const char* const lines[3] = {"serveralive", "get_server_version", "get_transfer_mode"};
    for (int k = 0; k < 3; ++k) {
        const std::optional<std::string> reply = session.Ask(lines[k]);
        if (!reply) {
            std::cerr << "kesto-client: " << session.Unexpected(reply) << " after \"" << lines[k] << "\"\n";
            return kFailed;
        }
        answers[k] = *reply;
    }
    session.Quit();
    std::cout << "server " << session.Where() << ": " << (answers[0] == "server alive v2" ? "alive" : answers[0])
              << ", version " << answers[1] << ", transfer mode " << answers[2] << "\n";
    return kConverted;
}

int Halt(Session& session)
{
    const std::optional<std::string> reply = session.Ask("haltServer");
    if (reply != "halt server") {
        std::cerr << "kesto-client: the server did not halt: " << session.Unexpected(reply) << "\n";
        return kFailed;
    }
    std::cout << "server " << session.Where() << ": halted\n";
    return kConverted;
}

// Uploads the source (socket mode) up to the server's "hash ok"; empty when done, else why not.
std::string Upload(Session& session, const fs::path& source, bool deflate)
{
    std::ifstream in(source, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        return "cannot read " + source.string();
    std::string why = session.Dialogue({{"///file_sock_transfer///", "file_sock_transfer ok"},
                                        {"file_transfer_start", "file_transfer_start ok"},
                                        {source.filename().string(), "filename ok"},
                                        {std::to_string(bytes.size()), "size ok"}});
    if (!why.empty())
        return why;
    const auto blocks = deflate ? protocol::EncodeStream(protocol::Deflate(bytes, 1), 8) : protocol::EncodeStream(bytes, 0);
    if (!session.Raw().SendBlocks(blocks))
        return session.Unexpected(std::nullopt);
    const std::optional<std::string> reply = session.Raw().ReadLine();
    if (reply != "file ok")
        return session.Unexpected(reply);
    return session.Dialogue({{"0", "hash ok"}});
}

// Takes every result the server offers into the folder; empty when all came, else why not.
std::string TakeResults(Session& session, const fs::path& folder, std::vector<fs::path>& written)
{
    for (;;) {
        std::optional<std::string> reply = session.Ask("wait_for_file");
        if (reply == "no_more_files")
            return session.Dialogue({{"no_more_files ok", "export finished"}});
        if (reply != "file_transfer_start")
            return session.Unexpected(reply);
        const std::optional<std::string> name = session.Ask("file_transfer_start ok");
        if (!name || !IsPlainName(*name))
            return name ? "the server offered a result named \"" + *name + "\"" : session.Unexpected(name);
        const std::optional<std::string> size = session.Ask("filename ok");
        if (!size || size->empty() || size->find_first_not_of("0123456789") != std::string::npos)
            return session.Unexpected(size);
        if (!session.Raw().SendLine("size ok"))
            return session.Unexpected(std::nullopt);
        // What the server sends is bounded by what it announced: a deflated stream may be a
        // little longer than the file, never more than twice as long.
        const size_t announced = size->size() > 15 ? SIZE_MAX / 4 : std::stoull(*size);
        const auto blocks = session.Raw().ReadBlocks(2 * announced + protocol::kFull);
        if (!blocks)
            return "the result " + *name + " arrived damaged";
        const std::optional<std::string> bytes = protocol::DecodeBlocks(*blocks, announced);
        if (!bytes || bytes->size() != announced)
            return "the result " + *name + " arrived damaged";
        std::string error;
        if (!WriteResult(folder, *name, *bytes, error))
            return error;
        written.push_back(folder / *name);
        const std::string why = session.Dialogue({{"file ok", "0"}, {"hash ok", "file_transfer_end"}});
        if (!why.empty())
            return why;
    }
}

int Export(Session& session, const Options& options, const std::string& word, const fs::path& source,
           const std::string& targetName, const fs::path& out)
{
    auto failed = [&](const std::string& why) {
        std::cout << source.string() << ": failed: " << why << "\n";
        return kFailed;
    };
    bool deflate = options.compress;
    if (deflate) {
        const std::optional<std::string> mode = session.Ask("get_transfer_mode");
        if (!mode)
            return failed(session.Unexpected(mode));
        if (*mode != "socket_can_compr") {
            std::cerr << "kesto-client: the server takes no compressed files (transfer mode " << *mode
                      << "); sending " << source.string() << " uncompressed\n";
            deflate = false;
        }
    }
    const std::optional<std::string> announcement = session.Ask(word);
    if (!announcement || announcement->rfind("export", 0) != 0)
        return failed(session.Unexpected(announcement));

    std::vector<fs::path> written;
    std::string why;
    if (options.socket) {
        why = Upload(session, source, deflate);
        if (why.empty())
            why = session.Dialogue({{targetName, "target name ok"}});
        if (why.empty())
            why = TakeResults(session, out, written);
    } else {
        const fs::path folder = options.targetFolder.empty() ? source.parent_path() : fs::path(options.targetFolder);
        why = session.Dialogue({{source.string(), "filename ok"},
                                {folder.string(), "target folder ok"},
                                {targetName, "target name ok"}});
        if (why.empty()) {
            // The conversion runs now; the server answers when it is over.
            const std::optional<std::string> done = session.Raw().ReadLine();
            if (done != "export finished")
                why = session.Unexpected(done);
        }
        // A job whose conversion failed still ends its dialogue, then the server closes the
        // connection: only a server that still answers has converted.
        if (why.empty() && session.Ask("serveralive") != "server alive v2")
            why = "the server could not convert it (its log says why)";
        if (why.empty())
            std::cout << source.string() << ": ok: " << *announcement << " into " << folder.string() << " as "
                      << targetName << "\n";
    }
    for (const fs::path& result : written)
        std::cout << result.string() << ": ok\n";
    if (!why.empty())
        return failed(why);
    session.Quit();
    return kConverted;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    bool help = false;
    const std::string wrong = ParseArguments(argc, argv, options, help);
    if (help) {
        std::cout << kUsage;
        return kConverted;
    }
    if (!wrong.empty())
        return Unusable(wrong + " (kesto-client --help)");
    if (options.words.empty())
        return Unusable("which command: status, export or halt? (kesto-client --help)");
    const std::string command = options.words[0];
    const size_t expected = command == "export" ? 4 : 1;
    if (command != "status" && command != "export" && command != "halt")
        return Unusable("unknown command " + command + " (kesto-client --help)");
    if (options.words.size() != expected)
        return Unusable(command == "export" ? "export takes WORD SOURCE TARGET-NAME" : command + " takes no words");
    if (command != "export" && (options.socket || !options.targetFolder.empty() || !options.out.empty()))
        return Unusable("--socket, --compress, --target-folder and --out belong to export");

    std::optional<std::string> word;
    fs::path source;
    fs::path out;
    if (command == "export") {
        word = ExportWord(options.words[1]);
        if (!word)
            return Unusable("unknown export word " + options.words[1] + " (kesto-client --help)");
        std::error_code error;
        source = fs::absolute(options.words[2], error);
        if (options.socket) {
            if (!options.targetFolder.empty())
                return Unusable("--target-folder is for shared folders; with --socket the results come to --out");
            if (!fs::is_regular_file(source, error))
                return Unusable("no file " + options.words[2]);
            out = fs::absolute(options.out.empty() ? "." : options.out, error);
            if (!fs::is_directory(out, error))
                return Unusable("no folder " + out.string() + " for the results");
        } else if (!options.out.empty()) {
            return Unusable("--out is for --socket; a shared-folder job writes into --target-folder");
        }
    }

    const std::unique_ptr<Session> session = Open(options);
    if (!session)
        return kUnusable;
    if (command == "status")
        return Status(*session);
    if (command == "halt")
        return Halt(*session);
    return Export(*session, options, *word, source, options.words[3], out);
}
