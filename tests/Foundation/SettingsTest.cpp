#include "Foundation/Settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>

#include "Foundation/TestSupport.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

using Getter = std::function<std::string(SettingsFile&)>;

std::string Text(bool value) { return value ? "1" : "0"; }
std::string Text(int32_t value) { return std::to_string(value); }
std::string Text(const std::string& value) { return value; }

#define GETTER(name) [](SettingsFile& s) { return Text(s.name()); }
#define VALUE(id) [](SettingsFile& s) { return s.GetValue(id); }
#define PATH(id) [](SettingsFile& s) { return s.GetPath(id); }

// Per key, as the settings file's table gives it: its name and section; then how it is read,
// what it answers without the key, a value for the file and what that reads as, and a value
// out of range (or not a valid word) and what that reads as.
struct KeyCase {
    int32_t id;
    const char* key;
    const char* section;
    Getter read;
    std::string byDefault;
    std::string fileValue, readsAs;
    std::string badValue, badReadsAs;
};

const std::vector<KeyCase>& Cases()
{
    using K = SettingKey;
    static const std::vector<KeyCase> cases = {
        {K::AutomaticResizeOfFrames, "AutomaticResizeOfFrames", "QUARK",
            GETTER(GetAutomaticResizeOfFrames), "0", "yes", "1", "on", "0"},
        {K::TestStyleOfParagraph, "TestStyleOfParagraph", "QUARK",
            GETTER(GetTestStyleOfParagraph), "1", "no", "0", "on", "0"},
        {K::SetUniqueID, "SetUniqueID", "QUARK", GETTER(GetSetUniqueID), "0", "TRUE", "1", "on", "0"},
        {K::SkipProcessHidden, "SkipProcessHidden", "QUARK",
            GETTER(GetSkipProcessHidden), "0", "1", "1", "off", "0"},
        {K::extendedInterface, "extendedInterface", "Options",
            GETTER(GetExtendedInterface), "0", "True", "1", "2", "0"},
        {K::recursiveDirScan, "recursiveDirScan", "Options",
            GETTER(GetRecursiveDirScan), "0", "true", "1", "y", "0"},
        {K::addMenuItemExportCoords, "addMenuItemExportCoords", "Options",
            GETTER(GetAddMenuItemExportCoords), "0", "Yes", "1", "on", "0"},
        {K::addMenuItemExportTgx, "addMenuItemExportTgx", "Options",
            GETTER(GetAddMenuItemExportTgx), "0", "10", "1", "on", "0"},
        {K::fileTypeGuidedSelection, "fileTypeGuidedSelection", "Options",
            VALUE(K::fileTypeGuidedSelection), "False", "True", "True", "x", "x"},
        {K::useObsoleteCopyText, "useObsoleteCopyText", "Options",
            GETTER(GetUseObsoleteCopyText), "1", "False", "0", "on", "0"},
        {K::tempBoxMaximizeMode, "tempBoxMaximizeMode", "Options",
            GETTER(GetTempBoxMaximizeMode), "1", "2", "2", "3", "1"},
        {K::mapSourceFoldersToTarget, "mapSourceFoldersToTarget", "Options",
            GETTER(GetMapSourceFoldersToTarget), "1", "0", "0", "on", "0"},
        {K::includeSourceFolderInTarget, "includeSourceFolderInTarget", "Options",
            GETTER(GetIncludeSourceFolderInTarget), "0", "1", "1", "on", "0"},
        {K::autoOverwriteSource, "autoOverwriteSource", "Options",
            GETTER(GetAutoOverwriteSource), "0", "1", "1", "5", "2"},
        {K::pdfOutputStyle, "pdfOutputStyle", "Options", GETTER(GetPdfOutputStyle), "2", "3", "3", "7", "2"},
        {K::masterPageMode, "masterPageMode", "Options", GETTER(GetMasterPageMode), "1", "0", "0", "2", "1"},
        {K::masterPageLogMode, "masterPageLogMode", "Options",
            GETTER(GetMasterPageLogMode), "0", "5", "5", "6", "0"},
        {K::testMode, "testMode", "Options", GETTER(GetTestMode), "0", "5", "5", "4", "0"},
        {K::serverMode, "serverMode", "Server", GETTER(GetServerMode), "0", "yes", "1", "on", "0"},
        {K::listenPort, "listenPort", "Server", GETTER(GetListenPort), "0", "9000", "9000", "70000", "70000"},
        {K::maxDocOpen, "maxDocOpen", "Server", VALUE(K::maxDocOpen), "0", "3", "3", "-1", "-1"},
        {K::socketTransferMode, "socketTransferMode", "Server",
            GETTER(GetSocketTransferMode), "1", "False", "0", "on", "0"},
        {K::sockXferCanCompress, "sockXferCanCompress", "Options",
            GETTER(GetSockXferCanCompress), "1", "0", "0", "on", "0"},
        {K::clearTempFiles, "clearTempFiles", "Server", GETTER(GetClearTempFiles), "1", "no", "0", "on", "0"},
        {K::activateServerLog, "activateServerLog", "Server",
            GETTER(GetActivateServerLog), "0", "1", "1", "on", "0"},
        {K::keepServerLog, "keepServerLog", "Server", GETTER(GetKeepServerLog), "0", "True", "1", "on", "0"},
        {K::serverLogMinPriority, "serverLogMinPriority", "Server",
            GETTER(GetServerLogMinPriority), "7", "3", "3", "12", "8"},
        {K::SourceBookPath, "SourceBookPath", "Path",
            PATH(K::SourceBookPath), " ", "/src/books", "/src/books", "x", "x"},
        {K::TargetDWQPath, "TargetDWQPath", "Path", PATH(K::TargetDWQPath), " ", "/dwq", "/dwq", "x", "x"},
        {K::TargetPDFPath, "TargetPDFPath", "Path", PATH(K::TargetPDFPath), " ", "/pdf", "/pdf", "x", "x"},
        {K::SourceDWQPath, "SourceDWQPath", "Path",
            PATH(K::SourceDWQPath), " ", "C:\\dwq in", "C:\\dwq in", "x", "x"},
        {K::TargetBookPath, "TargetBookPath", "Path", PATH(K::TargetBookPath), " ", "/out", "/out", "x", "x"},
        {K::BatchFilePath, "BatchFilePath", "Path",
            PATH(K::BatchFilePath), " ", "/batch/status.ini", "/batch/status.ini", "x", "x"},
        {K::TemporaryPath, "TemporaryPath", "Path",
            PATH(K::TemporaryPath), " ", "/scratch/k", "/scratch/k", "x", "x"},
        {K::LogPath, "LogPath", "Path", PATH(K::LogPath), " ", "/var/log/k", "/var/log/k", "x", "x"},
        {K::ServerAlivePath, "ServerAlivePath", "Path",
            PATH(K::ServerAlivePath), " ", "/alive", "/alive", "x", "x"},
        {K::maxUploadMB, "maxUploadMB", "Server", GETTER(GetMaxUploadMB), "0", "100", "100", "5000", "2048"},
        // Unset is one blank, read as nothing; the values are texts the server checks itself.
        {K::listenAddress, "listenAddress", "Server",
            GETTER(GetListenAddress), "", " 0.0.0.0 ", "0.0.0.0", "somewhere", "somewhere"},
        {K::serverPasswordFile, "serverPasswordFile", "Server",
            GETTER(GetServerPasswordFile), "", "/etc/kesto/pw", "/etc/kesto/pw", " ", ""},
        {K::sharedFolders, "sharedFolders", "Server",
            GETTER(GetSharedFolders), "", "/srv/a; /srv/b", "/srv/a; /srv/b", "\t", ""},
    };
    return cases;
}

