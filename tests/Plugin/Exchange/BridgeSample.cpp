#include "BridgeSample.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include <sys/wait.h>
#include <unistd.h>

namespace bridge_test {

using namespace KS_DWX::Export;

Bytes Pattern(size_t size, uint32_t seed)
{
    Bytes bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

Bytes FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t MemorySource::read(void* buffer, uint32_t size)
{
    reads.push_back(size);
    const size_t count = std::min<size_t>(size, m_data.size() - m_next);
    if (count)
        std::memcpy(buffer, m_data.data() + m_next, count);
    m_next += count;
    return static_cast<uint32_t>(count);
}

void MemorySink::write(const void* data, uint32_t count)
{
    blocks.push_back(count);
    const auto* bytes = static_cast<const uint8_t*>(data);
    this->data.insert(this->data.end(), bytes, bytes + count);
}

std::vector<uint16_t> LongRunText()
{
    std::vector<uint16_t> units(kLongRunUnits);
    for (uint32_t i = 0; i < kLongRunUnits; ++i)
        units[i] = static_cast<uint16_t>(0x4E00 + i);  // every unit differs from its neighbours
    return units;
}

void WriteSampleBook(const std::string& path, const Bytes& document0)
{
    RefPtr<IBook> book = CreateExportBook(path);
    book->AddAttr(u"source_data_type", u"QuarkXpress 7 Win {MB=1}");
    book->AddAttr(u"maxuniqID", u"42");
    RefPtr<IDoc> doc;
    book->CreateDocument(doc, 0);
    doc->AddAttr(u"source_platform", u"win");
    RefPtr<IDoc> empty;
    book->CreateDocument(empty, 1);
    {
        MemorySource source(document0);
        book->StoreQXP(0, &source);
        book->StoreQXP(7, nullptr);
    }
    book.Reset();  // the documents still hold it
    empty.Reset();

    RefPtr<IAttrs> style;
    doc->CreateStyle(style, 0, 5, -1);
    style->SetAttr(u"stylename", u"Body");
    style.Reset();

    RefPtr<IStory> story;
    doc->CreateStory(story, 0);
    story->SetAttr(u"story_type", u"layout_cur0");
    story->SetAttr(u"sectional_pos", u"3");
    story->SetAttr(u"horizontal_pos", u"12");

    RefPtr<IPara> para;
    story->CreatePara(para, 0, -1);
    SetNumericAttr(para.Get(), u"uniqID", 42, false);

    RefPtr<IAttrs> text;
    const uint16_t hello[] = {'H', 'e', 'l', 'l', 'o'};
    para->Unicodes(text, hello, sizeof hello, -1);
    SetNumericAttr(text.Get(), u"private", -1, false);
    text->SetAttr(u"typeface", u"Arial");
    text->SetAttr(u"codepage", u"1200");

    RefPtr<IRun<CF_PlaceHolder>> holders;
    para->PlaceHolders(holders, -1);
    AddPlaceHolder(holders, 5, nullptr);
    AddPlaceHolder(holders, 7, u"anchored_box");
    SetNumericAttr(holders.Get(), u"private", 255, true);

    RefPtr<IAttrs> bytes;
    para->Multibytes(bytes, "ab\xFF", 3, -1);
    RefPtr<IAttrs> wide;
    const uint16_t controls[] = {0x85, 0x2000};
    para->WideMultibytes(wide, controls, 2, -1);
    wide->SetAttr(u"codepage", u"5");

    RefPtr<IRun<CF_SpecialChar>> specials;
    para->SpecialChars(specials, -1);
    AddSpecialChar(specials, u"tabulator", u"TempIndent");
    AddSpecialChar(specials, u"page_number", u"Last");

    RefPtr<IRun<CF_RefPoint>> points;
    para->RefPoints(points, -1);
    AddRefPoint(points, 3, u"start");
    AddRefPoint(points, 3, u"end");
    AddRefPoint(points, 9, u"point");

    RefPtr<IPara> second;
    story->CreatePara(second, 1, 2);
    RefPtr<IAttrs> longRun;
    const std::vector<uint16_t> units = LongRunText();
    second->Unicodes(longRun, units.data(), static_cast<int32_t>(units.size() * 2), 4);

    RefPtr<IStory> story1;
    doc->CreateStory(story1, 1);
    RefPtr<IPara> bare;
    story1->CreatePara(bare, 0, -1);
    // Everything goes out of scope here; the last release completes the container.
}

int RunPython(const std::string& script, const std::vector<std::string>& args, std::string& out)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char*> argv{const_cast<char*>("/usr/bin/python3"), const_cast<char*>("-c"),
                                const_cast<char*>(script.c_str())};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    char buffer[512];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace bridge_test
