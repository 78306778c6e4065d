// Joins text flow, geometry and PDF output to the host: suite slots, the component XPDF with
// callback 681, the output-style registry of the session, "xthost doc lines" and "doc pdf".
#pragma once

#include <string>
#include <vector>

#include "platform/host/HostExtensions.h"
#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/OutputStyles.h"

namespace xthost {

// How a PDF is named from the file the hook gives: "x" becomes "x.pdf" (append, the
// default) or stays "x" (as-given).
enum class PdfNaming { Append, AsGiven };

// The PDF state of a host session.
struct PdfSession {
    doc::OutputStyles styles;
    PdfNaming naming = PdfNaming::Append;
    // The export under way: what callback 681 chose.
    bool exporting = false;
    bool fileSet = false;
    std::string file;
    int32_t style = 0;
};
PdfSession& PdfOf(Host& host);

// Registers the slots, the component entries and the verbs; docsOf gives a host's documents.
void RegisterTextFlowAndPdf(HostExtensions& extensions, doc::DocHost& (*docsOf)(Host&));

// "xthost doc lines FILE" and "xthost doc pdf FILE OUT [STYLE.xml] [--naming append|as-given]".
int TextFlowDocCommand(const std::vector<std::string>& args);

// The usage of "xthost doc", every verb with its arguments, written on a usage error of any.
int DocUsageError();

}  // namespace xthost
