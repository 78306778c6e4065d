// Test support for the exchange bridge: memory streams for the stored host document, and one
// sample Book written through the export bridge that both directions are checked against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Plugin/Exchange/DWX_Export.h"

namespace bridge_test {

using Bytes = std::vector<uint8_t>;

// Bytes that do not compress: a fixed pseudo-random sequence.
Bytes Pattern(size_t size, uint32_t seed);
Bytes FileBytes(const std::string& path);

// The host document as the export command hands it over.
class MemorySource final : public KS_DWX::KSInStream {
public:
    explicit MemorySource(Bytes data) : m_data(std::move(data)) {}
    uint32_t read(void* buffer, uint32_t size) override;
    uint32_t size() override { return static_cast<uint32_t>(m_data.size()); }
    std::vector<uint32_t> reads;  // the size asked for by every read

private:
    Bytes m_data;
    size_t m_next = 0;
};

class MemorySink final : public KS_DWX::KSOutStream {
public:
    void write(const void* data, uint32_t count) override;
    Bytes data;
    std::vector<uint32_t> blocks;
};

// What the sample Book holds. Document 0 has a style and two stories:
//   story 0 ("story_type" "layout_cur0", geometry): paragraph 0 ("uniqID" "42") with the runs
//     0 Unicodes "Hello", 1 PlaceHolders {5, none} {7, "anchored_box"}, 2 Multibytes "ab\xFF",
//     3 WideMultibytes {0x85, 0x2000}, 4 SpecialChars {"tabulator", "TempIndent"}
//     {"page_number", "Last"}, 5 RefPoints {3, "start"} {3, "end"} {9, "point"};
//     paragraph 1 (style ref 2) with one Unicodes run of kLongRunUnits units;
//   story 1: one paragraph without runs.
// Document 1 is empty. The stored host documents are 0 (the given bytes) and 7 (empty).
constexpr uint32_t kLongRunUnits = 2500;
std::vector<uint16_t> LongRunText();

// Writes the sample through the export bridge at `path`, releasing the Book first (the
// container is completed by the last release).
void WriteSampleBook(const std::string& path, const Bytes& document0);

// Runs python3 with the script text and the arguments; answers its exit status and output.
int RunPython(const std::string& script, const std::vector<std::string>& args, std::string& out);

} // namespace bridge_test
