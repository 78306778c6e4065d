// A run's attributes held in a map, for the tests of what writes and reads them; names in
// `refused` are refused, a name equal to `throwOn` throws.
#pragma once

#include <initializer_list>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Container/Model/AttrsSet.h"
#include "Plugin/Filter/RunAttrs.h"

namespace kesto_test {

class MapRunAttrs : public RunAttrWriter, public RunAttrReader {
public:
    MapRunAttrs() = default;
    MapRunAttrs(std::initializer_list<std::pair<const std::u16string, std::u16string>> pairs) : values(pairs) {}

    bool SetAttr(const std::u16string& name, const std::u16string& value) override
    {
        if (refused.count(name))
            return false;
        if (name == throwOn)
            throw std::runtime_error("refused by the test");
        values[name] = value;
        order.push_back(name);
        return true;
    }
    bool GetAttr(const std::u16string& name, std::u16string& value) const override
    {
        auto at = values.find(name);
        if (at == values.end())
            return false;
        value = at->second;
        return true;
    }
    bool GetNumber(const std::u16string& name, int32_t& value) const override
    {
        auto at = values.find(name);
        dwx_long number = 0;
        if (at == values.end() || at->second.find(u'\0') != std::u16string::npos ||
            !DWX_AttrsSet::GetNumericValue(at->second.c_str(), number))
            return false;
        value = static_cast<int32_t>(number);
        return true;
    }
    // The value, or "<absent>".
    std::u16string At(const std::u16string& name) const
    {
        auto at = values.find(name);
        return at == values.end() ? u"<absent>" : at->second;
    }

    std::map<std::u16string, std::u16string> values;
    std::vector<std::u16string> order;
    std::set<std::u16string> refused;
    std::u16string throwOn;
};

}  // namespace kesto_test
