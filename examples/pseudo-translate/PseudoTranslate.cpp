#include "examples/pseudo-translate/PseudoTranslate.h"

#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Container/Storage/CodeFile.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/OLEStorage.h"

namespace {

constexpr char16_t kTextAndCode[] = u"VerbantTextAndCode";
constexpr char kUnicodesName[] = "!1:Unicodes";
constexpr size_t kTypeSize = 2;

bool IsUnicodesStream(const std::string& name)
{
    const size_t length = sizeof(kUnicodesName) - 1;
    return name.size() >= length && name.compare(name.size() - length, length, kUnicodesName) == 0;
}

std::vector<uint8_t> ReadAll(CF_InStream& stream)
{
    std::vector<uint8_t> bytes;
    uint8_t block[4096];
    for (;;) {
        const uint32_t got = stream.GetData(block, sizeof block);
        bytes.insert(bytes.end(), block, block + got);
        if (got < sizeof block)
            return bytes;
    }
}

struct StreamId {
    std::string name;
    uint32_t tag;
};

class Collect : public IdentifierReceiver {
public:
    explicit Collect(std::vector<StreamId>& ids) : mIds(ids) {}
    bool operator()(const char* name, uint32_t tag) override
    {
        mIds.push_back({name ? name : "", tag});
        return true;
    }

private:
    std::vector<StreamId>& mIds;
};

class Damaged : public std::exception {
public:
    explicit Damaged(std::string text) : mText(std::move(text)) {}
    const char* what() const noexcept override { return mText.c_str(); }

private:
    std::string mText;
};

// A text stream opens with its 16-bit field type; the UTF-16LE units follow.
std::vector<uint8_t> Translated(const std::vector<uint8_t>& bytes, const std::string& name)
{
    if (bytes.size() < kTypeSize || (bytes.size() - kTypeSize) % 2 != 0)
        throw Damaged("the text stream \"" + name + "\" ends inside a character");
    std::u16string text((bytes.size() - kTypeSize) / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(bytes[kTypeSize + 2 * i] | bytes[kTypeSize + 2 * i + 1] << 8);
    const std::u16string out = PseudoTranslateText(text);
    std::vector<uint8_t> result(bytes.begin(), bytes.begin() + kTypeSize);
    for (const char16_t unit : out) {
        result.push_back(static_cast<uint8_t>(unit & 0xFF));
        result.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return result;
}

// The exchange tree's code file, every stream copied, the text runs translated.
void TranslateCodeFile(OLEStorage& in, OLEStorage& out)
{
    std::unique_ptr<CF_EnumerableInStorage> source = OpenEnumerableCodeFile(in);
    std::vector<StreamId> ids;
    Collect collect(ids);
    source->EnumerateStreams(collect);
    std::unique_ptr<CF_OutStorage> target = CreateCodeFile(out, true);
    for (const StreamId& id : ids) {
        std::unique_ptr<CF_InStream> stream = source->OpenStream(id.name.c_str(), id.tag);
        if (!stream)
            throw Damaged("the directory names a stream it does not hold");
        std::vector<uint8_t> bytes = ReadAll(*stream);
        if (IsUnicodesStream(id.name))
            bytes = Translated(bytes, id.name);
        std::unique_ptr<CF_OutStream> copy = target->CreateStream(id.name.c_str(), id.tag, cf_Automatic);
        if (!bytes.empty())
            copy->PutData(bytes.data(), static_cast<uint32_t>(bytes.size()));
        copy->Finish();
    }
    target->Finish();
}

void Translate(const std::string& inPath, const std::string& outPath)
{
    OLEStorage in(inPath.c_str(), CD_OpenRead);
    if (!in.StorageExists(kTextAndCode))
        throw Damaged("not an exchange container (no \"VerbantTextAndCode\")");
    OLEStorage out(outPath.c_str(), CD_CreateWrite);
    OLEStorageEnumerator items = in.CreateEnumerator();
    while (items.Next()) {
        const char16_t* name = items.ItemName();
        if (!name)
            continue;
        const std::u16string item(name);
        if (item == kTextAndCode && items.ItemIsStorage()) {
            OLEStorage source(in, kTextAndCode, CD_OpenRead);
            OLEStorage target(out, kTextAndCode, CD_CreateWrite);
            TranslateCodeFile(source, target);
        } else {
            in.CopyItem(item.c_str(), out, nullptr, false);
        }
    }
    out.Flush();
}

} // namespace

std::u16string PseudoTranslateText(const std::u16string& text)
{
    const size_t tail = (2 * text.size() + 4) / 5;
    std::u16string out;
    out.reserve(text.size() + tail + 2);
    out += u'[';
    out += text;
    out.append(tail, u'~');
    out += u']';
    return out;
}

bool PseudoTranslateFile(const std::string& in, const std::string& out, std::string& error)
{
    try {
        Translate(in, out);
        return true;
    } catch (const FilterException& e) {
        error = "damaged container (error " + std::to_string(e.Code()) + (e.Text() ? std::string(": ") + e.Text() : "") +
                ")";
    } catch (const Damaged& e) {
        error = std::string("damaged container: ") + e.what();
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "damaged container";
    }
    std::error_code ignored;
    std::filesystem::remove(out, ignored);
    return false;
}