const KeyCase& CaseOf(int32_t id)
{
    const auto& cases = Cases();
    const auto it = std::find_if(cases.begin(), cases.end(), [id](const KeyCase& c) { return c.id == id; });
    if (it == cases.end())
        throw std::out_of_range("no case for key " + std::to_string(id));
    return *it;
}

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest()
    {
        m_host.applicationFolder = m_dir.Path();
        std::filesystem::create_directory(m_dir / "XTensions");
    }

    std::string IniPath() const { return m_dir / "XTensions/kesto.ini"; }

    // A settings file holding every key, in its section of the table, with the value that
    // `pick` chooses.
    void WriteAllKeys(std::string KeyCase::*pick)
    {
        std::map<std::string, std::string> sections;
        for (const KeyCase& c : Cases())
            sections[c.section] += std::string(c.key) + "=" + c.*pick + "\n";
        std::string text;
        for (const auto& [section, keys] : sections)
            text += "[" + section + "]\n" + keys;
        WriteFile(IniPath(), text);
    }

    // A settings object whose records exist but whose file is missing.
    static SettingsFile& Unloaded()
    {
        static SettingsFile* settings = [] {
            auto* s = new SettingsFile(false);
            CaptureStdout();
            s->Load("/nonexistent/kesto.ini", false);
            GetCapturedStdout();
            return s;
        }();
        return *settings;
    }

    TempDir m_dir;
    FakeHostServices m_host;
};

