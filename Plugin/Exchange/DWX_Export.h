// The export side of the exchange bridge: small counted interfaces through which the exporter,
// the attribute writer and the export command write an exchange Book without touching the
// document model. Each object wraps one writer of the model and its attribute set; the Book also
// stores the exported host document itself, compressed, in the container's private data.
//
// Stored form of a host document: root > "VerbantPluginPrivateData" > "KestoExportTemplates" >
// one stream per document named by its id in decimal, holding the document's bytes as one zlib
// stream (RFC 1950; level -1, window 15, memory level 8) and nothing else.
#pragma once

#include <cstdint>
#include <string>

#include "Container/Model/Records.h"
#include "Plugin/Exchange/KSStreams.h"
#include "Plugin/Shell/RefObject.h"
#include "platform/host/HostServices.h"

namespace KS_DWX::Export {

static_assert(sizeof(CF_PlaceHolder) == 8 && sizeof(CF_SpecialChar) == 8 &&
                  sizeof(CF_RefPoint) == 12,
              "run records are two or three 32-bit fields");

// Attributes of one element of the Book. Names and values are UTF-16 texts.
struct IAttrs : RefObject {
    // Stores the pair on this element (with the companions of its group), replacing a value.
    virtual void AddAttr(const char16_t* name, const char16_t* value) = 0;
    virtual void Open() = 0;
    virtual void Close() = 0;
    // Stores the pair on this element, like AddAttr; answers true.
    virtual bool SetAttr(const char16_t* name, const char16_t* value) = 0;
    // The text's id in the Book's string table (added when new); -1 for a null text.
    virtual int32_t StringRef(const char16_t* text) = 0;
};

template <class T>
struct IRun : virtual IAttrs {
    virtual void Add(const T& record) = 0;
};

struct IPara : virtual IAttrs {
    // Every creator makes the paragraph's next "TextRun[]/" (one numbering for all six kinds);
    // a style ref of -1 writes no "StyleRef".
    virtual void PlaceHolders(RefPtr<IRun<CF_PlaceHolder>>& run, int32_t styleRef) = 0;
    virtual void SpecialChars(RefPtr<IRun<CF_SpecialChar>>& run, int32_t styleRef) = 0;
    virtual void RefPoints(RefPtr<IRun<CF_RefPoint>>& run, int32_t styleRef) = 0;
    // `length` counts bytes: length / 2 units are written.
    virtual void Unicodes(RefPtr<IAttrs>& run, const uint16_t* data, int32_t length,
                          int32_t styleRef) = 0;
    virtual void Multibytes(RefPtr<IAttrs>& run, const char* data, int32_t length,
                            int32_t styleRef) = 0;
    // `length` counts units.
    virtual void WideMultibytes(RefPtr<IAttrs>& run, const uint16_t* data, int32_t length,
                                int32_t styleRef) = 0;
};

struct IStory : virtual IAttrs {
    // `index` is not used: elements are numbered in creation order.
    virtual void CreatePara(RefPtr<IPara>& para, int32_t index, int32_t styleRef) = 0;
};

struct IDoc : virtual IAttrs {
    virtual void CreateStyle(RefPtr<IAttrs>& style, int32_t index, int32_t thisStyleRef,
                             int32_t baseStyleRef) = 0;
    virtual void CreateStory(RefPtr<IStory>& story, int32_t index) = 0;
    virtual void Reserved() {}
};

struct IBook : virtual IAttrs {
    virtual void CreateDocument(RefPtr<IDoc>& doc, int32_t index) = 0;
    // Stores everything `source` delivers as the document `id`; the stream is complete on return.
    virtual void StoreQXP(int32_t id, KSInStream* source) = 0;
    virtual void Reserved() {}
    // Completes the container: the "Attrs{}" still pending (elements still held, children
    // before parents, the Book last), the string table, the code file, then the file itself,
    // which replaces the target only now. Raises on failure, and the target then stays as it
    // was. Every later change is ignored. Releasing the Book without this call completes it
    // too, reporting a failure through the warning messenger.
    virtual void Finish() = 0;
    // Gives the container up: nothing more is written and an existing target stays as it was.
    virtual void Abandon() = 0;
};

// A new Book in a new container at `path`. Storage and model failures are raised.
RefPtr<IBook> CreateExportBook(const std::string& path);
// The same for a host file spec; every failure gives a null Book.
void CreateExportBookFromSpec(RefPtr<IBook>& book, const HostFileSpec& spec);

// Record adders: each adds one record to the run.
void AddPlaceHolder(RefPtr<IRun<CF_PlaceHolder>> run, int32_t folderId, const char16_t* typeName);
void AddRefPoint(RefPtr<IRun<CF_RefPoint>> run, int32_t folderId, const char16_t* refTypeName);
void AddSpecialChar(RefPtr<IRun<CF_SpecialChar>> run, const char16_t* name, const char16_t* data);

// Sets the attribute to the 32-bit value in signed decimal, or with `hex` in lower-case
// hexadecimal without prefix (-1 is "ffffffff"); answers what SetAttr answers.
bool SetNumericAttr(IAttrs* attrs, const char16_t* name, int32_t value, bool hex);

} // namespace KS_DWX::Export
