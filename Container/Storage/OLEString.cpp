#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "Container/Storage/Errors.h"
#include "Container/Storage/OLEStorage.h"

namespace {

std::string CodePageName(CD_CodePage codePage) {
  // The system code page is UTF-8 here.
  if (codePage == 0 || codePage == 65001)
    return "UTF-8";
  return "CP" + std::to_string(codePage);
}

// Converts `length` bytes; an unconvertible unit becomes `replacement` and conversion goes on.
std::string Convert(const char* to, const char* from, const char* input, size_t length,
                    size_t unitSize, const char* replacement, size_t replacementSize) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1))
    Error(FE_StorageInvalidParameter);
  std::string output;
  char buffer[256];
  char* in = const_cast<char*>(input);
  size_t inLeft = length;
  while (inLeft > 0) {
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    const size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
    output.append(buffer, static_cast<size_t>(out - buffer));
    if (result == static_cast<size_t>(-1) && errno != E2BIG) {
      // An invalid or incomplete sequence: replace one unit of it.
      output.append(replacement, replacementSize);
      const size_t skip = inLeft < unitSize ? inLeft : unitSize;
      in += skip;
      inLeft -= skip;
    }
  }
  iconv_close(cd);
  return output;
}

}  // namespace

OLEString::OLEString(const char* text, CD_CodePage codePage) : m_codePage(codePage) {
  const std::string narrow = text ? text : "";
  static const char16_t kReplacement = u'\uFFFD';
  const std::string bytes =
      Convert("UTF-16LE", CodePageName(codePage).c_str(), narrow.data(), narrow.size(), 1,
              reinterpret_cast<const char*>(&kReplacement), sizeof kReplacement);
  m_wide = std::make_unique<std::u16string>(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < m_wide->size(); ++i)
    (*m_wide)[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                         static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
}

OLEString::OLEString(const char16_t* text, CD_CodePage codePage) : m_codePage(codePage) {
  const std::u16string wide = text ? text : u"";
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (const char16_t unit : wide) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  m_narrow = std::make_unique<std::string>(
      Convert(CodePageName(codePage).c_str(), "UTF-16LE", bytes.data(), bytes.size(), 2, "?", 1));
}

OLEString::operator const char16_t*() const {
  if (!m_wide)
    m_wide = std::make_unique<std::u16string>(*OLEString(m_narrow->c_str(), m_codePage).m_wide);
  return m_wide->c_str();
}

OLEString::operator const char*() const {
  if (!m_narrow)
    m_narrow = std::make_unique<std::string>(*OLEString(m_wide->c_str(), m_codePage).m_narrow);
  return m_narrow->c_str();
}
