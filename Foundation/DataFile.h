// CDataFile: the reader and writer of INI-style text files ("kesto.ini", the batch status
// file). Sections hold keys with a value and an optional comment; names compare without
// regard to case. The whole file is kept in memory and written back on request, or when the
// program changed it, at destruction.
//
// The text is 8-bit (UTF-8). A file that begins with a byte-order mark, as Windows editors
// write them, is read as what the mark says (UTF-8, UTF-16 little- or big-endian) and written
// back in the same form, mark included, so that the program that wrote it reads it again.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

// ";" or "#" opens a comment line; CommentStr puts the first one in front.
inline constexpr const char CommentIndicators[] = ";#";
// A key line splits at the first of these; Save writes the first one.
inline constexpr const char EqualIndicators[] = "=:";
// Trimmed, together with the EqualIndicators, from both ends of lines, keys and comments.
inline constexpr const char WhiteSpace[] = " \t\n\r";

// 0 when the two names are equal ignoring case (A to Z only), 1 otherwise.
int CompareNoCase(const std::string& a, const std::string& b);

class CDataFile {
public:
    static constexpr uint32_t AutoCreateSections = 2;   // SetValue may create a missing section
    static constexpr uint32_t AutoCreateKeys = 4;       // SetValue may create a missing key

    struct Key {
        std::string m_key;
        std::string m_value;
        std::string m_comment;
    };

    struct Section {
        std::string m_name;
        std::string m_comment;
        std::vector<Key> m_keys;
    };

    // The form of the bytes on disk. The unmarked UTF-16 forms are what some Windows tools write
    // when they save text as "Unicode" without a byte-order mark.
    enum class Encoding { Plain, Utf8Bom, Utf16LE, Utf16BE, Utf16LEUnmarked, Utf16BEUnmarked };

    CDataFile();
    virtual ~CDataFile();

    CDataFile(const CDataFile&) = delete;
    CDataFile& operator=(const CDataFile&) = delete;

    // Reads the file in place of what is in memory; false (and nothing changed) when it cannot
    // be opened. Loading does not mark the data changed.
    bool Load(const std::string& fileName);
    // The parser behind Load, on any input stream; replaces the contents as Load does but does
    // not touch the file name.
    void Load(std::istream& in);
    // The bytes of a plain file; false for a folder or a file that cannot be read.
    static bool ReadFileBytes(const std::string& fileName, std::string& bytes);
    // Loads the bytes of a whole file: its byte-order mark read and kept for Save, then the
    // text parsed as Load does. Does not touch the file name.
    void LoadBytes(const std::string& bytes);

    bool Save();
    // The bytes Save writes, in the encoding the file was read in.
    std::string FileBytes() const;
    Encoding GetEncoding() const { return m_encoding; }
    void SetFileName(const std::string& fileName);
    const std::string& GetFileName() const { return m_fileName; }
    // Removes every section (the unnamed one too), empties the file name, clears dirty.
    void Clear();

    Section* GetSection(const std::string& section);
    bool CreateSection(const std::string& section, const std::string& comment);
    Key* GetKey(const std::string& key, const std::string& section);
    bool HasKey(const std::string& key, const std::string& section);

    bool SetValue(const std::string& key, const std::string& value, const std::string& comment,
                  const std::string& section);
    std::string GetValue(const std::string& key, const std::string& section);
    std::string GetString(const std::string& key, const std::string& section);
    // True when the value contains "1", or is "true" or "yes" in any case.
    bool GetBool(const std::string& key, const std::string& section);

    int KeyCount() const;
    int SectionCount() const;
    const std::vector<Section>& GetSections() const { return m_sections; }
    bool IsDirty() const { return m_dirty; }
    // The text was written to the file by other means than Save.
    void MarkSaved() { m_dirty = false; }

    // The comment as written to a file: trimmed, "; " put in front unless it starts with a
    // comment mark, "" for an empty comment.
    static std::string CommentStr(std::string comment);

    // Trims WhiteSpace and EqualIndicators from both ends.
    static void Trim(std::string& text);
    // Splits a key line at its first EqualIndicator: answers the trimmed key, leaves the rest
    // (untrimmed) in the line.
    static std::string GetNextWord(std::string& line);
    // Formats one line printf-style, adds a line feed when missing, writes it; answers the
    // number of characters written.
    static int WriteLn(std::ostream& out, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // Diagnostics to the standard output stream with the level's tag ("<info> " and so on).
    static void Report(int level, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    uint32_t m_flags = AutoCreateSections | AutoCreateKeys;

private:
    std::vector<Section> m_sections;
    std::string m_fileName;
    bool m_dirty = false;
    Encoding m_encoding = Encoding::Plain;
};