TEST_F(SettingsTest, FindsTheFileInTheApplicationsXTensionsFolder)
{
    EXPECT_EQ(GetSettingsFilePath(), m_dir.Path() + "/XTensions/kesto.ini");
    EXPECT_EQ(m_host.OpenHandles(), 0);
    EXPECT_EQ(m_host.OpenTexts(), 0);

    m_host.resolveResult = XT_ERR_FILE_NOT_FOUND;
    EXPECT_EQ(GetSettingsFilePath(), "");
    m_host.resolveResult = 0;
    m_host.applicationFolderResult = XT_ERR_DIR_NOT_FOUND;
    EXPECT_EQ(GetSettingsFilePath(), "");
    EXPECT_EQ(m_host.OpenHandles(), 0);
    EXPECT_EQ(m_host.OpenTexts(), 0);
}

TEST_F(SettingsTest, EveryKeyAnswersItsDefaultWithoutAFile)
{
    CaptureStdout();
    SettingsFile settings;
    EXPECT_EQ(GetCapturedStdout(), "<info> [CDataFile::Load] Unable to open file. Does it exist?\n");
    EXPECT_FALSE(settings.IsLoaded());
    for (const KeyCase& c : Cases())
        EXPECT_EQ(c.read(settings), c.byDefault) << SettingsFile::GetKeyName(c.id);
    EXPECT_FALSE(std::filesystem::exists(IniPath()));
}

TEST_F(SettingsTest, EveryKeyAnswersTheFilesValue)
{
    WriteAllKeys(&KeyCase::fileValue);
    SettingsFile settings;
    ASSERT_TRUE(settings.IsLoaded());
    for (const KeyCase& c : Cases())
        EXPECT_EQ(c.read(settings), c.readsAs) << SettingsFile::GetKeyName(c.id);
}

TEST_F(SettingsTest, EveryKeyClampsOrRejectsABadValue)
{
    WriteAllKeys(&KeyCase::badValue);
    SettingsFile settings;
    for (const KeyCase& c : Cases())
        EXPECT_EQ(c.read(settings), c.badReadsAs) << SettingsFile::GetKeyName(c.id);
}

TEST_F(SettingsTest, BeforeLoadingEveryGetterAnswersFalseOrTheClampOfZero)
{
    SettingsFile settings(false);
    EXPECT_FALSE(settings.IsLoaded());
    for (const KeyCase& c : Cases()) {
        const bool text = (c.id >= SettingKey::SourceBookPath && c.id <= SettingKey::ServerAlivePath) ||
                          c.id == SettingKey::fileTypeGuidedSelection || c.id == SettingKey::maxDocOpen ||
                          c.id >= SettingKey::listenAddress;
        const std::string expected = text ? "" : "0";
        EXPECT_EQ(c.read(settings), expected) << SettingsFile::GetKeyName(c.id);
        EXPECT_EQ(settings.GetValue(c.id), "");
    }
    EXPECT_EQ(settings.FindRecord(3).m_keyId, SettingKey::Count);
    EXPECT_FALSE(settings.SetPath(SettingKey::LogPath, "/x", true, true));
}

