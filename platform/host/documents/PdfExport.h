// PDF output of a layout: cairo's PDF surface, text drawn by pango one line record at a time
// (so the PDF agrees with the line records), pictures as checker placeholders at the style's
// resolution, the document information from the output style.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/host/documents/Model.h"
#include "platform/host/documents/OutputStyles.h"

namespace xthost::doc {

struct PdfReport {
    int32_t pages = 0;
    std::vector<std::string> substitutions;  // "Helvetica -> DejaVu Sans"
    // What each written page shows: the text of each line drawn on it, as pango set it, and a
    // line feed after each.
    std::vector<std::string> pageText;
    std::string error;
};

// Points fontconfig at the host's own fonts configuration (platform/host/fonts/fonts.conf)
// with its cache under tempFolder, unless FONTCONFIG_FILE is set already. Call before the
// first drawing; later calls change nothing.
void UseHostFonts(const std::string& tempFolder);

// The corner of the shapes 6 to 8 (16.16): an eighth of the box's shorter side.
int32_t ShapeCorner(const Box& box);

// Writes the PDF of the layout to path (through a temporary file: a failure leaves no file).
// title is used when the style names none. Answers HostErr::Ok or HostErr::WriteFailed.
int32_t WritePdf(const Project& project, const Layout& layout, const OutputStyle& style,
                 const std::string& path, const std::string& title, std::time_t date, PdfReport* report);

// "<name>_pdf.log": the style, the page count and the substituted fonts.
bool WritePdfLog(const std::string& path, const OutputStyle& style, const PdfReport& report);

}  // namespace xthost::doc
