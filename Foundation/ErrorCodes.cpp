#include "Foundation/ErrorCodes.h"

namespace {

struct ErrorCodeRow {
    uint16_t code;
    const char* name;
};

constexpr ErrorCodeRow kErrorCodes[] = {
    {1000, "Wrong Parameter"}, {1001, "Low Memory"},    {1002, "Unexpected"},
    {1003, "Stack Corrupt"},   {1004, "DWX Error"},     {1005, "Create DWX"},
    {1006, "Open DWX"},        {1007, "Reserved 1007"}, {1008, "File Open"},
    {1009, "File Read"},       {1010, "File Delete"},   {1011, "File Create"},
    {1012, "File Write"},      {1013, "Unimplemented"}, {1014, "Too Many Errors"},
    {1015, "Mapper Format"},   {1016, "Reserved 1016"}, {1017, "Reserved 1017"},
    {1018, "Reserved 1018"},   {1019, "Reserved 1019"}, {1020, "Assert"},
    {1021, "Quark Assert"},
};
static_assert(sizeof kErrorCodes / sizeof kErrorCodes[0] == 22, "22 rows, 1000 to 1021");

} // namespace

const char* ErrorCodeName(uint16_t code)
{
    for (const ErrorCodeRow& row : kErrorCodes)
        if (row.code == code)
            return row.name;
    return nullptr;
}

const char* ErrorCodeNameOrUnknown(uint16_t code)
{
    const char* name = ErrorCodeName(code);
    return name ? name : "Unknown";
}
