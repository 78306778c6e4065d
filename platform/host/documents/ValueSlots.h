// Joins the value slots (measure text, range attributes) to the host, with the verb that sets
// the host's decimal separator.
#pragma once

#include <string>

#include "platform/host/HostExtensions.h"
#include "platform/host/documents/DocHost.h"

namespace xthost {

// The text XAQ_MeasureText answers; comma: the host writes decimal commas.
std::string MeasureText(int32_t measure, int32_t precision, bool comma);

// Whether the host writes decimal commas (a session setting, off at start).
void SetDecimalComma(Host& host, bool comma);
bool DecimalComma(Host& host);

void RegisterValueSlots(HostExtensions& extensions, doc::DocHost& (*docsOf)(Host&));

}  // namespace xthost
