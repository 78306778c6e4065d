// The module's PDF output styles and its answer to the host's PDF export hook.
//
// Three styles of the module ("Kesto High", "Kesto Medium", "Kesto Low") are output-style files
// written to the host's temporary folder and registered with the host; "Default" stands for the
// host's own default PDF style. While a PDF creation runs, the hook hands the host the current
// job's PDF name and the style that the setting pdfOutputStyle chooses.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/xtapi/XTAPI.h"

// Index of a PDF output style; the setting pdfOutputStyle holds one.
enum PdfOutputStyle : int32_t {
    PdfStyleDefault = 0,
    PdfStyleHigh = 1,
    PdfStyleMedium = 2,
    PdfStyleLow = 3,
};
constexpr int32_t kPdfOutputStyleCount = 4;

// "Default", "High", "Medium", "Low".
extern const char* const PdfOutputStyleNames[kPdfOutputStyleCount];
// The prefix of the module's style names in the host.
constexpr char PdfOutputStylePrefix[] = "Kesto ";

// One output-style file of the module: the style's name in the host, the PDF title, the
// compression of colour and grey pictures and the 16.16 resolution of monochrome pictures.
std::string BuildPdfOutputStyle(const std::string& name, const std::string& title, const std::string& compression,
                                const std::string& monochromeResolution);
// The file text of a style; empty for "Default" and for an index out of range.
std::string PdfOutputStyleTemplate(int32_t style);
// "KS_PdfStyle_" + name + ".xml"; empty for an index out of range.
std::string PdfOutputStyleFileName(int32_t style);

// Writes the style's file into the host's temporary folder and registers it with the host;
// true when the registration answered 0. Failures to find the folder or to write the file are
// told in message box 22100.
bool InstallPdfOutputStyle(int32_t style);
// Registers the output-style file at path with the host unless a style of that name is listed
// already (which answers 0 as well); otherwise answers the host's code.
int32_t ImportPdfOutputStyle(const std::string& path, const std::string& name);
// Whether the host lists an output style of that name.
bool PdfOutputStyleExists(const std::string& name);
// Makes the style the one of the PDF export under way: 0 the host's default PDF style, 1 to 3
// the module's style (the default when the host no longer lists it). Answers 12 for an index
// above 3, else the host's code.
int32_t SelectPdfOutputStyle(int32_t style);
