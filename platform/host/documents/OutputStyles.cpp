#include "platform/host/documents/OutputStyles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <expat.h>

#include "platform/host/documents/Model.h"

namespace xthost::doc {

const char* const kDefaultPdfStyleName = "Default PDF Output Style";

namespace {

constexpr int kMaxDepth = 64;

struct ParseState {
    XML_Parser parser = nullptr;
    OutputStyle* style = nullptr;
    std::string error;
    std::vector<std::string> path;  // element names from the root
    std::string xtid;               // of the OutputSettings being read
    bool root = false;
};

void Fail(ParseState& s, const std::string& error)
{
    if (s.error.empty())
        s.error = error;
    XML_StopParser(s.parser, XML_FALSE);
}

// "4718592.000000" -> 4718592; a resolution must be a whole 16.16 value of 1 to 4800 dpi.
bool Resolution(const char* text, int32_t* value)
{
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != 0 || !(v >= 65536.0 && v <= 4800.0 * 65536.0))
        return false;
    *value = static_cast<int32_t>(v);
    return true;
}

bool Flag(const char* text) { return std::strtod(text, nullptr) != 0.0; }

void XMLCALL Start(void* data, const XML_Char* name, const XML_Char** attrs)
{
    auto& s = *static_cast<ParseState*>(data);
    if (s.path.size() >= kMaxDepth)
        return Fail(s, "nested deeper than 64 elements");
    const std::string element = name;
    s.path.push_back(element);
    auto attr = [&](const char* key) -> const char* {
        for (const XML_Char** a = attrs; a[0]; a += 2)
            if (std::strcmp(a[0], key) == 0)
                return a[1];
        return nullptr;
    };
    if (s.path.size() == 1) {
        if (element != "OutputStyle")
            return Fail(s, "the root element is " + element + ", not OutputStyle");
        const char* n = attr("Name");
        const char* media = attr("OutputMedia");
        if (!n || !*n || !media || !*media)
            return Fail(s, "OutputStyle needs Name and OutputMedia");
        if (std::strlen(n) > 255)
            return Fail(s, "the Name is longer than 255 bytes");
        s.style->name = n;
        s.style->media = media;
        s.root = true;
        return;
    }
    if (s.path.size() == 2 && element == "OutputSettings") {
        const char* id = attr("XTid");
        s.xtid = id ? id : "";
        return;
    }
    if (s.xtid != "XPDF")
        return;
    if (element == "DocInfo") {
        for (auto [key, field] : {std::pair{"Title", &s.style->title}, {"Author", &s.style->author},
                                  {"Subject", &s.style->subject}, {"Keywords", &s.style->keywords}})
            if (const char* v = attr(key))
                *field = v;
    } else if (element == "ColorImage" || element == "GrayScaleImage" || element == "MonochromeImage") {
        int32_t* field = element == "ColorImage"       ? &s.style->colourResolution
                         : element == "GrayScaleImage" ? &s.style->grayResolution
                                                       : &s.style->monoResolution;
        if (const char* v = attr("ResolutionValue"); v && !Resolution(v, field))
            return Fail(s, element + " has the resolution \"" + v + "\"");
    } else if (element == "PageOptions") {
        if (const char* v = attr("Spreads"))
            s.style->spreads = Flag(v);
        if (const char* v = attr("IncludeBlankPages"))
            s.style->includeBlankPages = Flag(v);
    }
}

void XMLCALL End(void* data, const XML_Char*)
{
    auto& s = *static_cast<ParseState*>(data);
    if (s.path.size() == 2)
        s.xtid.clear();
    if (!s.path.empty())
        s.path.pop_back();
}

void XMLCALL Doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int)
{
    Fail(*static_cast<ParseState*>(data), "a document type declaration is not allowed");
}

}  // namespace

bool ParseOutputStyle(const std::string& xml, OutputStyle* style, std::string* error)
{
    if (xml.size() > kMaxOutputStyleBytes) {
        *error = "larger than 1 MiB";
        return false;
    }
    *style = OutputStyle{};
    // The built-in defaults apply where a file says nothing.
    style->includeBlankPages = true;
    ParseState s;
    s.style = style;
    s.parser = XML_ParserCreate("UTF-8");
    if (!s.parser) {
        *error = "out of memory";
        return false;
    }
    XML_SetUserData(s.parser, &s);
    XML_SetElementHandler(s.parser, Start, End);
    XML_SetStartDoctypeDeclHandler(s.parser, Doctype);
    const XML_Status status = XML_Parse(s.parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE);
    if (status == XML_STATUS_ERROR && s.error.empty())
        s.error = std::string(XML_ErrorString(XML_GetErrorCode(s.parser))) + " at line " +
                  std::to_string(XML_GetCurrentLineNumber(s.parser));
    XML_ParserFree(s.parser);
    if (s.error.empty() && !s.root)
        s.error = "no OutputStyle element";
    if (!s.error.empty()) {
        *error = s.error;
        return false;
    }
    style->xml = xml;
    return true;
}

OutputStyles::OutputStyles()
{
    OutputStyle builtIn;
    builtIn.name = kDefaultPdfStyleName;
    builtIn.media = "XPDF";
    Add(builtIn);
}

int32_t OutputStyles::Add(OutputStyle style)
{
    const int32_t handle = static_cast<int32_t>(uint32_t(kTag) << 24 | ++serial_);
    styles_.emplace(handle, std::move(style));
    return handle;
}

int32_t OutputStyles::Import(const std::string& xml, std::string* error)
{
    OutputStyle style;
    if (!ParseOutputStyle(xml, &style, error))
        return HostErr::NotADocument;
    if (Find(style.name) != 0) {
        *error = "a style named \"" + style.name + "\" exists";
        return HostErr::DuplicateName;
    }
    Add(std::move(style));
    return HostErr::Ok;
}

int32_t OutputStyles::Find(const std::string& name) const
{
    for (const auto& [handle, style] : styles_)
        if (style.name == name)
            return handle;
    return 0;
}

int32_t OutputStyles::Default(const std::string& media) const
{
    return media == "XPDF" ? Find(kDefaultPdfStyleName) : 0;
}

const OutputStyle* OutputStyles::Get(int32_t handle) const
{
    auto it = styles_.find(handle);
    return it == styles_.end() ? nullptr : &it->second;
}

bool OutputStyles::Remove(const std::string& name)
{
    const int32_t handle = Find(name);
    if (handle == 0 || name == kDefaultPdfStyleName)
        return false;
    styles_.erase(handle);
    return true;
}

std::vector<std::string> OutputStyles::Names() const
{
    std::vector<std::string> names;
    for (const auto& entry : styles_)
        names.push_back(entry.second.name);
    return names;
}

}  // namespace xthost::doc
