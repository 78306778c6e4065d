// Values the host formats or derives for a module: the text of a measure and the attributes of
// a range of story text.
#pragma once

#include <cstdint>

#include "platform/host/documents/XTTextSuites.h"

// The text of a 16.16 measure at a precision (1, 10, 100, 1000 or 10000 parts of a unit):
// rounded to the nearest part (halves away from zero), without trailing zeros, with the
// host's decimal separator (a point, or a comma while the host is set to decimal commas).
// A text that does not fit the buffer (size bytes with its zero) answers XT_ERR_PARAM.
XT_SLOT(XAQ_MeasureText, XT_SUITE_XAQ, 100, int32_t (*)(int32_t measure, int32_t precision, char* buffer, int32_t size));

// Text attribute codes of a range.
enum : int32_t { XT_TEXT_ATTRIBUTE_STYLE_SHEET = 55 };
// Attribute `code` of [start, end) of a story (a null text handle: the current box's story).
// Code 55 answers the style sheet id of the paragraphs the range touches, -1 when they have
// none or differ. Other codes answer XT_ERR_PARAM.
XT_SLOT(XTY_RangeAttribute, XT_SUITE_XTY, 126, int32_t (*)(XTHandle text, int32_t start, int32_t end, int32_t code, int32_t* value));
