#include "Plugin/Exchange/DWX_Import.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Container/Model/BookReaders.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/LZStreams.h"
#include "Container/Storage/OLEStorage.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Exchange/ImportRuns.h"
#include "SHARED/Server/CnvTools/PathUtils.h"

namespace KS_DWX::Import {

namespace {

constexpr char16_t kTemplatesName[] = u"KestoExportTemplates";
constexpr uint32_t kCopyBlock = 1024;
constexpr int kWindowBits = 15;
// Traced when a container cannot be opened.
constexpr uint16_t kOpenFailedCode = 1005;

// The records of `folder` under names other than `element` and the attributes' own.
std::vector<std::pair<std::string, int32_t>> RecordsOtherThan(DWX_InFolder2& folder, const char* element)
{
    std::vector<std::pair<std::string, int32_t>> others;
    for (const auto& [name, index] : DWX_SubFolders(folder))
        if (name != element && name != DWX_Names::Attrs)
            others.emplace_back(name, index);
    return others;
}

std::u16string DecimalName(int32_t id)
{
    const std::string digits = std::to_string(id);
    return std::u16string(digits.begin(), digits.end());
}

// The attribute operations over one reader of the model. The parent reference keeps the Book,
// and with it the string table and the container, alive as long as any of its objects.
class Common : public virtual ICommon {
public:
    const char16_t* GetText(const char16_t* name) override
    {
        if (!name)
            return nullptr;
        return Attrs().GetAttrValue(name, *m_strings);
    }

    bool GetNumber(const char16_t* name, int32_t& value) override
    {
        const char16_t* text = GetText(name);
        dwx_long number = 0;
        if (!DWX_AttrsSet::GetNumericValue(text, number) || !WholeText(name, text))
            return false;
        value = number;
        return true;
    }

    int32_t GetTable(const char16_t* name, int32_t) override
    {
        return name ? m_strings->find(name) : -1;
    }

    bool HasString(int32_t id) override
    {
        const DWX_StringsMap& strings = *m_strings;
        return id >= 0 && strings[static_cast<dwx_long>(id)] != nullptr;
    }

protected:
    Common(RefPtr<ICommon> parent, DWX_StringsMap* strings)
        : m_parent(std::move(parent)), m_strings(strings)
    {
    }

    virtual DWX_ProcessorWithAttrs_In2& Reader() = 0;
    DWX_StringsMap* Strings() const { return m_strings; }
    RefPtr<ICommon> Self() { return RefPtr<ICommon>::Share(this); }

    // The Book reads its own attributes when it is built.
    void MarkLoaded() { m_loaded = true; }

private:
    // Whether `text`, the value of the attribute `name`, is all of its stored text: texts reach a
    // caller as far as their first NUL, so "17" and a NUL would pass for another value, "17".
    bool WholeText(const char16_t* name, const char16_t* text)
    {
        const dwx_long nameId = m_strings->find(name);
        for (const DWX_AttrsSet* set = &Attrs(); set; set = set->BaseAttrsSet()) {
            const auto value = set->OwnAttrs().find(nameId);
            if (value != set->OwnAttrs().end())
                return m_strings->find(text) == value->second;
            if (set->BaseAttrsSet() == set)
                break;
        }
        return false;
    }

    DWX_AttrsSet& Attrs()
    {
        DWX_ProcessorWithAttrs_In2& reader = Reader();
        if (!m_loaded) {
            reader.LoadAttrsSet(DWX_Names::Attrs, *m_strings);
            m_loaded = true;
        }
        return reader.AttrsSet();
    }

    RefPtr<ICommon> m_parent;
    DWX_StringsMap* m_strings;
    bool m_loaded = false;
};

class Run final : public IRun, public Common {
public:
    Run(RefPtr<ICommon> parent, DWX_StringsMap* strings, const DWX_Handle<DWX_InFolder2>& folder)
        : Common(std::move(parent), strings), m_reader(folder)
    {
        m_reader.LoadStyleRef(m_styleRef, DWX_Names::StyleRef);
        // The first content item found decides the kind.
        if (auto s = m_reader.OpenMultibytes(DWX_Names::Multibytes)) {
            Take(kRunMultibytes, new TRunStr<char>(std::move(s)));
        } else if (auto s = m_reader.OpenUnicodes(DWX_Names::Unicodes)) {
            Take(kRunUnicodes, new TRunStr<uint16_t>(std::move(s)));
        } else if (auto b = m_reader.OpenSpecialChars(DWX_Names::SpecialChars)) {
            Take(kRunSpecialChars, new TRunBun<CF_SpecialChar>(std::move(b)));
        } else if (auto b = m_reader.OpenRefPoints(DWX_Names::RefPoints)) {
            Take(kRunRefPoints, new TRunBun<CF_RefPoint>(std::move(b)));
        } else if (auto b = m_reader.OpenPlaceHolders(DWX_Names::PlaceHolders)) {
            Take(kRunPlaceHolders, new TRunBun<CF_PlaceHolder>(std::move(b)));
        } else if (auto s = m_reader.OpenWideMultibytes(DWX_Names::WideMultibytes)) {
            Take(kRunWideMultibytes, new TRunStr<uint16_t>(std::move(s)));
        }
    }

