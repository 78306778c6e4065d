// The XLIFF bridge as a translator uses it, for the end-to-end tests: a shipped document exported
// by xthost with Kesto.so, kesto-xliff's extract and merge, the XLIFF changed as a translation
// tool or a translator changes it (xliff_edit.py, over Python's ElementTree), and the import of
// the merged exchange file compared with the import of the untouched one.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace kesto_test {

// A command's exit status (-1 when it did not end by itself) and what it wrote to both outputs.
struct Ran {
    int status = -1;
    std::string out;
};

// A shipped document exported by xthost with Kesto.so into a working folder of its own (a copy of
// examples/app in the temporary folder, kesto-xliff-test.XXXXXX), with the canonical forms of the
// import of its untouched exchange file and, when asked for, of its stand-in translation
// (kesto-pseudo-translate); `name` is the document's name without its extension.
struct XliffExport {
    std::filesystem::path work;
    std::string name;
    std::string untouched, pseudo;

    std::string Dwq() const { return name + ".dwq"; }
};

// The export of `document`; its `work` is empty, with a test failure, when a step failed.
XliffExport ExportForXliff(const std::string& document, bool pseudo = true);

// kesto-xliff with `arguments` (shell words), run in `work`.
Ran RunXliff(const std::filesystem::path& work, const std::string& arguments);

// xliff_edit.py on `in`, written to `out`, with `operations` (shell words), in `work`; `environment`
// stands in front of the command. Its output is the JSON object that says what it changed.
Ran EditXliff(const std::filesystem::path& work, const std::string& in, const std::string& out,
              const std::string& operations, const std::string& environment = "");

// Imports `dwq` of the export's folder into `qxp` there; answers the document's canonical form, or
// nothing, with a test failure, when the import did not end "Import done".
std::string ImportedCanon(const XliffExport& exported, const std::string& dwq, const std::string& qxp);

// What differs between two imports, as the identity comparison sees it, once every letter that
// podebug's "unicode" rewrite writes is read back as the letter it stands for.
std::vector<std::string> RewrittenDifferences(const std::string& untouched, const std::string& translated);

// The paragraphs that do not come back as `translated` says: each paragraph that the stand-in
// translation rewrites and that holds a letter must come back rewritten, but for those whose
// letters are those of one of the `kept` texts, which must come back as they were.
std::vector<std::string> ParagraphsNotAsTranslated(const XliffExport& exported, const std::string& translated,
                                                   const std::set<std::string>& kept = {});

// The files of a folder, by name.
std::set<std::string> FilesIn(const std::filesystem::path& folder);

// Whether one line of `text` holds every one of `parts`.
bool SomeLineHolds(const std::string& text, const std::vector<std::string>& parts);

}  // namespace kesto_test
