#include "ModelDump.h"

#include "Container/Storage/OLEStorage.h"
#include "Container/Storage/Variant.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

namespace model_test {

namespace {

struct Collect : IdentifierReceiver {
  std::vector<std::pair<std::string, uint32_t>> items;
  bool operator()(const char* name, uint32_t tag) override {
    items.emplace_back(name, tag);
    return true;
  }
};

Bytes ReadAll(InStream& stream) {
  Bytes all;
  uint8_t buffer[4096];
  for (;;) {
    const uint32_t got = stream.GetData(buffer, sizeof buffer);
    all.insert(all.end(), buffer, buffer + got);
    if (got < sizeof buffer) return all;
  }
}

uint64_t Little(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= uint64_t(p[i]) << (8 * i);
  return v;
}

void Quote(std::ostringstream& out, const std::u16string& text) {
  out << '"';
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out << static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", unsigned(c));
      out << escape;
    }
  }
  out << '"';
}

// The folder at `path` below `root`; null when a step is absent. A folder needs only its code
// file, not its parent, so the steps in between can go.
std::unique_ptr<CF_EnumerableInFolder> Descend(CF_EnumerableInFolder& root, const FolderPath& path) {
  std::unique_ptr<CF_EnumerableInFolder> current;
  for (const auto& [name, index] : path) {
    current = (current ? *current : root).OpenEnumerableFolder(name.c_str(), index);
    if (!current) return nullptr;
  }
  return current;
}

}  // namespace

std::string DecodeFieldStream(const Bytes& bytes) {
  static const char* const kNames[] = {"raw",    "bool",  "char",   "uchar",  "short",
                                       "ushort", "long",  "ulong",  "float",  "double",
                                       "string", "wstring", "variant"};
  std::ostringstream out;
  if (bytes.size() < 2) return "<no type code>";
  const unsigned code = unsigned(Little(bytes.data(), 2));
  if (code > 12) return "<type code " + std::to_string(code) + ">";
  out << kNames[code];
  size_t at = 2;
  static const size_t kWidths[] = {1, 1, 1, 1, 2, 2, 4, 4, 4, 8};
  while (at < bytes.size()) {
    out << ' ';
    const uint8_t* p = bytes.data() + at;
    const size_t left = bytes.size() - at;
    if (code <= 9) {
      const size_t w = kWidths[code];
      if (left < w) return out.str() + "<cut>";
      const uint64_t v = Little(p, w);
      switch (code) {
        case 0: { char hex[4]; std::snprintf(hex, sizeof hex, "%02X", unsigned(v)); out << hex; break; }
        case 1: out << (v ? "true" : "false"); break;
        case 2: out << int(int8_t(v)); break;
        case 3: out << unsigned(v); break;
        case 4: out << int16_t(v); break;
        case 5: out << uint16_t(v); break;
        case 6: out << int32_t(v); break;
        case 7: out << uint32_t(v); break;
        case 8: { uint32_t b = uint32_t(v); float f; std::memcpy(&f, &b, 4); out << f; break; }
        default: { double d; std::memcpy(&d, &v, 8); out << d; break; }
      }
      at += w;
    } else if (code == 10 || code == 11) {
      if (left < 2) return out.str() + "<cut>";
      const size_t count = size_t(Little(p, 2)) * (code == 11 ? 2 : 1);
      if (left - 2 < count) return out.str() + "<cut>";
      std::u16string text;
      for (size_t i = 0; i < count; i += code == 11 ? 2 : 1)
        text += char16_t(code == 11 ? Little(p + 2 + i, 2) : p[2 + i]);
      Quote(out, text);
      at += 2 + count;
    } else {
      struct Source : InStream {
        const uint8_t* p; size_t n; size_t used = 0;
        uint32_t GetData(void* b, uint32_t c) override {
          const size_t take = std::min<size_t>(c, n - used);
          std::memcpy(b, p + used, take);
          used += take;
          return uint32_t(take);
        }
      } source;
      source.p = p;
      source.n = left;
      Variant value;
      if (!(value << source)) return out.str() + "<cut>";
      out << "variant(" << std::hex << value.Type() << std::dec << ")";
      at += source.used;
    }
  }
  return out.str();
}

