#include "Plugin/Shell/DialogTemplates.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace {

constexpr int32_t kEnglish = 1033;
constexpr int32_t kRussian = 1049;
constexpr int32_t kNone = XT_ITEM_UNADDRESSED;

constexpr uint32_t kFrame = XT_DLG_CAPTION | XT_DLG_SYSMENU | XT_DLG_MODALFRAME;
constexpr uint32_t kReadOnlyEdit = XT_ITEM_READONLY | XT_ITEM_BORDER | XT_ITEM_HSCROLL;

constexpr const char* kResultFont = "Microsoft Sans Serif";
constexpr const char* kAlertFont = "MS Sans Serif";
constexpr const char* kFolderFont = "MS Shell Dlg";

// The system's stop icon.
constexpr const char* kStopIcon = "32513";

constexpr XTDialogItemTemplate Item(int32_t id, XTItemKind kind, uint32_t flags, const char* text,
                                    int16_t x, int16_t y, int16_t w, int16_t h)
{
    return XTDialogItemTemplate{id, kind, flags, text, nullptr, x, y, w, h};
}

// ---- Result dialogs, the save question and "Opening..." -------------------------------------

#define KS_RESULT_ITEMS(name, text)                                                           \
    constexpr XTDialogItemTemplate name[] = {                                                 \
        Item(1, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "OK", 48, 36, 50, 14),                       \
        Item(kNone, XT_ITEM_STATIC, XT_ITEM_CENTERED, text, 18, 12, 111, 14),                 \
    }
KS_RESULT_ITEMS(kExportDoneItems, "Export done");
KS_RESULT_ITEMS(kExportFailedItems, "Export failed");
KS_RESULT_ITEMS(kImportDoneItems, "Import done");
KS_RESULT_ITEMS(kImportFailedItems, "Import failed");
#undef KS_RESULT_ITEMS

constexpr XTDialogItemTemplate kSaveChangesItems[] = {
    Item(2, XT_ITEM_BUTTON, 0, "Cancel Export", 96, 30, 48, 14),
    Item(kNone, XT_ITEM_STATIC, XT_ITEM_CENTERED, "File was changed. Save it?", 37, 7, 90, 18),
    Item(1, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "Save File", 23, 30, 48, 14),
};

constexpr XTDialogItemTemplate kOpeningItems[] = {
    Item(kNone, XT_ITEM_STATIC, XT_ITEM_CENTERED | XT_ITEM_SUNKEN, "Opening...", 4, 7, 71, 12),
};

// ---- Alerts and the progress dialog ----------------------------------------------------------

constexpr XTDialogItemTemplate kStopAlertItems[] = {
    Item(4, XT_ITEM_ICON, 0, kStopIcon, 7, 17, 21, 20),
    Item(5, XT_ITEM_STATIC, 0, "^0^1^2", 63, 21, 149, 16),
    Item(6, XT_ITEM_STATIC, XT_ITEM_NOPREFIX, "^3", 47, 41, 127, 24),
    Item(1, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "OK", 75, 52, 71, 14),
};

constexpr XTDialogItemTemplate kQuestionAlertItems[] = {
    Item(4, XT_ITEM_ICON, 0, kStopIcon, 7, 7, 21, 20),
    Item(5, XT_ITEM_STATIC, 0, "^0^1^2", 47, 7, 235, 16),
    Item(6, XT_ITEM_STATIC, 0, "^3", 47, 33, 235, 24),
    Item(1, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "Cancel", 169, 63, 100, 14),
    Item(2, XT_ITEM_BUTTON, 0, "Continue", 41, 63, 100, 14),
};

constexpr XTDialogItemTemplate kProgressItems[] = {
    XTDialogItemTemplate{1, XT_ITEM_PROGRESS, XT_ITEM_BORDER, "Progress4", "msctls_progress32", 0, 18, 268, 16},
    Item(2, XT_ITEM_STATIC, XT_ITEM_VCENTERED, "^0", 3, 3, 253, 13),
};

// ---- Folder-run dialogs ----------------------------------------------------------------------

constexpr XTDialogItemTemplate kSourceFolderItems[] = {
    Item(1004, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "OK", 43, 75, 50, 14),
    Item(1005, XT_ITEM_BUTTON, 0, "Cancel", 108, 75, 50, 14),
    Item(1001, XT_ITEM_CHECKBOX, 0, "Generate DWQ files", 24, 29, 76, 10),
    Item(1002, XT_ITEM_CHECKBOX, 0, "Generate PDF files", 24, 49, 75, 10),
};

