#include "Foundation/Settings.h"

#include <climits>
#include <cstring>

#include "platform/host/HostServices.h"
#include "platform/host/Utf8.h"

ModuleGlobal<SettingsFile> Settings;

namespace {

constexpr int32_t kNoSection = 4;
constexpr int32_t kNoDefault = 16;
constexpr int32_t kTrueIndex = 14;

const char* const kSectionNames[] = {"QUARK", "Options", "Server", "Path", ""};

// Index 0 empty, 1 one blank, 2 "None", 3 to 13 the numbers 0 to 10, 14 "True", 15 "False",
// 16 empty.
const char* const kValueTokens[] = {"",  " ", "None", "0", "1",    "2",     "3", "4", "5",
                                    "6", "7", "8",    "9", "10",   "True", "False", ""};

struct KeyRow {
    const char* name;
    int32_t section;
    int32_t defaultIndex;
    const char* help;
};

// In key-id order. The help texts pad their label to 50 characters before the range.
const KeyRow kKeys[] = {
    {"AutomaticResizeOfFrames", 0, 15, "Automatic resizing of frames                      [ True | False ]"},
    {"TestStyleOfParagraph", 0, 14, "Testing style of paragraphs                       [ True | False ]"},
    {"SetUniqueID", 0, 15, "Setting unique IDs                                [ True | False ]"},
    {"SkipProcessHidden", 0, 15, "Skip processing hidden content                    [ True | False ]"},
    {"extendedInterface", 1, 15, "Extending interface                               [ True | False ]"},
    {"recursiveDirScan", 1, 15, "Scanning directories recursively                  [ True | False ]"},
    {"addMenuItemExportCoords", 1, 15, "Add menu item for export of coordinates           [ True | False ]"},
    {"addMenuItemExportTgx", 1, 15, "Add menu item for export of XTags                 [ True | False ]"},
    {"fileTypeGuidedSelection", 1, 15, "Enable only suitable files for selection (-> Mac) [ True | False ]"},
    {"useObsoleteCopyText", 1, 14, "Use obsolete copy text functionality              [ True | False ]"},
    {"tempBoxMaximizeMode", 1, 4, "Temporarily maximize boxes                        [ 0: Never | 1: Hidden | 2: Always ]"},
    {"mapSourceFoldersToTarget", 1, 14, "Map source folder hierarchy to target             [ True | False ]"},
    {"includeSourceFolderInTarget", 1, 15, "Include source folder in target (as root)         [ True | False ]"},
    {"autoOverwriteSource", 1, 3, "Overwrite source file (if required)               [ 0: Ask | 1: Ask once | 2: Auto ]"},
    {"pdfOutputStyle", 1, 5, "PDF output quality                                [ 0: Default | 1-3: High|Medium|Low ]"},
    {"masterPageMode", 1, 4, "Masterpage mode                                   [ 0: Obsolete | 1: Consider autotext ]"},
    {"masterPageLogMode", 1, 3, "Masterpage log mode (only if masterPageMode == 1) [ 0: Off | 1-5: Increasing details ]"},
    {"testMode", 1, 3, "Test mode                                         < number >"},
    {"serverMode", 2, 15, "Run Quark in server mode                          [ True | False ]"},
    {"listenPort", 2, 3, "Server listen port                                < number >"},
    {"maxDocOpen", 2, 3, "Max. documents allowed to be simultaneously open  < number >"},
    {"socketTransferMode", 2, 14, "Use socket file transfer (otherwise: shared mode) [ True | False ]"},
    {"sockXferCanCompress", 1, 14, "Socket file transfer can use compression          [ True | False ]"},
    {"clearTempFiles", 2, 14, "Clear temporary files after socket file transfer  [ True | False ]"},
    {"activateServerLog", 2, 15, "Activate server logging                           [ True | False ]"},
    {"keepServerLog", 2, 15, "Keep server log after application shutdown        [ True | False ]"},
    {"serverLogMinPriority", 2, 10, "Minimum priority for server log messages          [ 0-8: Low-High ]"},
    {"SourceBookPath", 3, 1, "Full path to book source                          < directory >"},
    {"TargetDWQPath", 3, 1, "Full path to DWQ target                           < directory >"},
    {"TargetPDFPath", 3, 1, "Full path to PDF target                           < directory >"},
    {"SourceDWQPath", 3, 1, "Full path to DWQ source                           < directory >"},
    {"TargetBookPath", 3, 1, "Full path to book target                          < directory >"},
    {"BatchFilePath", 3, 1, "Full path to batch file                           < directory >"},
    {"TemporaryPath", 3, 1, "Full path to temporary                            < directory >"},
    {"LogPath", 3, 1, "Full path to log                                  < directory >"},
    {"ServerAlivePath", 3, 1, "Full path to 'ServerAlive' synchronization file   < directory >"},
    {"maxUploadMB", 2, 3, "Max. MB one job may take from its client (0: 512) < number >"},
    {"listenAddress", 2, 1, "Server listen address (unset: 127.0.0.1)          < address >"},
    {"serverPasswordFile", 2, 1, "File holding the server password (first line)     < file >"},
    {"sharedFolders", 2, 1, "Folders shared-folder jobs may name (';' between) < directories >"},
};
static_assert(sizeof kKeys / sizeof kKeys[0] == SettingKey::Count, "40 keys");

bool IsKeyId(int32_t keyId)
{
    return keyId >= 0 && keyId < SettingKey::Count;
}

// The C library's atoi, saturating instead of overflowing: leading blanks and a sign, then
// digits up to the first other character; no digits give 0.
int32_t ParseInt(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && std::strchr(" \t\n\v\f\r", text[i]) && text[i] != '\0')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1)
            value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        value = INT32_MAX;
    return static_cast<int32_t>(value);
}

