#include "Plugin/Mixer/PdfOutput.h"

#include <string>
#include <optional>
#include <utility>
#include <vector>

#include "Foundation/Settings.h"
#include "Plugin/Batch/HostFileObject.h"
#include "Plugin/Batch/HostFiles.h"
#include "Plugin/Batch/PdfCreation.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/HostHooks.h"
#include "Plugin/Mixer/MessageBox.h"
#include "Plugin/Mixer/PdfComponent.h"
#include "Plugin/Shell/CBManager.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/fs/NativeFS.h"

const char* const PdfOutputStyleNames[kPdfOutputStyleCount] = {"Default", "High", "Medium", "Low"};

namespace {

// The value of pdfOutputStyle when there are no settings to read.
constexpr int32_t kDefaultPdfOutputStyle = PdfStyleMedium;
constexpr char kAuthor[] = "Kesto";
constexpr char kRgbProfileUrl[] = "file:///usr/share/color/icc/sRGB.icc";

// The output-style files are one line: each tag is preceded by as many tabs as its depth.
class StyleWriter {
public:
    using Attributes = std::vector<std::pair<const char*, std::string>>;

    void Open(const char* element, const Attributes& attributes) { Tag(element, attributes, false); }
    void Empty(const char* element, const Attributes& attributes) { Tag(element, attributes, true); }
    void Close()
    {
        --m_depth;
        m_text.append(m_depth, '\t');
        m_text += "</" + m_open.back() + ">";
        m_open.pop_back();
    }
    std::string Text() const { return m_text; }

private:
    void Tag(const char* element, const Attributes& attributes, bool empty)
    {
        m_text.append(m_depth, '\t');
        m_text += "<";
        m_text += element;
        for (const auto& [name, value] : attributes)
            m_text += std::string(" ") + name + "=\"" + value + "\"";
        m_text += empty ? "/>" : ">";
        if (!empty) {
            m_open.emplace_back(element);
            ++m_depth;
        }
    }

    std::string m_text = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>";
    std::vector<std::string> m_open;
    std::size_t m_depth = 0;
};

StyleWriter::Attributes PictureSettings(const std::string& automatic, const std::string& compression,
                                        const std::string& downsampling, const std::string& manual,
                                        const std::string& resolution)
{
    return {{"AutomaticCompression", automatic}, {"CompressionAlgorithm", compression},
            {"DownsampleResolution", "1.000000"}, {"DownsampleType", downsampling},
            {"ManualCompression", manual}, {"ResolutionValue", resolution}};
}

int32_t StyleContext(XTHandle* context)
{
    *context = 0;
    const int32_t result = CallXpdf<XTPdfStyleContextFn>(XT_PDF_STYLE_CONTEXT, context);
    return result == XT_OK && *context == 0 ? kHostLayerFailure : result;
}

} // namespace

