#include "Foundation/DataFile.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/Folders.h"
#include "platform/fs/NativeFS.h"
#include "platform/fs/TempFiles.h"
#include "platform/host/Utf8.h"

namespace {

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsTrimmed(char c)
{
    return c != '\0' && (std::strchr(WhiteSpace, c) || std::strchr(EqualIndicators, c));
}

bool IsCommentIndicator(char c)
{
    return c != '\0' && std::strchr(CommentIndicators, c);
}

// printf-style formatting into a string of any length.
std::string FormatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void EndLine(std::string& text)
{
    if (text.empty() || (text.back() != '\n' && text.back() != '\r'))
        text += '\n';
}

const char kUtf8Mark[] = "\xEF\xBB\xBF";

bool StartsWith(const std::string& bytes, const char* mark, std::size_t length)
{
    return bytes.size() >= length && bytes.compare(0, length, mark, length) == 0;
}

// UTF-16 bytes (after any mark) as UTF-8; a lone surrogate, and an odd last byte, become
// U+FFFD.
std::string FromUtf16(const std::string& bytes, bool bigEndian)
{
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        units += static_cast<char16_t>(bigEndian ? (first << 8 | second) : (second << 8 | first));
    }
    if (bytes.size() % 2 != 0)
        units += u'\uFFFD';
    return xthost::Utf16ToUtf8(units);
}

// A data file begins with ASCII (a section, a key or a comment), so UTF-16 without a mark shows
// as zero bytes beside its first two characters: -1 for little-endian, 1 for big-endian, 0 when
// the bytes do not read so. Left unread, such a file is a run of empty lines, and a status file
// written that way would never run nor be answered.
int UnmarkedUtf16(const std::string& bytes)
{
    if (bytes.size() < 4)
        return 0;
    const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (at(0) != 0 && at(0) < 0x80 && at(1) == 0 && at(2) != 0 && at(2) < 0x80 && at(3) == 0)
        return -1;
    if (at(0) == 0 && at(1) != 0 && at(1) < 0x80 && at(2) == 0 && at(3) != 0 && at(3) < 0x80)
        return 1;
    return 0;
}

std::string ToUtf16(const std::string& text, bool bigEndian)
{
    std::string bytes;
    for (const char16_t unit : xthost::Utf8ToUtf16(text)) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

} // namespace

int CompareNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return 1;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return 1;
    return 0;
}

CDataFile::CDataFile()
{
    Clear();
    m_sections.push_back(Section{});
}

CDataFile::~CDataFile()
{
    if (m_dirty)
        Save();
}

void CDataFile::Clear()
{
    m_sections.clear();
    m_fileName.clear();
    m_dirty = false;
    m_encoding = Encoding::Plain;
}

void CDataFile::Trim(std::string& text)
{
    std::size_t end = text.size();
    while (end > 0 && IsTrimmed(text[end - 1]))
        --end;
    std::size_t begin = 0;
    while (begin < end && IsTrimmed(text[begin]))
        ++begin;
    text = text.substr(begin, end - begin);
}

std::string CDataFile::GetNextWord(std::string& line)
{
    std::string word;
    const std::size_t separator = line.find_first_of(EqualIndicators);
    if (separator == std::string::npos) {
        word.swap(line);
    } else {
        word = line.substr(0, separator);
        line.erase(0, separator + 1);
    }
    Trim(word);
    return word;
}

std::string CDataFile::CommentStr(std::string comment)
{
    Trim(comment);
    if (comment.empty())
        return comment;
    if (!IsCommentIndicator(comment[0]))
        return std::string(1, CommentIndicators[0]) + " " + comment;
    return comment;
}

