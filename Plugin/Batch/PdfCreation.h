// PDF creation: the PDF of the current job's source document written to its target by the
// host's PDF export, and the one probe per process of how the host names the PDF it writes.
#pragma once

#include <cstdint>

// 1 while a PDF creation runs: only then does the PDF export hook hand the host the job's name
// and style.
extern uint8_t PdfHookActive;

// The PDF of CurrentJob's source into its target. Without probe, the general log tells the
// creation and its outcome. True only when the host's export answered 0, a non-empty PDF is
// at the target afterwards and the document closed; false when skipped or failed.
bool CreatePdf(bool probe);

// The new PdfMode for mode: 3 probes the host (1 the host adds ".pdf" to the name it is given,
// 2 it writes the name as given, 0 no PDF was found); 0 and 2 answer 0; other values answer 3.
// The probe works in a fresh folder of its own under the host's temporary folder and removes
// it again, and installs the module's three output styles.
int32_t PreparePdfMode(int32_t mode);