std::string BuildPdfOutputStyle(const std::string& name, const std::string& title, const std::string& compression,
                                const std::string& monochromeResolution)
{
    const std::string kZero = "0.000000";
    StyleWriter w;
    w.Open("OutputStyle", {{"DefaultStyle", "false"}, {"Deleteable", "true"}, {"Editable", "true"},
                           {"Name", name}, {"OutputMedia", "XPDF"}});

    w.Open("OutputSettings", {{"XTid", "XABL"}});
    w.Empty("BleedSettings", {{"AsymmetricBottom", kZero}, {"AsymmetricLeft", kZero}, {"AsymmetricRight", kZero},
                              {"AsymmetricTop", kZero}, {"BleedType", "Symmetric"}, {"Clipping", "true"},
                              {"Symmetric", kZero}});
    w.Close();

    w.Open("OutputSettings", {{"XTid", "QFAT"}});
    w.Empty("FlatteningSettings", {{"IsIgnoreTransparency", kZero}, {"Resolution", "300.000000"}});
    w.Empty("FlatteningNewSettings",
            {{"IsIgnoreTransparency", kZero}, {"UpSampleResolution", "300.000000"},
             {"UpSampleRotationCheckState", "1.000000"}, {"UpSampleThreshold", "200.000000"},
             {"uid_1364738609", "150.000000"}, {"uid_1364739633", "300.000000"}, {"uid_1397244977", "150.000000"}});
    w.Close();

    w.Open("OutputSettings", {{"XTid", "QRJJ"}});
    w.Empty("JDFSettings", {{"ContactUID", "-1"}, {"JDFOutput", "false"}});
    w.Close();

    w.Open("OutputSettings", {{"XTid", "XOPI"}});
    w.Open("OPI", {{"Include", "false"}});
    w.Empty("TIFF", {{"Include", "true"}, {"LowRes", "false"}});
    w.Empty("EPS", {{"Include", "true"}});
    w.Close();
    w.Close();

    const std::string k72Dpi = "4718592.000000";
    w.Open("OutputSettings", {{"XTid", "XPDF"}});
    w.Empty("ColorInfo", {{"InRipSeparation", kZero}, {"SeparationMode", kZero}});
    w.Empty("DocInfo", {{"Author", kAuthor}, {"IncludeMetaData", "true"}, {"Keywords", ""}, {"Subject", ""},
                        {"Title", title}});
    w.Empty("HyperlinkInfo",
            {{"ExportIndexesAsHyperlinks", "true"}, {"ExportListsAsBookmarks", "true"},
             {"ExportListsAsHyperlinks", "true"}, {"HyperDisplaySetting", "false"}, {"HyperFrameSetting", "false"},
             {"HyperHighlightSetting", "false"}, {"HyperLinkColorID", "1.000000"}, {"HyperListName", ""},
             {"HyperListNameCount", kZero}, {"HyperStyleSetting", "false"}, {"HyperWidthSetting", "false"},
             {"IncludeHyperlinks", "true"}});
    w.Open("JobOptions", {{"ASCIIFormat", "false"}, {"CompressLineArtText", "true"}});
    w.Empty("ColorImage", PictureSettings("true", compression, "Bicubic Downsample to:", "false", k72Dpi));
    w.Empty("GrayScaleImage", PictureSettings("true", compression, "Bicubic Downsample to:", "false", k72Dpi));
    w.Empty("MonochromeImage", PictureSettings("false", "49.000000", "Downsample to:", "true", monochromeResolution));
    w.Close();
    w.Empty("PDFInformation", {{"PDFCertification", "-999.000000"}, {"PDFVersion", "1.000000"}});
    w.Empty("PageOptions", {{"EmbedThumbnails", kZero}, {"ExportAsSeparateFiles", kZero},
                            {"IncludeBlankPages", kZero}, {"MonoThumbnail", kZero}, {"Spreads", kZero}});
    w.Empty("RegistrationMarksInfo", {{"RegistrationLength", "1572864.000000"},
                                      {"RegistrationOffset", "393216.000000"},
                                      {"RegistrationSetting", "Off"},
                                      {"RegistrationWidth", "16384.000000"}});
    w.Empty("FontDownload", {{"Default", "1"}});
    w.Close();

    w.Open("OutputSettings", {{"XTid", "XCLR"}});
    w.Open("ResourcePool", {});
    w.Empty("ColorantControl",
            {{"Class", "Parameter"}, {"ID", "CC_2"}, {"ProcessColorModel", "DeviceRGB"}, {"Status", "Available"}});
    w.Open("ColorSpaceConversionParams",
           {{"Class", "Parameter"}, {"ICCProfileUsage", "UseSupplied"}, {"ID", "CSCP_2"},
            {"ProfileColorSpace", "RGB "}, {"ProfileDescName", "Quark Generic RGB"}, {"Status", "Available"}});
    w.Empty("FileSpec", {{"ResourceUsage", "FinalTargetDevice"}, {"URL", kRgbProfileUrl}});
    w.Close();
    w.Open("OutputSetup", {{"ID", "Composite-RGB"}, {"IsDefault", "true"}, {"SimulateSeparations", "false"}});
    w.Empty("ColorantControlRef", {{"rRef", "CC_2"}});
    w.Empty("ColorSpaceConversionParamsRef", {{"rRef", "CSCP_2"}});
    w.Close();
    w.Close();
    w.Close();

    w.Close();
    return w.Text();
}

std::string PdfOutputStyleTemplate(int32_t style)
{
    switch (style) {
    case PdfStyleHigh:
        return BuildPdfOutputStyle("Kesto High", "Kesto Output - better resolution", "20.000000", "9437184.000000");
    case PdfStyleMedium:
        return BuildPdfOutputStyle("Kesto Medium", "Kesto Output - normal resolution", "18.000000", "9437184.000000");
    case PdfStyleLow:
        return BuildPdfOutputStyle("Kesto Low", "Kesto Output - lower resolution", "16.000000", "4718592.000000");
    default:
        return std::string();
    }
}

