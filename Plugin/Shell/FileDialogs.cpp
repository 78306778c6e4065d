#include "Plugin/Shell/FileDialogs.h"

#include <cstddef>
#include <ostream>
#include <string>

#include "Foundation/Log.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/HostText.h"
#include "Plugin/Shell/KestoInterface.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/host/Utf8.h"

namespace {

// A filter record: the name zero-padded, the value, zeros, the extension and its zero.
template <std::size_t NameSize>
constexpr XTFileFilter MakeFilter(const char (&name)[NameSize], uint16_t value, const char (&extension)[4])
{
    static_assert(NameSize <= sizeof XTFileFilter::name, "the name fits its field");
    XTFileFilter filter{};
    for (std::size_t i = 0; i < NameSize; ++i)
        filter.name[i] = name[i];
    filter.value = value;
    for (std::size_t i = 0; i < 4; ++i)
        filter.extension[i] = extension[i];
    return filter;
}

const XTFileFilter kExchangeFilter = MakeFilter("Verbant Files", 1, "dwq");
const XTFileFilter kCoordinatesFilter = MakeFilter("Coordinate Files", 1, "coo");
const XTFileFilter kXTagsFilter = MakeFilter("TGX Files", 2, "tgx");
const XTFileFilter kDocumentFilter = MakeFilter("Quark Files", 1, "QXP");

const XTFileFilter* g_filterList[2] = {nullptr, nullptr};

// One output of ChooseOutputFile: the dialog's title and the file's extension.
struct OutputKind {
    const char* title;
    const char* extension;
};

OutputKind OutputKindOf(bool exchange, bool coordinates, bool xtags)
{
    if (xtags)
        return {"TGX output file name:", "tgx"};
    if (coordinates)
        return {"Coordinates output file name:", "coo"};
    if (exchange)
        return {"Verbant output file name:", "dwq"};
    return {"Output document name:", "qxp"};
}

// A file dialog of the host, handed back when the object goes.
class FileDialog {
public:
    FileDialog() { m_ok = CallHost<XFJ_NewFileDialog>(&m_handle) == XT_OK && m_handle != 0; }
    ~FileDialog()
    {
        if (m_handle)
            CallHost<XFJ_Dispose>(m_handle);
    }
    FileDialog(const FileDialog&) = delete;
    FileDialog& operator=(const FileDialog&) = delete;

    bool IsOpen() const { return m_ok; }
    XTHandle Handle() const { return m_handle; }

    // True when the user chose exactly one file.
    bool ChoseOneFile() const
    {
        int32_t count = 2;
        return CallHost<XFJ_GetChosenCount>(m_handle, &count) == XT_OK && count == 1;
    }

    // The path of the chosen file; false, path unchanged, when there is none.
    bool ChosenPath(std::string& path) const
    {
        XTHandle text = 0;
        if (CallHost<XFJ_GetChosenFileText>(m_handle, &text) != XT_OK || !text)
            return false;
        std::string chosen;
        const bool ok = HostTextToString(text, chosen) == 0 && !chosen.empty();
        CallHost<XText_Dispose>(text);
        if (ok)
            path = chosen;
        return ok;
    }

private:
    XTHandle m_handle = 0;
    bool m_ok = false;
};

// The proposed output: the job's source beside itself with the output's extension, as a host
// file reference (0 when the host made none) and a file name.
struct ProposedOutput {
    XTHandle fileRef = 0;
    std::string name;

    explicit ProposedOutput(const char* extension)
    {
        std::string path = CurrentJob.IsBuilt() ? CurrentJob->GetSource().GetPath() : std::string();
        ChangeExtension(path, std::string(extension), true, true);
        if (const XTHandle text = NewHostText(path)) {
            if (CallHost<XFJ_FileRefFromText>(text, XT_CREATOR_XPRESS, 0, 0, &fileRef) != XT_OK)
                fileRef = 0;
            CallHost<XText_Dispose>(text);
        }
        name = GetFileName(path, true);
    }
    ~ProposedOutput()
    {
        if (fileRef)
            CallHost<XFJ_Dispose>(fileRef);
    }
    ProposedOutput(const ProposedOutput&) = delete;
    ProposedOutput& operator=(const ProposedOutput&) = delete;
};

bool ChooseOutputAs(HostFileSpec& spec, const char* extension, bool exchange, bool coordinates,
                    bool xtags)
{
    HostFileSpec copy = spec;
    ResolveHostFileSpec(copy, extension);
    if (!ChooseOutputFile(copy, exchange, coordinates, xtags))
        return false;
    spec = copy;
    return true;
}

} // namespace

