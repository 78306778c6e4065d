// The text-flow, geometry and PDF part of the host's extension interface: line records,
// bounding boxes, the view's limits, output styles and the PDF export of the component XPDF.
#pragma once

#include <cstdint>

#include "platform/host/documents/XTDocSuites.h"

// ---- Line records and geometry ------------------------------------------------------------
// 64-byte line records (16 little-endian words: start, length, top, left, measure, height,
// baseline, box, paragraph, flags, largest size, space before, 4 reserved). Overflowing text
// ends the table with a record whose height word is 0x7CCCCCCC. With a null buffer, size
// answers the bytes needed; otherwise size is the room in and the bytes written out.
XT_SLOT(XTY_LineRecords, XT_SUITE_XTY, 21, int32_t (*)(XTHandle box, uint8_t* records, int32_t* size));
XT_SLOT(XTY_RangeLineRecords, XT_SUITE_XTY, 120, int32_t (*)(XTHandle text, int32_t start, int32_t end, uint8_t* records, int32_t* size));
XT_SLOT(XBY_ObstacleBounds, XT_SUITE_XBY, 47, int32_t (*)(XTHandle box, XTRect* bounds));  // "fgetobsbbox"
XT_SLOT(XBY_Bounds, XT_SUITE_XBY, 48, int32_t (*)(XTHandle box, XTRect* bounds));          // "fgetbbox"
XT_SLOT(XBG_BoxFlag, XT_SUITE_XBG, 11, int32_t (*)(XTHandle box, uint8_t* flag));          // no reflow
// The limit rectangle of the current view: document -> view -> current box -> its spread ->
// its page (-1 off the pages: the whole spread) -> the page's bounds; XFS 9 and XSQ 9 answer
// a box's limits in one call.
XT_SLOT(XDD_ViewOfDocument, XT_SUITE_XDD, 66, int32_t (*)(XTHandle doc, XTHandle* view));
XT_SLOT(XDD_ViewCurrentBox, XT_SUITE_XDD, 76, int32_t (*)(XTHandle view, XTHandle* box));
XT_SLOT(XDD_SpreadOfBox, XT_SUITE_XDD, 74, int32_t (*)(XTHandle box, XTHandle* spread));
XT_SLOT(XPH_PageIndexOfBox, XT_SUITE_XPH, 22, int32_t (*)(XTHandle spread, XTHandle box, int16_t* index));
XT_SLOT(XPH_PageBounds, XT_SUITE_XPH, 7, int32_t (*)(XTHandle spread, int16_t index, XTRect* bounds));
XT_SLOT(XFS_LimitRect, XT_SUITE_XFS, 9, int32_t (*)(XTHandle box, XTRect* limits));
XT_SLOT(XSQ_LimitRect, XT_SUITE_XSQ, 9, int32_t (*)(XTHandle box, XTRect* limits));

// ---- PDF (component XPDF) -----------------------------------------------------------------
// The record of callback 681: a PDF export asks for its file and style (request 3).
struct xtpdfoutputrec {
    int32_t kind;      // XT_CB_PDFOUTPUT
    int32_t reserved;
    int32_t request;   // 3: the PDF file and the output style
};
enum : int32_t { XT_PDF_REQUEST_FILE_AND_STYLE = 3 };

enum : int {
    XT_PDF_EXPORT = 1,          // (doc, media 'XPDF', 0xFFFF): fires 681, then writes
    XT_PDF_STYLE_CONTEXT = 2,   // (XTHandle* context)
    XT_PDF_FIND_STYLE = 3,      // (context, name, XTHandle* style): 0 when none
    XT_PDF_IMPORT_STYLE = 4,    // (context, file reference): adds the file's style
    XT_PDF_DEFAULT_STYLE = 5,   // (context, media, XTHandle* style)
    XT_PDF_SELECT_STYLE = 6,    // (style): the style of the export under way
    XT_PDF_SET_FILE = 7,        // (hook record, file reference or 0 = none): the PDF file
    XT_PDF_ENTRIES = 8,
};
using XTPdfExportFn = int32_t (*)(XTHandle doc, uint32_t media, int32_t pages);
using XTPdfStyleContextFn = int32_t (*)(XTHandle* context);
using XTPdfFindStyleFn = int32_t (*)(XTHandle context, const char* name, XTHandle* style);
using XTPdfImportStyleFn = int32_t (*)(XTHandle context, XTHandle fileRef);
using XTPdfDefaultStyleFn = int32_t (*)(XTHandle context, uint32_t media, XTHandle* style);
using XTPdfSelectStyleFn = int32_t (*)(XTHandle style);
using XTPdfSetFileFn = int32_t (*)(xtpdfoutputrec* rec, XTHandle fileRef);
