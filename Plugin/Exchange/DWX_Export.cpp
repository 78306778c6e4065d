#include "Plugin/Exchange/DWX_Export.h"

#include <cinttypes>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>

#include "Container/Model/BookWriters.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/LZStreams.h"
#include "Container/Storage/OLEStorage.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Shell/KestoException.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/storage/StructuredStorage.h"

namespace KS_DWX::Export {

namespace {

constexpr char16_t kTemplatesName[] = u"KestoExportTemplates";
constexpr uint32_t kCopyBlock = 1024;
// zlib parameters of a stored host document.
constexpr int kLevel = -1;
constexpr int kWindowBits = 15;
constexpr int kMemoryLevel = 8;

std::u16string Widen(const char* text)
{
    std::u16string wide;
    for (; *text; ++text)
        wide += static_cast<char16_t>(static_cast<unsigned char>(*text));
    return wide;
}

class AttrSet;

// What every object of one Book shares: the string table, the elements still alive (in
// creation order, so that a child always comes after its parent) and the Book's fate.
struct BookState {
    DWX_StringsMap* strings = nullptr;
    std::map<uint64_t, AttrSet*> live;
    uint64_t nextSerial = 0;
    bool finished = false;
    bool abandoned = false;
    // The first failure of a write made while an element was released; the finishing call
    // raises it, so that a lost "Attrs{}" never passes as success.
    std::exception_ptr failure;

    bool Closed() const { return finished || abandoned; }
    void Fail()
    {
        if (!failure)
            failure = std::current_exception();
    }
};

// The source of StoreQXP as the container library's input stream.
class SourceStream final : public InStream {
public:
    explicit SourceStream(KSInStream* source) : m_source(source) {}
    uint32_t GetData(void* buffer, uint32_t count) override
    {
        return m_source ? m_source->read(buffer, count) : 0;
    }

private:
    KSInStream* m_source;
};

class AttrSet : public virtual IAttrs {
public:
    AttrSet(std::shared_ptr<BookState> state, std::unique_ptr<DWX_ProcessorWithAttrs_Out2> handler,
            RefPtr<AttrSet> parent)
        : m_state(std::move(state)), m_handler(std::move(handler)), m_parent(std::move(parent)),
          m_serial(m_state->nextSerial++)
    {
        m_state->live[m_serial] = this;
    }

    ~AttrSet() override
    {
        if (m_changed && !m_state->Closed()) {
            try {
                m_handler->SaveAttrsSet(DWX_Names::Attrs);
            } catch (...) {
                m_state->Fail();
            }
        }
        m_state->live.erase(m_serial);
        // The element's folder goes before its parent's.
        m_handler.reset();
        m_parent.Reset();
    }

    void AddAttr(const char16_t* name, const char16_t* value) override
    {
        m_changed = true;
        m_handler->AttrsSet().AddAttr(name, value, Strings());
    }

    void Open() override
    {
        if (m_open != kNew)
            return;
        m_open = kOpen;
        if (m_parent)
            m_parent->Open();
    }

    void Close() override
    {
        if (m_open != kOpen)
            return;
        if (m_parent)
            m_parent->Close();
        m_open = kClosed;
    }

    // Every level keeps its own attributes: the import reads them from the element itself, and
    // a search upwards would lose every value of a geometry group after its first.
    bool SetAttr(const char16_t* name, const char16_t* value) override
    {
        AddAttr(name, value);
        return true;
    }

    int32_t StringRef(const char16_t* text) override
    {
        if (!text)
            return -1;
        return Strings()[text];
    }

    // Stores "Attrs{}" now when it changed; used when the Book is finished.
    void SavePending()
    {
        if (!m_changed)
            return;
        m_changed = false;
        m_handler->SaveAttrsSet(DWX_Names::Attrs);
    }

protected:
    DWX_ProcessorWithAttrs_Out2& Handler() { return *m_handler; }
    const std::shared_ptr<BookState>& State() const { return m_state; }
    RefPtr<AttrSet> Self() { return RefPtr<AttrSet>::Share(this); }

private:
    enum OpenState : int32_t { kNew = 0, kOpen = 1, kClosed = 2 };

    DWX_StringsMap& Strings()
    {
        // Only a style can outlive its Book.
        if (!m_state->strings)
            Error(FE_StorageInvalidPointer);
        return *m_state->strings;
    }