TEST_F(SettingsTest, IntegerRulesHoldForEachEdge)
{
    const struct {
        int32_t id;
        const char* value;
        int32_t expected;
    } rows[] = {
        {SettingKey::tempBoxMaximizeMode, "-1", 1},   {SettingKey::tempBoxMaximizeMode, "3", 1},
        {SettingKey::tempBoxMaximizeMode, "2", 2},    {SettingKey::tempBoxMaximizeMode, "abc", 0},
        {SettingKey::tempBoxMaximizeMode, " 2x", 2},  {SettingKey::serverLogMinPriority, "-5", -1},
        {SettingKey::serverLogMinPriority, "12", 8},  {SettingKey::serverLogMinPriority, "8", 8},
        {SettingKey::testMode, "4", 0},               {SettingKey::testMode, "5", 5},
        {SettingKey::testMode, "2", 2},               {SettingKey::pdfOutputStyle, "7", 2},
        {SettingKey::pdfOutputStyle, "-2", 2},        {SettingKey::masterPageMode, "2", 1},
        {SettingKey::masterPageLogMode, "6", 0},      {SettingKey::autoOverwriteSource, "-1", 2},
        {SettingKey::listenPort, "99999999999", INT32_MAX},
        {SettingKey::listenPort, "-99999999999", INT32_MIN},
    };
    for (const auto& row : rows) {
        const KeyCase& c = CaseOf(row.id);
        WriteFile(IniPath(), "[" + std::string(c.section) + "]\n" + c.key + "=" + row.value + "\n");
        SettingsFile settings;
        const std::map<int32_t, std::function<int32_t()>> read = {
            {SettingKey::tempBoxMaximizeMode, [&] { return settings.GetTempBoxMaximizeMode(); }},
            {SettingKey::serverLogMinPriority, [&] { return settings.GetServerLogMinPriority(); }},
            {SettingKey::testMode, [&] { return settings.GetTestMode(); }},
            {SettingKey::pdfOutputStyle, [&] { return settings.GetPdfOutputStyle(); }},
            {SettingKey::masterPageMode, [&] { return settings.GetMasterPageMode(); }},
            {SettingKey::masterPageLogMode, [&] { return settings.GetMasterPageLogMode(); }},
            {SettingKey::autoOverwriteSource, [&] { return settings.GetAutoOverwriteSource(); }},
            {SettingKey::listenPort, [&] { return settings.GetListenPort(); }},
        };
        EXPECT_EQ(read.at(row.id)(), row.expected) << SettingsFile::GetKeyName(row.id) << "=" << row.value;
    }
}

TEST_F(SettingsTest, EveryKeyHasTheNameAndSectionOfTheTable)
{
    ASSERT_EQ(Cases().size(), static_cast<std::size_t>(SettingKey::Count));
    SettingsFile& settings = Unloaded();
    for (int32_t id = 0; id < SettingKey::Count; ++id) {
        const KeyCase& c = CaseOf(id);
        EXPECT_STREQ(SettingsFile::GetKeyName(id), c.key) << id;
        EXPECT_STREQ(SettingsFile::GetSectionName(settings.GetSectionIndex(id)), c.section) << c.key;
    }
}

TEST_F(SettingsTest, KeysLiveInTheirSectionsOnly)
{
    // sockXferCanCompress lives in "Options" although the other socket keys live in "Server".
    WriteFile(IniPath(), "[Server]\nsockXferCanCompress=0\n[options]\nSERVERMODE=1\n[server]\nlistenport=81\n");
    SettingsFile settings;
    EXPECT_TRUE(settings.GetSockXferCanCompress());
    EXPECT_FALSE(settings.GetServerMode());
    EXPECT_EQ(settings.GetListenPort(), 81);
}