// 8-bit text is UTF-8; a lone surrogate becomes U+FFFD.
using xthost::Utf16ToUtf8;

std::u16string AsciiToUtf16(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

// A host text as 8-bit text; the out string is left alone on failure.
int16_t HostTextToUtf8(HostServices& host, HostText text, std::string& out)
{
    constexpr int32_t kLongestPath = 32767;
    int32_t length = 0;
    if (int16_t rc = host.GetTextLength(text, &length))
        return rc;
    if (length < 0 || length > kLongestPath)
        return 1;
    std::u16string chars(static_cast<std::size_t>(length), u'\0');
    if (length > 0)
        if (int16_t rc = host.GetTextChars(text, &chars[0], length))
            return rc;
    out = Utf16ToUtf8(chars);
    return 0;
}

} // namespace

SettingsFile::SettingsFile() : SettingsFile(true) {}

SettingsFile::SettingsFile(bool loadNow)
{
    if (loadNow)
        Load("", false);
}

void SettingsFile::BuildRecords()
{
    m_records.clear();
    m_records.reserve(SettingKey::Count);
    for (int32_t id = 0; id < SettingKey::Count; ++id)
        m_records.emplace_back(id, kKeys[id].section, kKeys[id].defaultIndex, kKeys[id].help);
}

bool SettingsFile::Load(const std::string& path, bool resetToDefaults)
{
    BuildRecords();
    const std::string file = path.empty() ? GetSettingsFilePath() : path;
    m_loaded = m_file.Load(file);
    if (m_loaded && resetToDefaults)
        return ResetToDefaults();
    return m_loaded;
}

void SettingsFile::SetAutoCreateKeys(bool on)
{
    if (on)
        m_file.m_flags |= CDataFile::AutoCreateKeys;
    else
        m_file.m_flags &= ~CDataFile::AutoCreateKeys;
}

const char* SettingsFile::GetKeyName(int32_t keyId)
{
    return IsKeyId(keyId) ? kKeys[keyId].name : "";
}

const char* SettingsFile::GetSectionName(int32_t sectionIndex)
{
    return sectionIndex >= 0 && sectionIndex < kNoSection ? kSectionNames[sectionIndex] : "";
}

SettingRecord SettingsFile::FindRecord(int32_t keyId) const
{
    for (const SettingRecord& record : m_records)
        if (record.m_keyId == keyId)
            return record;
    return SettingRecord(SettingKey::Count, kNoSection, kNoDefault, "");
}

int32_t SettingsFile::GetSectionIndex(int32_t keyId) const
{
    return FindRecord(keyId).m_section;
}

int32_t SettingsFile::GetDefaultIndex(int32_t keyId) const
{
    return FindRecord(keyId).m_defaultIndex;
}

std::string SettingsFile::GetHelp(int32_t keyId) const
{
    return FindRecord(keyId).m_help;
}

std::string SettingsFile::GetDefault(int32_t keyId) const
{
    const int32_t index = GetDefaultIndex(keyId);
    return index >= 0 && index <= kNoDefault ? kValueTokens[index] : "";
}

bool SettingsFile::HasKey(int32_t keyId)
{
    return m_loaded && m_file.HasKey(GetKeyName(keyId), GetSectionName(GetSectionIndex(keyId)));
}

std::string SettingsFile::GetValue(int32_t keyId)
{
    if (HasKey(keyId))
        return m_file.GetString(GetKeyName(keyId), GetSectionName(GetSectionIndex(keyId)));
    return GetDefault(keyId);
}

