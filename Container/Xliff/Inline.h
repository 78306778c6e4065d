// The inline content of a unit: text and codes, as the source of a paragraph gives it and as an
// XLIFF's source or target holds it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kesto::xliff {

struct Token {
  enum Type : uint8_t {
    Text,    // text
    Open,    // a paired code opens (XLIFF 1.2 g or bx, XLIFF 2.1 pc or sc)
    Close,   // it closes (the end of g or pc, XLIFF 1.2 ex, XLIFF 2.1 ec)
    Single,  // a standalone code (XLIFF 1.2 x, XLIFF 2.1 ph)
  };
  Type type = Text;
  std::u16string text;  // Text: the characters; otherwise the code's id
};

using Tokens = std::vector<Token>;

// Appends text, joining it to a text token at the end.
void AppendText(Tokens& tokens, const std::u16string& text);
void AppendText(Tokens& tokens, char16_t c);

// Whether the tokens hold a character that is not white space.
bool HasText(const Tokens& tokens);

// Whether a and b hold the same text and the same codes in the same places.
bool SameContent(const Tokens& a, const Tokens& b);

}  // namespace kesto::xliff