TEST_F(SettingsTest, DefaultsAndPathsFollowTheirRules)
{
    WriteFile(IniPath(), "[QUARK]\nTestStyleOfParagraph=true\n[Path]\nLogPath=/logs\n");
    SettingsFile settings;
    EXPECT_TRUE(settings.IsDefault(SettingKey::TemporaryPath));
    EXPECT_EQ(settings.GetPath(SettingKey::TemporaryPath), " ");
    EXPECT_FALSE(settings.IsDefault(SettingKey::TestStyleOfParagraph));   // "true" is not "True"
    EXPECT_TRUE(settings.IsDefault(SettingKey::serverMode));
    EXPECT_FALSE(settings.IsDefault(SettingKey::LogPath));
    EXPECT_EQ(settings.GetPath(SettingKey::serverLogMinPriority), "");
    EXPECT_FALSE(settings.SetPath(SettingKey::BatchFilePath, "/b", true, true));
    EXPECT_FALSE(settings.SetPath(SettingKey::serverMode, "1", true, true));
}

TEST_F(SettingsTest, HelpTextsAlignTheirRangeAtColumnFifty)
{
    SettingsFile& settings = Unloaded();
    for (int32_t id = 0; id < SettingKey::Count; ++id) {
        const std::string help = settings.GetHelp(id);
        ASSERT_GT(help.size(), 50u) << id;
        EXPECT_TRUE(help[50] == '[' || help[50] == '<') << help;
    }
    EXPECT_EQ(settings.GetHelp(SettingKey::listenPort),
              "Server listen port                                < number >");
    EXPECT_EQ(settings.GetDefault(SettingKey::Count), "");
    EXPECT_EQ(settings.GetSectionIndex(SettingKey::Count), 4);
}

TEST_F(SettingsTest, SetPathWritesTheKeyWithItsHelpAtOnce)
{
    WriteFile(IniPath(), "[Options]\nextendedInterface=True\n");
    SettingsFile settings;
    ASSERT_TRUE(settings.SetPath(SettingKey::SourceBookPath, "/work/books", true, true));
    EXPECT_EQ(ReadFile(IniPath()),
              "\n[Options]\nextendedInterface=True\n\n[Path]\n\n; " +
                  settings.GetHelp(SettingKey::SourceBookPath) + "\nSourceBookPath=/work/books\n");
    EXPECT_EQ(settings.GetPath(SettingKey::SourceBookPath), "/work/books");
}

TEST_F(SettingsTest, SettingAnUnchangedPathWritesNothing)
{
    WriteFile(IniPath(), "[Path]\nLogPath=/logs\n");
    SettingsFile settings;
    EXPECT_TRUE(settings.SetPath(SettingKey::LogPath, "/logs", true, true));
    EXPECT_EQ(ReadFile(IniPath()), "[Path]\nLogPath=/logs\n");
}

TEST_F(SettingsTest, WithoutASettingsFileNoneIsCreated)
{
    {
        CaptureStdout();
        SettingsFile settings;
        EXPECT_FALSE(settings.SetPath(SettingKey::LogPath, "/logs", true, true));
        GetCapturedStdout();
    }
    EXPECT_FALSE(std::filesystem::exists(IniPath()));
}

TEST_F(SettingsTest, LoadingAloneNeverRewritesTheSettingsFile)
{
    const std::string original = "; user notes\n\n[Server]\nlistenPort = 8200\nstray line\n";
    WriteFile(IniPath(), original);
    {
        SettingsFile settings;
        EXPECT_EQ(settings.GetListenPort(), 8200);
    }
    EXPECT_EQ(ReadFile(IniPath()), original);
}

TEST_F(SettingsTest, ResetToDefaultsWritesBackEveryChangedKey)
{
    WriteAllKeys(&KeyCase::fileValue);
    SettingsFile settings(false);
    ASSERT_TRUE(settings.Load("", true));
    SettingsFile reread;
    for (const KeyCase& c : Cases())
        EXPECT_EQ(c.read(reread), c.byDefault) << SettingsFile::GetKeyName(c.id);
    const std::string written = "\n; " + reread.GetHelp(SettingKey::extendedInterface) + "\nextendedInterface=False\n";
    EXPECT_NE(ReadFile(IniPath()).find(written), std::string::npos);
}

TEST(SettingsWithoutHost, PathIsEmptyAndNothingLoads)
{
    EXPECT_EQ(GetSettingsFilePath(), "");
    CaptureStdout();
    SettingsFile settings;
    GetCapturedStdout();
    EXPECT_FALSE(settings.IsLoaded());
    EXPECT_TRUE(settings.GetSocketTransferMode());
}

} // namespace