std::string SettingsFile::GetPath(int32_t keyId)
{
    if (keyId < SettingKey::SourceBookPath || keyId > SettingKey::ServerAlivePath)
        return std::string();
    return GetValue(keyId);
}

bool SettingsFile::IsDefault(int32_t keyId)
{
    const std::string value = GetValue(keyId);
    return value.empty() || value == GetDefault(keyId);
}

bool SettingsFile::SetValue(int32_t keyId, const std::string& value, bool autoCreateKeys, bool save)
{
    if (GetValue(keyId) == value)
        return true;
    // Without its record (before the settings were loaded) a key has no section to go to.
    const SettingRecord record = FindRecord(keyId);
    if (!IsKeyId(keyId) || record.m_keyId != keyId)
        return false;
    SetAutoCreateKeys(autoCreateKeys);
    if (!m_file.SetValue(GetKeyName(keyId), value, CDataFile::CommentStr(record.m_help),
                         GetSectionName(record.m_section)))
        return false;
    return save ? m_file.Save() : true;
}

bool SettingsFile::SetPath(int32_t keyId, const std::string& value, bool autoCreateKeys, bool save)
{
    const bool settable = (keyId >= SettingKey::SourceBookPath && keyId <= SettingKey::TargetBookPath) ||
                          (keyId >= SettingKey::TemporaryPath && keyId <= SettingKey::ServerAlivePath);
    return settable && SetValue(keyId, value, autoCreateKeys, save);
}

bool SettingsFile::ResetToDefaults()
{
    bool all = true;
    for (const SettingRecord& record : std::vector<SettingRecord>(m_records))
        all = SetValue(record.m_keyId, GetDefault(record.m_keyId), true, true) && all;
    return all;
}

bool SettingsFile::GetBool(int32_t keyId)
{
    if (HasKey(keyId))
        return m_file.GetBool(GetKeyName(keyId), GetSectionName(GetSectionIndex(keyId)));
    return GetDefaultIndex(keyId) == kTrueIndex;
}

int32_t SettingsFile::GetInt(int32_t keyId)
{
    return ParseInt(GetValue(keyId));
}

// Outside 0 to highest, compared as unsigned so that negative numbers fall back too.
int32_t SettingsFile::GetIntInRange(int32_t keyId, uint32_t highest, int32_t fallback)
{
    const int32_t value = GetInt(keyId);
    return static_cast<uint32_t>(value) > highest ? fallback : value;
}

bool SettingsFile::GetAutomaticResizeOfFrames() { return GetBool(SettingKey::AutomaticResizeOfFrames); }
bool SettingsFile::GetTestStyleOfParagraph() { return GetBool(SettingKey::TestStyleOfParagraph); }
bool SettingsFile::GetSetUniqueID() { return GetBool(SettingKey::SetUniqueID); }
bool SettingsFile::GetSkipProcessHidden() { return GetBool(SettingKey::SkipProcessHidden); }
bool SettingsFile::GetExtendedInterface() { return GetBool(SettingKey::extendedInterface); }
bool SettingsFile::GetRecursiveDirScan() { return GetBool(SettingKey::recursiveDirScan); }
bool SettingsFile::GetAddMenuItemExportCoords() { return GetBool(SettingKey::addMenuItemExportCoords); }
bool SettingsFile::GetAddMenuItemExportTgx() { return GetBool(SettingKey::addMenuItemExportTgx); }
bool SettingsFile::GetUseObsoleteCopyText() { return GetBool(SettingKey::useObsoleteCopyText); }
bool SettingsFile::GetMapSourceFoldersToTarget() { return GetBool(SettingKey::mapSourceFoldersToTarget); }
bool SettingsFile::GetIncludeSourceFolderInTarget() { return GetBool(SettingKey::includeSourceFolderInTarget); }
bool SettingsFile::GetServerMode() { return GetBool(SettingKey::serverMode); }
bool SettingsFile::GetSocketTransferMode() { return GetBool(SettingKey::socketTransferMode); }
bool SettingsFile::GetSockXferCanCompress() { return GetBool(SettingKey::sockXferCanCompress); }
bool SettingsFile::GetClearTempFiles() { return GetBool(SettingKey::clearTempFiles); }
bool SettingsFile::GetActivateServerLog() { return GetBool(SettingKey::activateServerLog); }
bool SettingsFile::GetKeepServerLog() { return GetBool(SettingKey::keepServerLog); }

int32_t SettingsFile::GetTempBoxMaximizeMode()
{
    return GetIntInRange(SettingKey::tempBoxMaximizeMode, 2, 1);
}