const XTFileFilter* const* GetFileTypeFilter(bool exchange, bool coordinates, bool xtags)
{
    g_filterList[0] = xtags ? &kXTagsFilter
                      : coordinates ? &kCoordinatesFilter
                      : exchange ? &kExchangeFilter
                                 : &kDocumentFilter;
    g_filterList[1] = nullptr;
    return g_filterList;
}

bool ChooseSourceFile(HostFileSpec& out, bool exportSource)
{
    const bool multiDoc = KestoInterface::Instance()->m_multiDocMode;
    const char* title = exportSource ? (multiDoc ? "Choose Quark book to export:" : "Choose Quark document to export:")
                                     : (multiDoc ? "Import Verbant Files" : "Choose Verbant file to import:");
    if (!CurrentJob.IsBuilt())
        return false;
    const FileDialog dialog;
    if (!dialog.IsOpen())
        return false;
    if (CallHost<XFJ_RunOpenDialog>(dialog.Handle(), 0, title, 0, nullptr, 0,
                                    GetFileTypeFilter(!exportSource, false, false)) != XT_OK)
        return false;
    std::string path;
    if (!dialog.ChoseOneFile() || !dialog.ChosenPath(path))
        return false;
    if (CurrentJob->source.SetPath(path) != 0)
        return false;
    HostFileSpec chosen{};
    if (CurrentJob->GetSource().GetHostSpec(chosen) != 0)
        return false;
    out = chosen;
    return true;
}

bool ChooseExportSource(HostFileSpec& out)
{
    return ChooseSourceFile(out, true);
}

bool ChooseImportSource(HostFileSpec& out)
{
    return ChooseSourceFile(out, false);
}

bool ChooseOutputFile(HostFileSpec& out, bool exchange, bool coordinates, bool xtags)
{
    if (!CurrentJob.IsBuilt())
        return false;
    const OutputKind output = OutputKindOf(exchange, coordinates, xtags);
    const FileDialog dialog;
    if (!dialog.IsOpen())
        return false;
    const ProposedOutput proposed(output.extension);
    if (CallHost<XFJ_RunSaveDialog>(dialog.Handle(), proposed.fileRef, output.title, 0,
                                    proposed.name.c_str(), 0,
                                    GetFileTypeFilter(exchange, coordinates, xtags)) != XT_OK)
        return false;
    std::string path;
    if (!dialog.ChoseOneFile() || !dialog.ChosenPath(path))
        return false;
    if (CurrentJob->target.SetPath(path) != 0)
        return false;
    // A file that is there already stays whole: the command replaces it only with a complete
    // new one, and one that fails leaves it as it was.
    HostFileSpec chosen{};
    if (const int16_t result = CurrentJob->target.OutputHostSpec(chosen, true)) {
        // The user chose a file; that it cannot be made (a locked folder, a full disk) is no
        // cancel, and the log says why.
        GeneralLogStream() << "\nERROR: Unable to create " << path << ": " << HostFileErrorText(result) << std::endl;
        return false;
    }
    out = chosen;
    return true;
}

bool ChooseExportOutput(HostFileSpec& spec)
{
    return ChooseOutputAs(spec, "dwq", true, false, false);
}

bool ChooseCoordOutput(HostFileSpec& spec)
{
    return ChooseOutputAs(spec, "coo", true, true, false);
}

bool ChooseTgxOutput(HostFileSpec& spec)
{
    return ChooseOutputAs(spec, "tgx", false, false, true);
}

bool ChooseImportOutput(HostFileSpec& spec)
{
    return ChooseOutputAs(spec, "qxp", false, false, false);
}