    uint32_t Read(void* buffer, uint32_t size) override
    {
        return m_content && buffer ? m_content->Read(buffer, size) : 0;
    }
    int32_t Kind() override { return m_kind; }

private:
    DWX_ProcessorWithAttrs_In2& Reader() override { return m_reader; }
    void Take(RunKind kind, RunImpl* content)
    {
        m_kind = kind;
        m_content.reset(content);
    }

    DWX_TextRun_In2 m_reader;
    dwx_long m_styleRef = -1;
    int32_t m_kind = kRunNone;
    std::unique_ptr<RunImpl> m_content;
};

// IPara names its accessor Run, which hides the class inside Para.
using RunObject = Run;

class Para final : public IPara, public Common {
public:
    Para(RefPtr<ICommon> parent, DWX_StringsMap* strings, const DWX_Handle<DWX_InFolder2>& folder)
        : Common(std::move(parent), strings), m_reader(folder)
    {
        m_reader.LoadStyleRef(m_styleRef, DWX_Names::StyleRef);
    }

    RefPtr<IRun> GetChild(int32_t index) override
    {
        if (index < 0)
            return nullptr;
        DWX_Handle<DWX_InFolder2> run = m_reader.OpenTextRun(index, DWX_Names::TextRun);
        if (!run)
            return nullptr;
        return RefPtr<IRun>(new RunObject(Self(), Strings(), run));
    }

    std::vector<int32_t> StoredChildren() override
    {
        return m_reader.Valid() ? DWX_SubFolderIndices(m_reader.Folder(), DWX_Names::TextRun) : std::vector<int32_t>();
    }

    std::vector<std::pair<std::string, int32_t>> UnknownRecords() override
    {
        if (!m_reader.Valid())
            return {};
        return RecordsOtherThan(m_reader.Folder(), DWX_Names::TextRun);
    }

    bool ListsNothing() override { return m_reader.Valid() && DWX_SubFolders(m_reader.Folder()).empty(); }

private:
    DWX_ProcessorWithAttrs_In2& Reader() override { return m_reader; }

    DWX_Paragraph_In2 m_reader;
    dwx_long m_styleRef = -1;
};

// A level whose children sit in a set folder of its own, opened on first use.
template <class Interface, class ReaderT, class SetT, class ChildT, class ChildInterface>
class Level final : public Interface, public Common {
public:
    using SetOpener = DWX_Handle<DWX_InFolder2> (ReaderT::*)(const char*);

    Level(RefPtr<ICommon> parent, DWX_StringsMap* strings, const DWX_Handle<DWX_InFolder2>& folder,
          SetOpener opener, const char* setName, const char* elementName)
        : Common(std::move(parent), strings), m_reader(folder), m_opener(opener),
          m_setName(setName), m_elementName(elementName)
    {
    }

    RefPtr<ChildInterface> GetChild(int32_t index) override
    {
        if (index < 0)
            return nullptr;
        DWX_Handle<DWX_InFolder2> element = Set().OpenElement(index);
        if (!element)
            return nullptr;
        return RefPtr<ChildInterface>(ChildT::Make(Self(), Strings(), element));
    }

    std::vector<int32_t> StoredChildren() override
    {
        return Set().Valid() ? DWX_SubFolderIndices(Set().Folder(), m_elementName) : std::vector<int32_t>();
    }

    std::vector<std::pair<std::string, int32_t>> UnknownRecords() override
    {
        if (!Set().Valid())
            return {};
        return RecordsOtherThan(Set().Folder(), m_elementName);
    }

private:
    DWX_ProcessorWithAttrs_In2& Reader() override { return m_reader; }
    // The set folder, opened on first use.
    SetT& Set()
    {
        if (!m_set)
            m_set = std::make_unique<SetT>((m_reader.*m_opener)(m_setName), m_elementName);
        return *m_set;
    }