    std::shared_ptr<BookState> m_state;
    std::unique_ptr<DWX_ProcessorWithAttrs_Out2> m_handler;
    RefPtr<AttrSet> m_parent;
    int32_t m_open = kNew;
    bool m_changed = false;
    uint64_t m_serial;
};

// How a record run of each kind is made.
template <class T> struct RunKind;
template <> struct RunKind<CF_PlaceHolder> {
    using Handler = DWX_PlaceHoldersRun_Out2;
    using Record = DWX_PlaceHolder_Rec_Out;
    static DWX_Handle<DWX_OutBundle2> Create(Handler& h) { return h.CreatePlaceHolders(DWX_Names::PlaceHolders); }
};
template <> struct RunKind<CF_SpecialChar> {
    using Handler = DWX_SpecialCharsRun_Out2;
    using Record = DWX_SpecialChar_Rec_Out;
    static DWX_Handle<DWX_OutBundle2> Create(Handler& h) { return h.CreateSpecialChars(DWX_Names::SpecialChars); }
};
template <> struct RunKind<CF_RefPoint> {
    using Handler = DWX_RefPointsRun_Out2;
    using Record = DWX_RefPoint_Rec_Out;
    static DWX_Handle<DWX_OutBundle2> Create(Handler& h) { return h.CreateRefPoints(DWX_Names::RefPoints); }
};

template <class T>
class Run final : public IRun<T>, public AttrSet {
public:
    Run(std::shared_ptr<BookState> state, std::unique_ptr<DWX_ProcessorWithAttrs_Out2> handler,
        RefPtr<AttrSet> parent, DWX_Handle<DWX_OutBundle2> bundle)
        : AttrSet(std::move(state), std::move(handler), std::move(parent)), m_bundle(std::move(bundle))
    {
    }

    ~Run() override
    {
        if (State()->Closed())
            return;
        try {
            m_bundle->Finish();
        } catch (...) {
            State()->Fail();
        }
    }

    void Add(const T& record) override
    {
        const typename RunKind<T>::Record out(record);
        m_bundle->PutRecord(out);
    }

private:
    DWX_Handle<DWX_OutBundle2> m_bundle;
};

class Para final : public IPara, public AttrSet {
public:
    Para(std::shared_ptr<BookState> state, std::unique_ptr<DWX_Paragraph_Out2> handler,
         RefPtr<AttrSet> parent)
        : AttrSet(std::move(state), std::move(handler), std::move(parent))
    {
    }

    void PlaceHolders(RefPtr<IRun<CF_PlaceHolder>>& run, int32_t styleRef) override
    {
        run = MakeRecordRun<CF_PlaceHolder>(styleRef);
    }
    void SpecialChars(RefPtr<IRun<CF_SpecialChar>>& run, int32_t styleRef) override
    {
        run = MakeRecordRun<CF_SpecialChar>(styleRef);
    }
    void RefPoints(RefPtr<IRun<CF_RefPoint>>& run, int32_t styleRef) override
    {
        run = MakeRecordRun<CF_RefPoint>(styleRef);
    }

    void Unicodes(RefPtr<IAttrs>& run, const uint16_t* data, int32_t length, int32_t styleRef) override
    {
        auto handler = std::make_unique<DWX_UnicodesRun_Out2>(NextRun());
        WriteUnits(handler->CreateUnicodes(DWX_Names::Unicodes), data, length > 0 ? length / 2 : 0);
        run = FinishTextRun(std::move(handler), styleRef);
    }

    void Multibytes(RefPtr<IAttrs>& run, const char* data, int32_t length, int32_t styleRef) override
    {
        auto handler = std::make_unique<DWX_MultibytesRun_Out2>(NextRun());
        WriteUnits(handler->CreateMultibytes(DWX_Names::Multibytes), data, length);
        run = FinishTextRun(std::move(handler), styleRef);
    }

    void WideMultibytes(RefPtr<IAttrs>& run, const uint16_t* data, int32_t length,
                        int32_t styleRef) override
    {
        auto handler = std::make_unique<DWX_WideMultibytesRun_Out2>(NextRun());
        WriteUnits(handler->CreateWideMultibytes(DWX_Names::WideMultibytes), data, length);
        run = FinishTextRun(std::move(handler), styleRef);
    }

private:
    DWX_Handle<DWX_OutFolder2> NextRun()
    {
        return static_cast<DWX_Paragraph_Out2&>(Handler()).CreateTextRun(m_runs++, DWX_Names::TextRun);
    }

    template <class Unit>
    static void WriteUnits(DWX_Handle<DWX_OutStream2> stream, const Unit* data, int32_t count)
    {
        if (data && count > 0)
            dynamic_cast<DWX_Out<Unit>&>(*stream).PutData(data, static_cast<dwx_ulong>(count));
        stream->Finish();
    }

    template <class Handler>
    RefPtr<IAttrs> FinishTextRun(std::unique_ptr<Handler> handler, int32_t styleRef)
    {
        if (styleRef != -1)
            handler->SaveStyleRef(styleRef, DWX_Names::StyleRef);
        return RefPtr<IAttrs>(new AttrSet(State(), std::move(handler), Self()));
    }

