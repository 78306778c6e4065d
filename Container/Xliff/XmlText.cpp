#include "Container/Xliff/XmlText.h"

namespace kesto::xliff {

namespace {

void PutUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// The code point at text[i], advancing i; a lone surrogate answers U+FFFD.
uint32_t Next(const std::u16string& text, size_t& i) {
  const uint32_t c = text[i++];
  if (c >= 0xD800 && c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
    return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
  if (c >= 0xD800 && c <= 0xDFFF) return 0xFFFD;
  return c;
}

}  // namespace

void AppendEscaped(std::string& out, const std::u16string& text, bool attribute) {
  for (size_t i = 0; i < text.size();) {
    uint32_t c = Next(text, i);
    switch (c) {
      case '&': out += "&amp;"; continue;
      case '<': out += "&lt;"; continue;
      case '>': out += "&gt;"; continue;
      case '\r': out += "&#13;"; continue;
      case '"':
        out += attribute ? "&quot;" : "\"";
        continue;
      case '\t':
        out += attribute ? "&#9;" : "\t";
        continue;
      case '\n':
        out += attribute ? "&#10;" : "\n";
        continue;
      default: break;
    }
    if ((c < 0x20) || c == 0xFFFE || c == 0xFFFF) c = 0xFFFD;
    PutUtf8(out, c);
  }
}

void AppendEscaped(std::string& out, const std::string& utf8, bool attribute) {
  AppendEscaped(out, ToUtf16(utf8), attribute);
}

std::u16string ToUtf16(const char* s, size_t length) {
  std::u16string out;
  out.reserve(length);
  for (size_t i = 0; i < length;) {
    const auto b = static_cast<unsigned char>(s[i]);
    uint32_t c = 0xFFFD;
    size_t more = 0;
    if (b < 0x80) c = b;
    else if ((b & 0xE0) == 0xC0) c = b & 0x1F, more = 1;
    else if ((b & 0xF0) == 0xE0) c = b & 0x0F, more = 2;
    else if ((b & 0xF8) == 0xF0) c = b & 0x07, more = 3;
    ++i;
    for (; more > 0; --more) {
      if (i >= length || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
        c = 0xFFFD;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    }
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      out += char16_t(0xD800 + (c >> 10));
      out += char16_t(0xDC00 + (c & 0x3FF));
    } else {
      out += char16_t(c > 0x10FFFF ? 0xFFFD : c);
    }
  }
  return out;
}

std::u16string ToUtf16(const std::string& utf8) { return ToUtf16(utf8.data(), utf8.size()); }

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) PutUtf8(out, Next(text, i));
  return out;
}

}  // namespace kesto::xliff