int32_t SettingsFile::GetAutoOverwriteSource()
{
    return GetIntInRange(SettingKey::autoOverwriteSource, 2, 2);
}

int32_t SettingsFile::GetPdfOutputStyle()
{
    return GetIntInRange(SettingKey::pdfOutputStyle, 3, ParseInt(GetDefault(SettingKey::pdfOutputStyle)));
}

int32_t SettingsFile::GetMasterPageMode()
{
    return GetIntInRange(SettingKey::masterPageMode, 1, ParseInt(GetDefault(SettingKey::masterPageMode)));
}

int32_t SettingsFile::GetMasterPageLogMode()
{
    return GetIntInRange(SettingKey::masterPageLogMode, 5,
                         ParseInt(GetDefault(SettingKey::masterPageLogMode)));
}

int32_t SettingsFile::GetTestMode()
{
    const int32_t value = GetInt(SettingKey::testMode);
    return (value & 3) != 0 ? value : 0;
}

int32_t SettingsFile::GetListenPort()
{
    return GetInt(SettingKey::listenPort);
}

int32_t SettingsFile::GetServerLogMinPriority()
{
    const int32_t value = GetInt(SettingKey::serverLogMinPriority);
    if (value < 0)
        return -1;
    return value > 8 ? 8 : value;
}

int32_t SettingsFile::GetMaxUploadMB()
{
    const int32_t value = GetInt(SettingKey::maxUploadMB);
    if (value < 0)
        return 0;
    return value > 2048 ? 2048 : value;
}

std::string SettingsFile::GetEffective(int32_t keyId)
{
    auto flag = [](bool on) { return std::string(on ? "True" : "False"); };
    switch (keyId) {
    case SettingKey::tempBoxMaximizeMode: return std::to_string(GetTempBoxMaximizeMode());
    case SettingKey::autoOverwriteSource: return std::to_string(GetAutoOverwriteSource());
    case SettingKey::pdfOutputStyle: return std::to_string(GetPdfOutputStyle());
    case SettingKey::masterPageMode: return std::to_string(GetMasterPageMode());
    case SettingKey::masterPageLogMode: return std::to_string(GetMasterPageLogMode());
    case SettingKey::testMode: return std::to_string(GetTestMode());
    case SettingKey::listenPort: return std::to_string(GetListenPort());
    case SettingKey::serverLogMinPriority: return std::to_string(GetServerLogMinPriority());
    case SettingKey::maxUploadMB: return std::to_string(GetMaxUploadMB());
    case SettingKey::fileTypeGuidedSelection:
    case SettingKey::maxDocOpen:
        return GetValue(keyId);
    case SettingKey::listenAddress:
    case SettingKey::serverPasswordFile:
    case SettingKey::sharedFolders:
        return GetTrimmedText(keyId);
    default:
        break;
    }
    if (keyId >= SettingKey::SourceBookPath && keyId <= SettingKey::ServerAlivePath)
        return GetPath(keyId);
    return IsKeyId(keyId) ? flag(GetBool(keyId)) : std::string();
}

std::string SettingsFile::GetTrimmedText(int32_t keyId)
{
    const std::string value = GetValue(keyId);
    const std::size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

std::string SettingsFile::GetListenAddress() { return GetTrimmedText(SettingKey::listenAddress); }
std::string SettingsFile::GetServerPasswordFile() { return GetTrimmedText(SettingKey::serverPasswordFile); }
std::string SettingsFile::GetSharedFolders() { return GetTrimmedText(SettingKey::sharedFolders); }

std::string GetSettingsFilePath()
{
    HostServices* host = GetHostServices();
    if (!host)
        return std::string();

    const std::u16string relative = AsciiToUtf16(std::string("XTensions") + '/' + "kesto.ini");
    HostText relativeText = 0;
    HostHandle spec = 0;
    const bool haveText =
        host->NewText(relative.data(), static_cast<int32_t>(relative.size()), &relativeText) == 0;
    const bool haveSpec = host->NewFileSpecHandle(&spec) == 0;

    std::string path;
    if (haveText && haveSpec && host->GetApplicationFolder(spec) == 0 &&
        host->ResolveRelativePath(spec, relativeText) == 0) {
        HostText fullText = 0;
        if (host->GetFullPathText(spec, &fullText) == 0) {
            if (HostTextToUtf8(*host, fullText, path) != 0)
                path.clear();
            host->DisposeText(fullText);
        }
    }
    if (haveText)
        host->DisposeText(relativeText);
    if (haveSpec)
        host->DisposeFileSpecHandle(spec);
    return path;
}