constexpr XTDialogItemTemplate kDwqTargetItems[] = {
    Item(1004, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "Export", 139, 77, 50, 14),
    Item(1005, XT_ITEM_BUTTON, 0, "Cancel", 223, 77, 50, 14),
    Item(1008, XT_ITEM_BUTTON, 0, "...", 361, 45, 27, 12),
    Item(1009, XT_ITEM_EDIT, kReadOnlyEdit, "", 23, 45, 324, 12),
    Item(kNone, XT_ITEM_STATIC, 0, "Target folder for DWQ files", 23, 33, 84, 8),
};

constexpr XTDialogItemTemplate kPdfTargetItems[] = {
    Item(1004, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "Export", 139, 77, 50, 14),
    Item(1005, XT_ITEM_BUTTON, 0, "Cancel", 223, 77, 50, 14),
    Item(1007, XT_ITEM_BUTTON, 0, "...", 361, 45, 27, 12),
    Item(1006, XT_ITEM_EDIT, kReadOnlyEdit, "", 23, 45, 324, 12),
    Item(kNone, XT_ITEM_STATIC, 0, "Target folder for PDF files", 23, 33, 84, 8),
};

constexpr XTDialogItemTemplate kDwqPdfTargetItems[] = {
    Item(1004, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "Export", 139, 123, 50, 14),
    Item(1005, XT_ITEM_BUTTON, 0, "Cancel", 223, 123, 50, 14),
    Item(1012, XT_ITEM_BUTTON, 0, "...", 361, 45, 27, 12),
    Item(1010, XT_ITEM_EDIT, kReadOnlyEdit, "", 22, 45, 324, 12),
    Item(kNone, XT_ITEM_STATIC, 0, "Target folder for DWQ files", 22, 33, 84, 8),
    Item(1013, XT_ITEM_BUTTON, 0, "...", 360, 88, 27, 12),
    Item(1011, XT_ITEM_EDIT, kReadOnlyEdit, "", 22, 88, 324, 12),
    Item(kNone, XT_ITEM_STATIC, 0, "Target folder for PDF files", 22, 76, 84, 8),
};

constexpr XTDialogItemTemplate kImportFoldersItems[] = {
    Item(1023, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "Import", 139, 123, 50, 14),
    Item(1022, XT_ITEM_BUTTON, 0, "Cancel", 223, 123, 50, 14),
    Item(1002, XT_ITEM_BUTTON, 0, "...", 361, 45, 27, 12),
    Item(1003, XT_ITEM_EDIT, kReadOnlyEdit, "", 22, 45, 324, 12),
    Item(kNone, XT_ITEM_STATIC, 0, "Source folder with DWQ files", 22, 33, 89, 8),
    Item(1005, XT_ITEM_EDIT, kReadOnlyEdit, "", 22, 88, 324, 12),
    Item(kNone, XT_ITEM_STATIC, 0, "Target folder for QXP files", 22, 76, 84, 8),
    Item(1004, XT_ITEM_BUTTON, 0, "...", 361, 88, 27, 12),
};

#define KS_OVERWRITE_ITEMS(name, yes, no, cancel, kind)                                        \
    constexpr XTDialogItemTemplate name[] = {                                                  \
        Item(yes, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "Yes", 22, 69, 50, 14),                     \
        Item(cancel, XT_ITEM_BUTTON, 0, "Cancel", 153, 69, 50, 14),                            \
        Item(no, XT_ITEM_BUTTON, 0, "No", 88, 69, 50, 14),                                     \
        Item(kNone, XT_ITEM_STATIC, 0, "Target folder already contains " kind " files.", 22, 24, 150, 8), \
        Item(kNone, XT_ITEM_STATIC, 0, "Do you want to overwrite existing " kind " files?", 22, 42, 150, 8), \
    }
KS_OVERWRITE_ITEMS(kOverwriteDwqItems, 1020, 1005, 1021, "DWQ");
KS_OVERWRITE_ITEMS(kOverwritePdfItems, 1014, 1015, 1016, "PDF");
KS_OVERWRITE_ITEMS(kOverwriteQxpItems, 1017, 1018, 1019, "QXP");
#undef KS_OVERWRITE_ITEMS