    ReaderT m_reader;
    SetOpener m_opener;
    const char* m_setName;
    const char* m_elementName;
    std::unique_ptr<SetT> m_set;
};

struct MakePara {
    static IPara* Make(RefPtr<ICommon> parent, DWX_StringsMap* strings,
                       const DWX_Handle<DWX_InFolder2>& folder)
    {
        return new Para(std::move(parent), strings, folder);
    }
};

using Story = Level<IStory, DWX_Story_In2, DWX_ParagraphsSet_In2, MakePara, IPara>;

struct MakeStory {
    static IStory* Make(RefPtr<ICommon> parent, DWX_StringsMap* strings,
                        const DWX_Handle<DWX_InFolder2>& folder)
    {
        return new Story(std::move(parent), strings, folder, &DWX_Story_In2::OpenParagraphsSet,
                         DWX_Names::ParagraphsSet, DWX_Names::Paragraph);
    }
};

using Doc = Level<IDoc, DWX_Document_In2, DWX_StoriesSet_In2, MakeStory, IStory>;

class Book final : public IBook, public Common {
public:
    Book(std::unique_ptr<DWX_Book_In2> reader, const OLEStorage& privateData,
         const OLEStorage& templates)
        : Common(nullptr, &reader->StringsMap()), m_reader(std::move(reader)),
          m_private(privateData), m_templates(templates),
          m_documents(m_reader->OpenDocumentsSet(DWX_Names::DocumentsSet), DWX_Names::Document)
    {
        MarkLoaded();
    }

    RefPtr<IDoc> GetChild(int32_t index) override
    {
        if (index < 0)
            return nullptr;
        DWX_Handle<DWX_InFolder2> element = m_documents.OpenElement(index);
        if (!element)
            return nullptr;
        return RefPtr<IDoc>(new Doc(Self(), Strings(), element, &DWX_Document_In2::OpenStoriesSet,
                                    DWX_Names::StoriesSet, DWX_Names::Story));
    }

    std::vector<int32_t> StoredChildren() override
    {
        return m_documents.Valid() ? DWX_SubFolderIndices(m_documents.Folder(), DWX_Names::Document) : std::vector<int32_t>();
    }

    void LoadQXP(int32_t id, KSOutStream* out) override
    {
        if (!out)
            Error(FE_StorageInvalidPointer);
        const std::u16string name = DecimalName(id);
        OLEStream stream(m_templates, name.c_str(), CD_OpenRead);
        std::unique_ptr<LZ_InStream> inflated = LZ_InStream::New(stream, kWindowBits);
        InflateTo(*inflated, *out, kMaxStoredDocument);
    }

private:
    DWX_ProcessorWithAttrs_In2& Reader() override { return *m_reader; }

    std::unique_ptr<DWX_Book_In2> m_reader;
    OLEStorage m_private;
    OLEStorage m_templates;
    DWX_DocumentsSet_In2 m_documents;
};

// Holds the one reference of the model's input storage.
struct InStorageRef {
    DWX_InStorage2* storage;
    ~InStorageRef() { storage->Release(); }
};

} // namespace

void InflateTo(InStream& source, KSOutStream& out, uint64_t limit)
{
    std::vector<unsigned char> block(kCopyBlock);
    uint64_t total = 0;
    for (;;) {
        const uint32_t got = source.GetData(block.data(), kCopyBlock);
        if (got == 0)
            return;
        total += got;
        if (total > limit)
            Error(FE_StorageMediumFull);
        out.write(block.data(), got);
    }
}

RefPtr<IBook> OpenImportBook(const std::string& path, std::string* lacking)
{
    const auto none = [lacking](const char* what) {
        if (lacking)
            *lacking = what;
        return nullptr;
    };
    OLEStorage root(path.c_str(), CD_OpenRead);
    if (!IsDWX(root))
        return none("it is no exchange file: it holds no text and code (\"VerbantTextAndCode\")");
    InStorageRef container{OpenDWX2(root)};
    if (!container.storage->HasPrivateData())
        return none("it holds no stored document (no \"VerbantPluginPrivateData\")");
    const OLEStorage privateData(*container.storage->PrivateData());
    OLEStorage parent(privateData);
    if (!parent.StorageExists(kTemplatesName))
        return none("it holds no stored document (no \"KestoExportTemplates\")");
    const OLEStorage templates(parent, kTemplatesName, CD_OpenRead);
    DWX_Handle<DWX_InFolder2> folder = container.storage->OpenFolder2();
    if (!folder)
        return none("its text and code hold no code file");
    auto reader = std::make_unique<DWX_Book_In2>(folder);
    if (!reader->Valid())
        return none("its code file holds no Book");
    return RefPtr<IBook>(new Book(std::move(reader), privateData, templates));
}

RefPtr<IBook> OpenImportBookFromSpec(const HostFileSpec& spec)
{
    std::string path = FileSpecName(spec);
    std::string full;
    if (FileSpecToPath(full, spec, false) == 0)
        path = full;
    try {
        return OpenImportBook(path);
    } catch (...) {
        ReportError(kOpenFailedCode);
        return nullptr;
    }
}

} // namespace KS_DWX::Import