    template <class T>
    RefPtr<IRun<T>> MakeRecordRun(int32_t styleRef)
    {
        auto handler = std::make_unique<typename RunKind<T>::Handler>(NextRun());
        DWX_Handle<DWX_OutBundle2> bundle = RunKind<T>::Create(*handler);
        if (styleRef != -1)
            handler->SaveStyleRef(styleRef, DWX_Names::StyleRef);
        return RefPtr<IRun<T>>(new Run<T>(State(), std::move(handler), Self(), std::move(bundle)));
    }

    int32_t m_runs = 0;
};

class Story final : public IStory, public AttrSet {
public:
    Story(std::shared_ptr<BookState> state, std::unique_ptr<DWX_Story_Out2> handler,
          RefPtr<AttrSet> parent)
        : AttrSet(std::move(state), std::move(handler), std::move(parent)),
          m_paras(static_cast<DWX_Story_Out2&>(Handler()).CreateParagraphsSet(DWX_Names::ParagraphsSet),
                  DWX_Names::Paragraph)
    {
    }

    void CreatePara(RefPtr<IPara>& para, int32_t, int32_t styleRef) override
    {
        auto handler = std::make_unique<DWX_Paragraph_Out2>(m_paras.CreateElement(m_count++));
        if (styleRef != -1)
            handler->SaveStyleRef(styleRef, DWX_Names::StyleRef);
        para = RefPtr<IPara>(new Para(State(), std::move(handler), Self()));
    }

private:
    DWX_ParagraphsSet_Out2 m_paras;
    int32_t m_count = 0;
};

class Doc final : public IDoc, public AttrSet {
public:
    Doc(std::shared_ptr<BookState> state, std::unique_ptr<DWX_Document_Out2> handler,
        RefPtr<AttrSet> parent)
        : AttrSet(std::move(state), std::move(handler), std::move(parent)),
          m_styles(Writer().CreateStylesSet(DWX_Names::StylesSet), DWX_Names::StyleInfo),
          m_stories(Writer().CreateStoriesSet(DWX_Names::StoriesSet), DWX_Names::Story)
    {
    }

    void CreateStyle(RefPtr<IAttrs>& style, int32_t, int32_t thisStyleRef, int32_t baseStyleRef) override
    {
        auto handler = std::make_unique<DWX_StyleInfo_Out2>(m_styles.CreateElement(m_styleCount++));
        handler->SaveThisStyleRef(thisStyleRef, DWX_Names::ThisStyleRef);
        if (baseStyleRef != -1)
            handler->SaveBaseStyleRef(baseStyleRef, DWX_Names::BaseStyleRef);
        style = RefPtr<IAttrs>(new AttrSet(State(), std::move(handler), nullptr));
    }

    void CreateStory(RefPtr<IStory>& story, int32_t) override
    {
        auto handler = std::make_unique<DWX_Story_Out2>(m_stories.CreateElement(m_storyCount++));
        story = RefPtr<IStory>(new Story(State(), std::move(handler), Self()));
    }

private:
    DWX_Document_Out2& Writer() { return static_cast<DWX_Document_Out2&>(Handler()); }

    DWX_StylesSet_Out2 m_styles;
    DWX_StoriesSet_Out2 m_stories;
    int32_t m_styleCount = 0;
    int32_t m_storyCount = 0;
};

class Book final : public IBook, public AttrSet {
public:
    Book(const std::shared_ptr<BookState>& state, std::unique_ptr<DWX_Book_Out2> handler,
         const OLEStorage& root, OLEStorage& privateData)
        : AttrSet(state, std::move(handler), nullptr), m_root(root), m_private(privateData),
          m_documents(Writer().CreateDocumentsSet(DWX_Names::DocumentsSet), DWX_Names::Document),
          m_templates(m_private, kTemplatesName, CD_CreateWrite),
          m_uncaught(std::uncaught_exceptions())
    {
        Open();
        Close();
    }

    ~Book() override
    {
        if (!State()->Closed()) {
            // Released while an exception unwinds the stack: the export failed.
            if (std::uncaught_exceptions() > m_uncaught) {
                AbandonNow();
            } else {
                try {
                    Finish();
                } catch (...) {
                    WarnAboutCurrentException();
                }
            }
        }
        State()->strings = nullptr;
    }

    void CreateDocument(RefPtr<IDoc>& doc, int32_t) override
    {
        auto handler = std::make_unique<DWX_Document_Out2>(m_documents.CreateElement(m_docCount++));
        doc = RefPtr<IDoc>(new Doc(State(), std::move(handler), Self()));
    }