// ---- The table -------------------------------------------------------------------------------

template <std::size_t N>
constexpr XTDialogTemplate Template(int32_t resId, int32_t language, const char* title,
                                    const char* font, int16_t points, int16_t x, int16_t y,
                                    int16_t width, int16_t height, uint32_t style,
                                    const XTDialogItemTemplate (&items)[N])
{
    return XTDialogTemplate{resId, language, title, font, points, x, y, width, height, style,
                            items, static_cast<int32_t>(N)};
}

// Sorted by resource id.
constexpr XTDialogTemplate kTemplates[] = {
    Template(101, kEnglish, "Result", kResultFont, 10, 0, 0, 148, 69, kFrame, kExportDoneItems),
    Template(103, kEnglish, "Result", kResultFont, 10, 0, 0, 148, 69, kFrame, kImportDoneItems),
    Template(104, kEnglish, "Result", kResultFont, 10, 0, 0, 148, 69, kFrame, kImportFailedItems),
    Template(105, kEnglish, "", kResultFont, 10, 0, 0, 168, 53, kFrame, kSaveChangesItems),
    Template(106, kEnglish, "", kResultFont, 10, 0, 0, 79, 27, XT_DLG_POPUP | XT_DLG_SYSMENU,
             kOpeningItems),
    Template(107, kEnglish, "Target folder for DWQ", kFolderFont, 8, 0, 0, 413, 106, kFrame,
             kDwqTargetItems),
    Template(108, kEnglish, "Export Current Source Folder", kFolderFont, 8, 0, 0, 200, 103, kFrame,
             kSourceFolderItems),
    Template(111, kEnglish, "Overwrite files?", kFolderFont, 8, 0, 0, 225, 98, kFrame,
             kOverwriteDwqItems),
    Template(112, kEnglish, "Result", kResultFont, 10, 0, 0, 148, 69, kFrame, kExportFailedItems),
    Template(113, kEnglish, "Target folder for PDF", kFolderFont, 8, 0, 0, 413, 106, kFrame,
             kPdfTargetItems),
    Template(114, kEnglish, "Target folder for DWQ/PDF", kFolderFont, 8, 0, 0, 413, 153, kFrame,
             kDwqPdfTargetItems),
    Template(115, kEnglish, "Import Verbant Files", kFolderFont, 8, 0, 0, 413, 153, kFrame,
             kImportFoldersItems),
    Template(116, kEnglish, "Overwrite files?", kFolderFont, 8, 0, 0, 225, 98, kFrame,
             kOverwritePdfItems),
    Template(117, kEnglish, "Overwrite files?", kFolderFont, 8, 0, 0, 225, 98, kFrame,
             kOverwriteQxpItems),
    Template(22100, kRussian, "", kAlertFont, 8, 50, 50, 221, 70,
             XT_DLG_VISIBLE | XT_DLG_POPUP | XT_DLG_CAPTION | XT_DLG_MODALFRAME, kStopAlertItems),
    Template(22200, kRussian, "", kAlertFont, 8, 0, 0, 297, 79,
             XT_DLG_VISIBLE | XT_DLG_POPUP | XT_DLG_MODALFRAME, kQuestionAlertItems),
    Template(22300, kRussian, "", kAlertFont, 8, 0, 0, 268, 34,
             XT_DLG_VISIBLE | XT_DLG_SYSMODAL | XT_DLG_POPUP | XT_DLG_MODALFRAME, kProgressItems),
};

constexpr bool SortedById()
{
    for (std::size_t i = 1; i < sizeof kTemplates / sizeof kTemplates[0]; ++i)
        if (kTemplates[i - 1].resId >= kTemplates[i].resId)
            return false;
    return true;
}
static_assert(SortedById(), "the templates are looked up by binary search");

} // namespace

const XTDialogTemplate* DialogTemplatesBegin()
{
    return std::begin(kTemplates);
}

const XTDialogTemplate* DialogTemplatesEnd()
{
    return std::end(kTemplates);
}

const XTDialogTemplate* FindDialogTemplate(int32_t resId)
{
    const XTDialogTemplate* found =
        std::lower_bound(DialogTemplatesBegin(), DialogTemplatesEnd(), resId,
                         [](const XTDialogTemplate& t, int32_t id) { return t.resId < id; });
    return found != DialogTemplatesEnd() && found->resId == resId ? found : nullptr;
}
