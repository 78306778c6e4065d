#include "Plugin/Batch/BatchRequest.h"

#include <cstdint>
#include <string>
#include <vector>

#include <unistd.h>

#include "Foundation/Log.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Shell/HostSuites.h"
#include "platform/registry/Registry.h"

namespace reg = platform::registry;

ModuleGlobal<platform::fs::OwnerClaim> RequestClaim;

namespace {

const char kMakerKey[] = "SOFTWARE\\OMRA Translation Technology";
const char kRequestKey[] = "Kesto 50 Batch Mode";
const char kClaimValue[] = "Kesto";
const char kClaimText[] = "Started";
// The store's folder in the host's application folder.
const char kStoreFolder[] = "Registry";

struct RegistryError {
    int32_t code;
};

void Check(int32_t code)
{
    if (code != reg::kSuccess)
        throw RegistryError{code};
}

// The owner of one open key; a failing call throws its code.
class RegKey {
public:
    RegKey() = default;
    ~RegKey()
    {
        if (m_key.IsOpen())
            reg::CloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    void Create(const reg::Key& parent, const std::string& subKey, uint32_t access = reg::kAllAccess)
    {
        Check(reg::CreateKey(parent, subKey, access, m_key));
    }
    void Open(const reg::Key& parent, const std::string& subKey, uint32_t access = reg::kRead)
    {
        Check(reg::OpenKey(parent, subKey, access, m_key));
    }
    bool QueryString(const std::string& name, std::string& out) const
    {
        try {
            Check(reg::QueryString(m_key, name, out));
        } catch (const RegistryError&) {
            return false;
        }
        return true;
    }
    // Claims a value for this process through `claim`: false while a living process holds it.
    // A claim whose owner has gone is taken over, with a line in the general log.
    bool ClaimString(const std::string& name, const std::string& text, platform::fs::OwnerClaim& claim)
    {
        long owner = 0;
        long stale = 0;
        const int32_t result = reg::ClaimString(m_key, name, text, claim, owner, stale);
        if (result == reg::kAlreadyExists)
            return false;
        Check(result);
        if (stale != 0)
            GeneralLogStream() << "\nThe batch request claimed by process " << stale
                               << ", which has ended, is taken over by process " << ::getpid() << "." << std::endl;
        return true;
    }
    bool HasSubKey(const std::string& subKey) const
    {
        RegKey probe;
        try {
            probe.Open(m_key, subKey);
        } catch (const RegistryError&) {
            return false;
        }
        return true;
    }
    // Deletes a subkey with everything below it, deepest first.
    void DeleteTree(const std::string& subKey)
    {
        RegKey key;
        key.Open(m_key, subKey, reg::kRead | reg::kWrite | reg::kEnumerateSubKeys);
        std::vector<std::string> children;
        std::string name;
        for (uint32_t index = 0; reg::EnumKey(key.m_key, index, name) == reg::kSuccess; ++index)
            children.push_back(name);
        for (const std::string& child : children)
            key.DeleteTree(child);
        Check(reg::DeleteKey(m_key, subKey));
    }
    const reg::Key& Get() const { return m_key; }

private:
    reg::Key m_key;
};

// Points the key store at the host's application folder; false when the host names none.
bool UseHostKeyStore()
{
    XTHandle ref = 0;
    XTHandle text = 0;
    std::string folder;
    bool found = CallHost<XFJ_NewFileRef>(&ref) == XT_OK && ref != 0 &&
                 CallHost<XFJ_GetApplicationFolder>(ref) == XT_OK &&
                 CallHost<XFJ_GetFullPathText>(ref, &text) == XT_OK &&
                 HostTextToString(text, folder) == 0 && !folder.empty();
    if (text)
        CallHost<XText_Dispose>(text);
    if (ref)
        CallHost<XFJ_Dispose>(ref);
    if (found)
        reg::SetRoot(folder + "/" + kStoreFolder);
    return found;
}

bool g_examined = false;
bool g_requested = false;

} // namespace

bool ClaimBatchRequest(platform::fs::OwnerClaim& claim)
{
    bool requested = false;
    try {
        reg::Key hive;
        Check(reg::OpenHive(reg::kLocalMachine, hive));
        RegKey maker;
        maker.Create(hive, kMakerKey);
        requested = maker.HasSubKey(kRequestKey);
        if (requested) {
            // Read and set rights: the claim is written into this key.
            RegKey request;
            request.Open(maker.Get(), kRequestKey, reg::kRead | reg::kSetValue);
            requested = request.ClaimString(kClaimValue, kClaimText, claim);
        }
    } catch (const RegistryError&) {
        // A request that could not be claimed belongs to no one in this process.
        requested = false;
    }
    return requested;
}

bool IsBatchRequested()
{
    if (!g_examined) {
        // Before the host can name its folder nothing is known yet: ask again later.
        if (!UseHostKeyStore())
            return false;
        g_examined = true;
        g_requested = RequestClaim.IsBuilt() && ClaimBatchRequest(*RequestClaim);
    }
    return g_requested;
}

void DeleteBatchRequestKey()
{
    if (!UseHostKeyStore())
        return;
    try {
        reg::Key hive;
        Check(reg::OpenHive(reg::kLocalMachine, hive));
        RegKey maker;
        maker.Open(hive, kMakerKey, reg::kRead | reg::kWrite | reg::kEnumerateSubKeys);
        maker.DeleteTree(kRequestKey);
    } catch (const RegistryError&) {
    }
    if (RequestClaim.IsBuilt())
        RequestClaim->Release();
}

void ResetBatchRequest()
{
    g_examined = false;
    g_requested = false;
}