    void StoreQXP(int32_t id, KSInStream* source) override
    {
        const std::u16string name = Widen(std::to_string(id).c_str());
        OLEStream stream(m_templates, name.c_str(), CD_CreateWrite);
        std::unique_ptr<LZ_OutStream> packed = LZ_OutStream::New(stream, kLevel, kWindowBits, kMemoryLevel);
        SourceStream in(source);
        CopyStreamData(in, *packed, UINT32_MAX, kCopyBlock);
        packed->Finish();
    }

    void Finish() override
    {
        BookState& state = *State();
        if (state.finished)
            return;
        if (state.abandoned)
            Error(FE_StorageReverted);
        try {
            if (state.failure)
                std::rethrow_exception(state.failure);
            // Children were created after their parents: the latest first, the Book last.
            for (auto it = state.live.rbegin(); it != state.live.rend(); ++it)
                it->second->SavePending();
            Writer().Finish();
            Writer().Folder().Complete();
            m_root.Flush();
            state.finished = true;
        } catch (...) {
            AbandonNow();
            throw;
        }
    }

    void Abandon() override
    {
        if (!State()->Closed())
            AbandonNow();
    }

private:
    DWX_Book_Out2& Writer() { return static_cast<DWX_Book_Out2&>(Handler()); }

    void AbandonNow()
    {
        State()->abandoned = true;
        // The code file is closed first, into the file that is about to be dropped, so that no
        // writer of it tries again when it is released.
        try {
            Writer().Finish();
            Writer().Folder().Complete();
        } catch (...) {
        }
        m_root()->Revert();
    }

    OLEStorage m_root;
    OLEStorage m_private;
    DWX_DocumentsSet_Out2 m_documents;
    OLEStorage m_templates;  // released before the documents set
    int32_t m_docCount = 0;
    int m_uncaught;
};

// Holds the one reference of the model's output storage.
struct OutStorageRef {
    DWX_OutStorage2* storage;
    ~OutStorageRef() { storage->Release(); }
};

} // namespace

RefPtr<IBook> CreateExportBook(const std::string& path)
{
    OLEStorage root(path.c_str(), CD_CreateWrite);
    OutStorageRef container{CreateDWX2(root, false)};
    auto handler = std::make_unique<DWX_Book_Out2>(container.storage->CreateFolder2());
    OLEStorage* privateData = container.storage->PrivateData();
    auto state = std::make_shared<BookState>();
    state->strings = &handler->StringsMap();
    return RefPtr<IBook>(new Book(state, std::move(handler), root, *privateData));
}

void CreateExportBookFromSpec(RefPtr<IBook>& book, const HostFileSpec& spec)
{
    book.Reset();
    // Only the file record's full path names the target: its bare name would land in whatever folder
    // the host runs in, outside the folder the caller chose.
    std::string path;
    if (FileSpecToPath(path, spec, false) != 0 || path.empty()) {
        ReportError(KestoException(1005, MsgString(FileSpecName(spec))).GetCode());
        return;
    }
    try {
        book = CreateExportBook(path);
    } catch (...) {
        const KestoException trace(1005, MsgString(path));
        ReportError(trace.GetCode());
        book.Reset();
    }
}

void AddPlaceHolder(RefPtr<IRun<CF_PlaceHolder>> run, int32_t folderId, const char16_t* typeName)
{
    if (!run)
        return;
    CF_PlaceHolder record;
    record.m_ObjectFolderID = folderId;
    record.m_ObjectTypeRef = run->StringRef(typeName);
    run->Add(record);
}

void AddRefPoint(RefPtr<IRun<CF_RefPoint>> run, int32_t folderId, const char16_t* refTypeName)
{
    if (!run)
        return;
    CF_RefPoint record;
    record.m_ObjectFolderID = folderId;
    record.m_ObjectTypeRef = -1;
    record.m_RefTypeRef = run->StringRef(refTypeName);
    run->Add(record);
}

void AddSpecialChar(RefPtr<IRun<CF_SpecialChar>> run, const char16_t* name, const char16_t* data)
{
    if (!run)
        return;
    CF_SpecialChar record;
    record.m_NameRef = run->StringRef(name);
    record.m_DataRef = run->StringRef(data);
    run->Add(record);
}

bool SetNumericAttr(IAttrs* attrs, const char16_t* name, int32_t value, bool hex)
{
    if (!attrs)
        return false;
    char text[16];
    if (hex)
        std::snprintf(text, sizeof text, "%" PRIx32, static_cast<uint32_t>(value));
    else
        std::snprintf(text, sizeof text, "%" PRId32, value);
    return attrs->SetAttr(name, Widen(text).c_str());
}

} // namespace KS_DWX::Export
