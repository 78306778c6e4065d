// kesto-xliff: XLIFF out of an exchange file for any translation tool, and the translation back.
#include "Container/Xliff/Xliff.h"
#include "platform/fs/TempFiles.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: kesto-xliff extract DOC.dwq [-o DOC.xlf] [--xliff 1.2|2.1] [--source-language L]\n"
    "                           [--target-language L] [--copy-source]\n"
    "       kesto-xliff merge DOC.dwq DOC.xlf [-o DOC-translated.dwq]\n"
    "       kesto-xliff --help\n";

const char kHelp[] =
    "\n"
    "extract  writes an XLIFF file (1.2 by default, or 2.1) with one unit per paragraph of\n"
    "         DOC.dwq that has text; formats other than a paragraph's main one are paired\n"
    "         codes, special characters and markers standalone codes. --copy-source gives\n"
    "         every unit a target that copies its source, for tools that translate only\n"
    "         units with a target. Default output: DOC.xlf beside DOC.dwq.\n"
    "merge    writes a copy of DOC.dwq whose translated paragraphs hold the XLIFF's targets;\n"
    "         the import of the module reads it as it reads any exchange file. Default\n"
    "         output: DOC-translated.dwq. The XLIFF must come from this very DOC.dwq.\n"
    "\n"
    "A translator may change the text and move the codes; a paired code may also go (its\n"
    "text then takes the format around it). Standalone codes (markers, special characters)\n"
    "must stay, once each. Units that keep their source or fail are listed on standard error.\n"
    "\n"
    "Exit codes: 0 every unit merged (or extracted); 1 some units kept their source text or\n"
    "failed (each listed); 2 unusable input or arguments (nothing written).\n";

std::string Stem(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
}

int Usage(const std::string& problem) {
  std::cerr << "kesto-xliff: " << problem << "\n" << kUsage;
  return kesto::xliff::kUnusable;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kesto::xliff;
  // New files take their mode from the umask, read once before anything is written.
  platform::fs::KeepUmask();
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") {
      std::cout << kUsage << kHelp;
      return kAllMerged;
    }
  if (args.empty()) return Usage("no command");
  const std::string command = args[0];
  std::vector<std::string> files;
  std::string output;
  ExtractOptions options;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    if (a == "-o") {
      if (!value(output)) return Usage("-o needs a file");
    } else if (command == "extract" && a == "--xliff") {
      std::string version;
      if (!value(version)) return Usage("--xliff needs a version");
      if (version == "1.2")
        options.version = Version::V12;
      else if (version == "2.1" || version == "2.0" || version == "2")
        options.version = Version::V21;
      else
        return Usage("unknown XLIFF version \"" + version + "\" (1.2 or 2.1)");
    } else if (command == "extract" && a == "--source-language") {
      if (!value(options.sourceLanguage) || options.sourceLanguage.empty())
        return Usage("--source-language needs a language");
    } else if (command == "extract" && a == "--target-language") {
      if (!value(options.targetLanguage)) return Usage("--target-language needs a language");
    } else if (command == "extract" && a == "--copy-source") {
      options.copySource = true;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return Usage("unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  if (command == "extract") {
    if (files.size() != 1) return Usage("extract takes one exchange file");
    return Extract(files[0], output.empty() ? Stem(files[0]) + ".xlf" : output, options, std::cerr);
  }
  if (command == "merge") {
    if (files.size() != 2) return Usage("merge takes an exchange file and an XLIFF file");
    return Merge(files[0], files[1], output.empty() ? Stem(files[0]) + "-translated.dwq" : output, std::cerr);
  }
  return Usage("unknown command \"" + command + "\"");
}