std::string DumpFolder(CF_EnumerableInFolder& folder, int depth) {
  std::ostringstream out;
  const std::string indent(size_t(depth) * 2, ' ');
  Collect streams;
  folder.EnumerateStreams(streams);
  std::sort(streams.items.begin(), streams.items.end());
  for (const auto& [name, tag] : streams.items) {
    auto stream = folder.OpenStream(name.c_str(), tag);
    out << indent << name;
    if (tag) out << " tag " << tag;
    out << " : " << (stream ? DecodeFieldStream(ReadAll(*stream)) : "<unreadable>") << '\n';
  }
  Collect folders;
  folder.EnumerateFolders(folders);
  for (const auto& [name, index] : folders.items) {
    out << indent << name << " [" << int32_t(index) << "]\n";
    if (auto sub = folder.OpenEnumerableFolder(name.c_str(), int32_t(index)))
      out << DumpFolder(*sub, depth + 1);
  }
  return out.str();
}

std::string DumpCodeFile(std::unique_ptr<CF_Medium> medium) {
  auto file = OpenEnumerableCodeFile(std::move(medium));
  auto root = OpenEnumerableCodeFolder(*file);
  return DumpFolder(*root);
}

std::string DumpCodeFile(OLEStorage& storage) {
  auto file = OpenEnumerableCodeFile(storage);
  auto root = OpenEnumerableCodeFolder(*file);
  return DumpFolder(*root);
}

Bytes StreamBytes(std::unique_ptr<CF_Medium> medium, const FolderPath& path, const char* stream,
                  bool* found) {
  auto file = OpenEnumerableCodeFile(std::move(medium));
  auto root = OpenEnumerableCodeFolder(*file);
  auto folder = path.empty() ? nullptr : Descend(*root, path);
  CF_EnumerableInFolder* at = path.empty() ? root.get() : folder.get();
  auto in = at ? at->OpenStream(stream, 0) : nullptr;
  if (found) *found = in != nullptr;
  return in ? ReadAll(*in) : Bytes();
}

Bytes TableBytes(std::unique_ptr<CF_Medium> medium, const FolderPath& path) {
  auto file = OpenEnumerableCodeFile(std::move(medium));
  // The table of the folder with prefix P is the unfolded code-file stream P + 0x02; find the
  // prefix by following the parent tables.
  std::string prefix;
  for (const auto& [name, index] : path) {
    auto tableStream = file->OpenStream((prefix + '\x02').c_str(), 0);
    const Bytes table = tableStream ? ReadAll(*tableStream) : Bytes();
    size_t p = 0;
    bool matched = false;
    while (p + 4 <= table.size()) {
      const size_t length = size_t(Little(&table[p], 4));
      if (length == 0 || table.size() - p < 12 + length) break;
      const std::string entry(reinterpret_cast<const char*>(&table[p + 4]), length - 1);
      const int32_t entryIndex = int32_t(Little(&table[p + 4 + length], 4));
      const uint32_t number = uint32_t(Little(&table[p + 8 + length], 4));
      p += 12 + length;
      if (entry == name && entryIndex == index) {
        char digits[12];
        std::snprintf(digits, sizeof digits, "%X", number);
        prefix += '\x01';
        prefix += digits;
        matched = true;
        break;
      }
    }
    if (!matched) return Bytes();
  }
  auto stream = file->OpenStream((prefix + '\x02').c_str(), 0);
  return stream ? ReadAll(*stream) : Bytes();
}

Bytes LongStream(const std::vector<int32_t>& values) {
  Bytes bytes{6, 0};
  for (int32_t v : values)
    for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(uint32_t(v) >> (8 * i)));
  return bytes;
}

Bytes WideStringStream(const std::vector<std::u16string>& values) {
  Bytes bytes{11, 0};
  for (const auto& text : values) {
    bytes.push_back(uint8_t(text.size()));
    bytes.push_back(uint8_t(text.size() >> 8));
    for (char16_t c : text) {
      bytes.push_back(uint8_t(c));
      bytes.push_back(uint8_t(c >> 8));
    }
  }
  return bytes;
}

}  // namespace model_test