std::string PdfOutputStyleFileName(int32_t style)
{
    if (style < 0 || style >= kPdfOutputStyleCount)
        return std::string();
    return std::string("KS_PdfStyle_") + PdfOutputStyleNames[style] + ".xml";
}

bool InstallPdfOutputStyle(int32_t style)
{
    if (style < 0 || style >= kPdfOutputStyleCount)
        return false;
    const std::string folder = GetHostTempPath();
    if (folder.empty()) {
        ShowMessageBox(kAlertResource, "Unable to detect temporary folder: ", "", "", "", false, false, false);
        return false;
    }
    const std::string path = JoinPath(folder, PdfOutputStyleFileName(style));
    // A file that could not be written whole would register a broken style, or an old one; a
    // whole new one takes the old one's place (another host may be reading it).
    if (platform::fs::ReplaceFile(path, PdfOutputStyleTemplate(style)) != 0) {
        ShowMessageBox(kAlertResource, "Error writing file: ", path, "", "", false, false, false);
        return false;
    }
    return ImportPdfOutputStyle(path, std::string(PdfOutputStylePrefix) + PdfOutputStyleNames[style]) == XT_OK;
}

bool PdfOutputStyleExists(const std::string& name)
{
    XTHandle context = 0;
    if (StyleContext(&context) != XT_OK)
        return false;
    XTHandle style = 0;
    return CallXpdf<XTPdfFindStyleFn>(XT_PDF_FIND_STYLE, context, name.c_str(), &style) == XT_OK && style != 0;
}

int32_t ImportPdfOutputStyle(const std::string& path, const std::string& name)
{
    if (PdfOutputStyleExists(name))
        return XT_OK;
    XTHandle context = 0;
    int32_t result = StyleContext(&context);
    if (result != XT_OK)
        return result;
    const HostFileObject file(path, XT_CREATOR_XPRESS);
    if (file.Result() != XT_OK)
        return file.Result();
    return CallXpdf<XTPdfImportStyleFn>(XT_PDF_IMPORT_STYLE, context, file.Ref());
}

int32_t SelectPdfOutputStyle(int32_t style)
{
    if (style < 0 || style >= kPdfOutputStyleCount)
        return kHostLayerFailure;
    XTHandle context = 0;
    int32_t result = StyleContext(&context);
    if (result != XT_OK)
        return result;
    XTHandle chosen = 0;
    if (style != PdfStyleDefault) {
        const std::string name = std::string(PdfOutputStylePrefix) + PdfOutputStyleNames[style];
        if (CallXpdf<XTPdfFindStyleFn>(XT_PDF_FIND_STYLE, context, name.c_str(), &chosen) != XT_OK)
            chosen = 0;
    }
    // A style the user removed from the host gives way to the host's default.
    if (chosen == 0) {
        result = CallXpdf<XTPdfDefaultStyleFn>(XT_PDF_DEFAULT_STYLE, context, static_cast<uint32_t>(XT_COMPONENT_XPDF),
                                               &chosen);
        if (result != XT_OK)
            return result;
        if (chosen == 0)
            return kHostLayerFailure;
    }
    return CallXpdf<XTPdfSelectStyleFn>(XT_PDF_SELECT_STYLE, chosen);
}

int32_t PdfOutputHook(void* rec)
{
    // Nothing the naming throws may reach the host, which called in the middle of its export.
    return CallBackBarrier([rec]() -> int32_t {
        auto* record = static_cast<xtpdfoutputrec*>(rec);
        if (PdfHookActive != 1 || !record || record->request != XT_PDF_REQUEST_FILE_AND_STYLE)
            return 0;
        std::string path;
        std::optional<HostFileObject> file;
        if (SetJobTargetName(path) == 0)
            file.emplace(path, XT_CREATOR_XPRESS);
        // The host keeps the name it is handed, so the file object goes at once.
        if (file && file->Result() == XT_OK) {
            CallXpdf<XTPdfSetFileFn>(XT_PDF_SET_FILE, record, file->Ref());
            file.reset();
            SettingsFile* settings = Settings.GetIf();
            SelectPdfOutputStyle(settings ? settings->GetPdfOutputStyle() : kDefaultPdfOutputStyle);
        } else {
            CallXpdf<XTPdfSetFileFn>(XT_PDF_SET_FILE, record, XTHandle(0));
        }
        return 0;
    });
}
