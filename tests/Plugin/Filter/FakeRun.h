// A run of a translated Book for tests of the text cursor: its kind, named attributes, string
// table and content units.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Plugin/Exchange/DWX_Import.h"

namespace kesto_test {

class FakeRun : public KS_DWX::Import::IRun {
public:
    explicit FakeRun(int32_t kind) : mKind(kind) {}

    const char16_t* GetText(const char16_t* name) override
    {
        auto found = attributes.find(name);
        return found == attributes.end() ? nullptr : found->second.c_str();
    }
    bool GetNumber(const char16_t* name, int32_t& value) override
    {
        const char16_t* text = GetText(name);
        if (!text)
            return false;
        const std::string digits(text, text + std::char_traits<char16_t>::length(text));
        char* end = nullptr;
        const long parsed = std::strtol(digits.c_str(), &end, 10);
        if (end == digits.c_str() || *end != '\0')
            return false;
        value = static_cast<int32_t>(parsed);
        return true;
    }
    int32_t GetTable(const char16_t* name, int32_t) override
    {
        auto found = table.find(name);
        return found == table.end() ? -1 : found->second;
    }
    uint32_t Read(void* buffer, uint32_t size) override
    {
        if (next >= units.size())
            return 0;
        const std::vector<uint8_t>& unit = units[next++];
        std::memcpy(buffer, unit.data(), std::min<std::size_t>(size, unit.size()));
        return static_cast<uint32_t>(unit.size());
    }
    int32_t Kind() override { return mKind; }

    // Appends the text as 2-byte little-endian units.
    FakeRun& Text(const std::u16string& text)
    {
        for (char16_t c : text)
            units.push_back({uint8_t(c & 0xFF), uint8_t(c >> 8)});
        return *this;
    }
    FakeRun& Record(int32_t name, int32_t data)
    {
        std::vector<uint8_t> unit;
        for (int32_t field : {name, data})
            for (int b = 0; b < 4; ++b)
                unit.push_back(uint8_t(uint32_t(field) >> (8 * b)));
        units.push_back(unit);
        return *this;
    }

    std::map<std::u16string, std::u16string> attributes;
    std::map<std::u16string, int32_t> table;
    std::vector<std::vector<uint8_t>> units;
    std::size_t next = 0;

private:
    int32_t mKind;
};

} // namespace kesto_test
