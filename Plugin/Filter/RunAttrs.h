// The named attributes of one exchange run as the character mapping sees them: a writer on
// export, a reader on import. The exchange bridge's run objects offer them, so the mapping
// and the position attributes never touch the document model themselves.
#pragma once

#include <cstdint>
#include <string>

class RunAttrWriter {
public:
    // Stores the pair on the run; false when the run refuses it.
    virtual bool SetAttr(const std::u16string& name, const std::u16string& value) = 0;

protected:
    ~RunAttrWriter() = default;
};

class RunAttrReader {
public:
    // The run's value of the name; false (value untouched) when the run does not hold it.
    virtual bool GetAttr(const std::u16string& name, std::u16string& value) const = 0;
    // The run's value of the name as a number, read whole by the exchange file's one number
    // reader; false (value untouched) when the run does not hold it or it does not read whole.
    virtual bool GetNumber(const std::u16string& name, int32_t& value) const = 0;

protected:
    ~RunAttrReader() = default;
};
