// Writes the example documents (and the damaged ones) into a folder:
//   xthost_docgen <examples/documents>
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/DocBuilder.h"

int main(int argc, char** argv)
{
    using namespace xthost::doc;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    ::mkdir((folder + "/damaged").c_str(), 0755);
    bool ok = true;
    for (const auto& name : ExampleNames())
        ok &= WriteFileAtomically(folder + "/" + ExampleFileName(name), BuildExample(name));
    for (const auto& damaged : DamagedExamples())
        ok &= WriteFileAtomically(folder + "/damaged/" + damaged.file, damaged.bytes);
    if (!ok)
        std::fprintf(stderr, "cannot write into %s\n", folder.c_str());
    return ok ? 0 : 1;
}
