// How host components other than the core (the documents) join xthost: script verbs and
// subcommands ("xthost doc ..."). Suite operations join through XTHOST_DEFINE_SLOT (Suites.h).
#pragma once

#include <functional>
#include <map>
#include <string>

#include "platform/host/Script.h"

namespace xthost {

struct Subcommand {
    std::string usage;  // "doc check FILE"
    std::string help;
    // Runs with the arguments after the subcommand's name; answers the exit status.
    std::function<int(const std::vector<std::string>& args)> run;
};

class HostExtensions {
public:
    HostExtensions() { RegisterCoreVerbs(m_verbs); }

    void AddVerb(const std::string& name, VerbInfo info) { m_verbs.Add(name, std::move(info)); }
    void AddSubcommand(const std::string& name, Subcommand command)
    {
        m_subcommands[name] = std::move(command);
    }

    const ScriptVerbs& Verbs() const { return m_verbs; }
    const std::map<std::string, Subcommand>& Subcommands() const { return m_subcommands; }

private:
    ScriptVerbs m_verbs;
    std::map<std::string, Subcommand> m_subcommands;
};

// Defined by the documents part of the host: adds its verbs, subcommands and suite operations.
// xthost calls it when documents/CMakeLists.txt sets XTHOST_DOCUMENTS_REGISTER (see
// platform/host/CMakeLists.txt).
void RegisterHostDocuments(HostExtensions& extensions);

}  // namespace xthost
