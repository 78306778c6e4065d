// The host's PDF output styles: the built-in default and those read from output-style XML
// files. What the PDF writer takes from a style: its name and output media (for the look-up),
// the document information, the picture resolutions and the page options; the rest of the
// file is kept as it came.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace xthost::doc {

struct OutputStyle {
    std::string name;
    std::string media;  // "XPDF"
    std::string title, author, subject, keywords;
    // Picture resolutions in 16.16 dots per inch.
    int32_t colourResolution = 72 << 16;
    int32_t grayResolution = 72 << 16;
    int32_t monoResolution = 144 << 16;
    bool spreads = false;           // one PDF page per spread
    bool includeBlankPages = true;  // pages without boxes stay
    std::string xml;                // the file as read
};

// The name of the style the host has built in for "XPDF".
extern const char* const kDefaultPdfStyleName;
// Files above this size are refused before parsing.
constexpr size_t kMaxOutputStyleBytes = 1 << 20;

// Reads one output style. Refuses (false, with the reason) malformed XML, a document type
// declaration, nesting deeper than 64, a root other than OutputStyle, a missing Name or
// OutputMedia, and a resolution that is not a number from 1 to 4800 dpi.
bool ParseOutputStyle(const std::string& xml, OutputStyle* style, std::string* error);

class OutputStyles {
public:
    static constexpr uint8_t kTag = 0x0A;  // handle tag of an output style

    OutputStyles();

    // Adds a style under the name in its file; HostErr::DuplicateName when that name is
    // listed, HostErr::NotADocument when the file is not an output style.
    int32_t Import(const std::string& xml, std::string* error);
    // The handle of a style by exact name, 0 when none.
    int32_t Find(const std::string& name) const;
    // The host's default style for an output media ("XPDF"), 0 for another media.
    int32_t Default(const std::string& media) const;
    const OutputStyle* Get(int32_t handle) const;
    // Removes a style as a user would; the built-in style stays.
    bool Remove(const std::string& name);
    std::vector<std::string> Names() const;

private:
    int32_t Add(OutputStyle style);
    std::map<int32_t, OutputStyle> styles_;  // by handle, in the order added
    uint32_t serial_ = 0;
};

}  // namespace xthost::doc