bool CDataFile::ReadFileBytes(const std::string& fileName, std::string& bytes)
{
    // Never through a link that another user may have put on the way: that user would choose
    // what the program reads, a status file's job among it. A folder is no data file, and a pipe
    // must not block the host.
    int opened = -1;
    std::string refused;
    if (platform::fs::OpenUnderRule(fileName, O_RDONLY | O_NONBLOCK, opened, &refused) != 0) {
        if (!refused.empty())
            Report(2, "[CDataFile::Load] \"%s\" is not read: %s", fileName.c_str(), refused.c_str());
        return false;
    }
    const platform::fs::UniqueFd file(opened);
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    bytes.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

bool CDataFile::Load(const std::string& fileName)
{
    std::string bytes;
    if (!ReadFileBytes(fileName, bytes)) {
        Report(1, "[CDataFile::Load] Unable to open file. Does it exist?");
        return false;
    }
    LoadBytes(bytes);
    SetFileName(fileName);
    m_dirty = false;
    return true;
}

void CDataFile::LoadBytes(const std::string& bytes)
{
    Encoding encoding = Encoding::Plain;
    std::string text;
    if (StartsWith(bytes, kUtf8Mark, 3)) {
        encoding = Encoding::Utf8Bom;
        text = bytes.substr(3);
    } else if (StartsWith(bytes, "\xFF\xFE", 2)) {
        encoding = Encoding::Utf16LE;
        text = FromUtf16(bytes.substr(2), false);
    } else if (StartsWith(bytes, "\xFE\xFF", 2)) {
        encoding = Encoding::Utf16BE;
        text = FromUtf16(bytes.substr(2), true);
    } else if (const int order = UnmarkedUtf16(bytes)) {
        encoding = order < 0 ? Encoding::Utf16LEUnmarked : Encoding::Utf16BEUnmarked;
        text = FromUtf16(bytes, order > 0);
    } else {
        text = bytes;
    }
    std::istringstream in(text);
    Load(in);
    m_encoding = encoding;
}

void CDataFile::Load(std::istream& in)
{
    // A reload starts afresh, so a key that the file no longer holds does not survive.
    const std::string fileName = m_fileName;
    Clear();
    m_fileName = fileName;
    m_sections.push_back(Section{});

    const uint32_t savedFlags = m_flags;
    m_flags |= AutoCreateSections | AutoCreateKeys;

    std::string sectionName;   // the current section; the unnamed one first
    std::string comment;       // comment lines waiting for the next key or section
    std::string line;
    while (std::getline(in, line)) {
        // A line ends at a zero byte, as a C string would.
        const std::size_t zero = line.find('\0');
        if (zero != std::string::npos)
            line.erase(zero);
        Trim(line);
        if (line.empty())
            continue;

        if (IsCommentIndicator(line[0])) {
            comment += '\n';
            comment += line;
        } else if (line[0] == '[') {
            line.erase(0, 1);
            const std::size_t close = line.rfind(']');
            if (close != std::string::npos)
                line.erase(close, 1);
            CreateSection(line, comment);
            if (const Section* section = GetSection(line))
                sectionName = section->m_name;
            comment.clear();
        } else {
            const std::string key = GetNextWord(line);
            if (!key.empty() && !line.empty()) {
                SetValue(key, line, comment, sectionName);
                comment.clear();
            }
        }
    }

    m_flags = (m_flags & ~(AutoCreateSections | AutoCreateKeys)) |
              (savedFlags & (AutoCreateSections | AutoCreateKeys));
    m_dirty = false;
}

bool CDataFile::Save()
{
    if (KeyCount() == 0 && SectionCount() == 0) {
        Report(1, "[CDataFile::Save] Nothing to save.");
        return false;
    }
    if (m_fileName.empty()) {
        Report(3, "[CDataFile::Save] No filename has been set.");
        return false;
    }
    // The whole text first, then one replacing write: a failure part-way leaves the old file
    // (the settings, or a controller's batch file) as it was.
    if (platform::fs::ReplaceFile(m_fileName, FileBytes()) != 0) {
        Report(3, "[CDataFile::Save] Unable to save file.");
        return false;
    }
    m_dirty = false;
    // No run reports a data file's save (the settings the dialogs change): its new name is on
    // the disk at once, or the save failed.
    if (platform::fs::SyncFolderOf(m_fileName) != 0) {
        Report(3, "[CDataFile::Save] The saved file may not survive a power cut.");
        return false;
    }
    return true;
}

std::string CDataFile::FileBytes() const
{
    std::ostringstream out;
    for (const Section& section : m_sections) {
        bool wroteComment = false;
        if (!section.m_comment.empty()) {
            WriteLn(out, "\n%s", CommentStr(section.m_comment).c_str());
            wroteComment = true;
        }
        if (!section.m_name.empty())
            WriteLn(out, "%s[%s]", wroteComment ? "" : "\n", section.m_name.c_str());
        for (const Key& key : section.m_keys) {
            if (key.m_key.empty() || key.m_value.empty())
                continue;
            const char* lineBreak = key.m_comment.empty() ? "" : "\n";
            WriteLn(out, "%s%s%s%s%c%s", lineBreak, CommentStr(key.m_comment).c_str(), lineBreak,
                    key.m_key.c_str(), EqualIndicators[0], key.m_value.c_str());
        }
    }
    const std::string text = out.str();
    switch (m_encoding) {
    case Encoding::Utf8Bom: return kUtf8Mark + text;
    case Encoding::Utf16LE: return "\xFF\xFE" + ToUtf16(text, false);
    case Encoding::Utf16BE: return "\xFE\xFF" + ToUtf16(text, true);
    case Encoding::Utf16LEUnmarked:
    case Encoding::Utf16BEUnmarked: {
        // Kept without a mark as it came, unless the text would not read back as UTF-16 of
        // this order: then the mark goes in front.
        const bool bigEndian = m_encoding == Encoding::Utf16BEUnmarked;
        const std::string bytes = ToUtf16(text, bigEndian);
        if (UnmarkedUtf16(bytes) == (bigEndian ? 1 : -1))
            return bytes;
        return (bigEndian ? "\xFE\xFF" : "\xFF\xFE") + bytes;
    }
    default:
        // Text that would read back as a byte-order mark gets a mark of its own in front.
        if (StartsWith(text, kUtf8Mark, 3) || StartsWith(text, "\xFF\xFE", 2) || StartsWith(text, "\xFE\xFF", 2))
            return kUtf8Mark + text;
        return text;
    }
}

void CDataFile::SetFileName(const std::string& fileName)
{
    if (!m_fileName.empty() && CompareNoCase(m_fileName, fileName) != 0) {
        m_dirty = true;
        Report(2, "[CDataFile::SetFileName] The filename has changed from <%s> to <%s>.",
               m_fileName.c_str(), fileName.c_str());
    }
    m_fileName = fileName;
}

CDataFile::Section* CDataFile::GetSection(const std::string& section)
{
    for (Section& candidate : m_sections)
        if (CompareNoCase(candidate.m_name, section) == 0)
            return &candidate;
    return nullptr;
}

bool CDataFile::CreateSection(const std::string& section, const std::string& comment)
{
    if (GetSection(section)) {
        Report(1, "[CDataFile::CreateSection] Section <%s> allready exists. Aborting.",
               section.c_str());
        return false;
    }
    m_sections.push_back(Section{section, comment, {}});
    m_dirty = true;
    return true;
}

CDataFile::Key* CDataFile::GetKey(const std::string& key, const std::string& section)
{
    Section* found = GetSection(section);
    if (!found)
        return nullptr;
    for (Key& candidate : found->m_keys)
        if (CompareNoCase(candidate.m_key, key) == 0)
            return &candidate;
    return nullptr;
}

bool CDataFile::HasKey(const std::string& key, const std::string& section)
{
    return GetKey(key, section) != nullptr;
}

bool CDataFile::SetValue(const std::string& key, const std::string& value,
                         const std::string& comment, const std::string& section)
{
    Key* found = GetKey(key, section);
    Section* target = GetSection(section);
    if (!target) {
        if (!(m_flags & AutoCreateSections))
            return false;
        if (!CreateSection(section, ""))
            return false;
        target = GetSection(section);
        if (!target)
            return false;
    }
    if (!found) {
        if (value.empty() || !(m_flags & AutoCreateKeys))
            return false;
        target->m_keys.push_back(Key{key, value, comment});
        m_dirty = true;
        return true;
    }
    found->m_value = value;
    found->m_comment = comment;
    m_dirty = true;
    return true;
}

std::string CDataFile::GetValue(const std::string& key, const std::string& section)
{
    const Key* found = GetKey(key, section);
    return found ? found->m_value : std::string();
}

std::string CDataFile::GetString(const std::string& key, const std::string& section)
{
    return GetValue(key, section);
}

bool CDataFile::GetBool(const std::string& key, const std::string& section)
{
    const std::string value = GetValue(key, section);
    return value.find('1') != std::string::npos || CompareNoCase(value, "true") == 0 ||
           CompareNoCase(value, "yes") == 0;
}

int CDataFile::KeyCount() const
{
    int count = 0;
    for (const Section& section : m_sections)
        count += static_cast<int>(section.m_keys.size());
    return count;
}

int CDataFile::SectionCount() const
{
    return static_cast<int>(m_sections.size());
}

int CDataFile::WriteLn(std::ostream& out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    EndLine(text);
    out << text;
    return static_cast<int>(text.size());
}

void CDataFile::Report(int level, const char* format, ...)
{
    static const char* const kTags[] = {"<debug> ", "<info> ",     "<warn> ",
                                        "<error> ", "<fatal> ",    "<critical> "};
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    EndLine(text);
    if (level >= 0 && level < static_cast<int>(sizeof kTags / sizeof kTags[0]))
        std::cout << kTags[level];
    std::cout << text;
}
