// Throughput of the server's file transfer over loopback (127.0.0.1 only): a file sent to a
// client and received from one, plain and deflated, beside the raw throughput of the same
// bytes through a plain TCP socket pair. Prints MB/s and the ratio to the raw figure.
//
// Usage: ServerTransferBench [megabytes] [rounds]   (default 256 and 7); each figure is the median
// of the rounds, each round running every transfer once, and a received file is always a new one.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "SHARED/Server/Connection.h"
#include "platform/sockets/Sockets.h"
#include "client/ProtocolClient.h"

namespace {

constexpr size_t kBlock = ct_Connection::kBlockSize;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double SecondsOnce(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Document-like content: repeated text with some noise, so that deflate has work to do.
std::string MakeContent(size_t size) {
    std::string s;
    s.reserve(size);
    std::mt19937 gen(7);
    const char* words[] = {"translation ", "paragraph ", "story ", "layout ", "box ", "style ", "run "};
    while (s.size() < size) {
        s += words[gen() % 7];
        if (gen() % 16 == 0)
            s += std::to_string(gen());
        if (gen() % 12 == 0)
            s += '\n';
    }
    s.resize(size);
    return s;
}

// The stream as the bytes a client sends for it, coded by the test client that knows the wire
// protocol independently of the server.
std::vector<uint8_t> Blocks(const std::string& stream, uint8_t extraFlags) {
    std::vector<uint8_t> out;
    for (const protocol::Block& block : protocol::EncodeStream(stream, extraFlags))
        out.insert(out.end(), block.begin(), block.end());
    return out;
}

// Reads blocks until the last one; answers the bytes read.
size_t DrainBlocks(sockets::Handle s) {
    std::vector<uint8_t> block(kBlock);
    size_t total = 0;
    for (;;) {
        size_t got = 0;
        while (got < kBlock) {
            const long n = sockets::Receive(s, block.data() + got, kBlock - got);
            if (n <= 0)
                return total;
            got += static_cast<size_t>(n);
        }
        total += kBlock;
        if (block[0] & ct_Connection::kFlagLast)
            return total;
    }
}

struct Loopback {
    ct_Connection conn;
    sockets::Handle client = sockets::kInvalid;
    Loopback() {
        ct_Connection::Limits limits = ct_Connection::GetLimits();
        ct_Connection::SetLimits(limits);
        // Any free port will do; try a few in the dynamic range.
        std::mt19937 gen(std::random_device{}());
        for (int i = 0; i < 50 && conn.GetCurrentStatus() != ct_Connection::ec_ServerUp; ++i)
            conn.startServer(static_cast<uint16_t>(49152 + gen() % 16000));
        client = sockets::ConnectLoopback(conn.GetPort());
        conn.waitForClient();
    }
    ~Loopback() {
        if (client != sockets::kInvalid)
            sockets::Close(client);
    }
};

// The same bytes through a plain TCP socket pair, read into memory.
struct RawPair {
    sockets::Handle l, a, b;
    RawPair() {
        l = sockets::OpenTcp();
        sockets::Bind(l, 0, sockets::kLoopbackAddress);
        sockets::Listen(l, 1);
        a = sockets::ConnectLoopback(sockets::LocalPort(l));
        b = sockets::Accept(l, nullptr, nullptr);
    }
    ~RawPair() {
        sockets::Close(a);
        sockets::Close(b);
        sockets::Close(l);
    }
    double Run(const std::string& data) {
        return SecondsOnce([&] {
            auto reader = std::async(std::launch::async, [&] {
                std::vector<char> buf(kBlock);
                size_t total = 0;
                while (total < data.size()) {
                    const long n = sockets::Receive(b, buf.data(), buf.size());
                    if (n <= 0)
                        break;
                    total += static_cast<size_t>(n);
                }
            });
            for (size_t at = 0; at < data.size(); at += kBlock)
                sockets::SendAll(a, data.data() + at, std::min(kBlock, data.size() - at));
            reader.get();
        });
    }
};

void Report(const char* what, size_t bytes, double seconds, double rawSeconds) {
    const double mbps = static_cast<double>(bytes) / 1e6 / seconds;
    const double raw = static_cast<double>(bytes) / 1e6 / rawSeconds;
    std::printf("%-34s %9.1f MB/s   %5.3f of raw\n", what, mbps, mbps / raw);
}

} // namespace

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const size_t size = megabytes << 20;
    const auto dir = std::filesystem::temp_directory_path() / ("kesto-srv-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string source = (dir / "source").string();
    const std::string target = (dir / "target").string();

    const std::string data = MakeContent(size);
    std::ofstream(source, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    const std::vector<uint8_t> plainBlocks = Blocks(data, 0);
    const std::string deflated = protocol::Deflate(data, 1);
    const std::vector<uint8_t> deflatedBlocks = Blocks(deflated, ct_Connection::kFlagDeflated);

    // Every figure once per round, the raw pair first; medians of the rounds.
    RawPair rawPair;
    Loopback plainLoop, deflatedLoop;
    const char* const names[] = {"send, plain", "receive, plain (to a new file)", "send, deflated (level 1)",
                                 "receive, deflated (to a new file)"};
    std::vector<double> raws, times[4];
    for (int round = 0; round < rounds; ++round) {
        raws.push_back(rawPair.Run(data));
        for (bool compressed : {false, true}) {
            Loopback& lb = compressed ? deflatedLoop : plainLoop;
            times[compressed ? 2 : 0].push_back(SecondsOnce([&] {
                auto reader = std::async(std::launch::async, [&] { return DrainBlocks(lb.client); });
                if (compressed)
                    lb.conn.SendFileDataCompressed(source, 1);
                else
                    lb.conn.SendFileData(source);
                reader.get();
            }));
            const std::vector<uint8_t>& wire = compressed ? deflatedBlocks : plainBlocks;
            std::filesystem::remove(target);
            times[compressed ? 3 : 1].push_back(SecondsOnce([&] {
                auto writer = std::async(std::launch::async, [&] { sockets::SendAll(lb.client, wire.data(), wire.size()); });
                bool wasCompressed = false;
                if (!lb.conn.ReceiveFileData(target, wasCompressed) || wasCompressed != compressed)
                    std::fprintf(stderr, "receive failed\n");
                writer.get();
            }));
            if (std::filesystem::file_size(target) != size)
                std::fprintf(stderr, "received file has the wrong size\n");
        }
    }
    const double raw = Median(raws);
    std::vector<std::pair<const char*, double>> rows;
    for (int k = 0; k < 4; ++k)
        rows.emplace_back(names[k], Median(times[k]));

    std::printf("\nFile transfer over 127.0.0.1, %zu MiB (deflated stream: %.1f MiB), median of %d rounds\n",
                megabytes, static_cast<double>(deflated.size()) / (1 << 20), rounds);
    Report("raw socket pair, same bytes", size, raw, raw);
    for (const auto& [what, seconds] : rows)
        Report(what, size, seconds, raw);
    std::filesystem::remove_all(dir);
    return 0;
}
