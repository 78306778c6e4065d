// The host's own document file: canonical JSON, so that the same document always gives the
// same bytes. The reader accepts members in any order but refuses unknown keys, duplicate
// keys, wrong types, out-of-range values and broken invariants with the JSON path of the
// first fault.
#pragma once

#include <memory>
#include <string>

#include "platform/host/documents/Model.h"
#include "platform/host/documents/XTDocSuites.h"

namespace xthost::doc {

// Files above this size are refused before they are read, and never written.
constexpr size_t kMaxDocumentFileSize = XT_MAX_DOCUMENT_FILE_BYTES;
// Why a file of `size` bytes is no document the host reads or writes: "" when it is not too large.
std::string DocumentSizeFault(uint64_t size);

// Parses and checks a document; throws DocumentError.
std::unique_ptr<Project> ParseDocument(const std::string& bytes);
// The canonical text of a project (checked first; throws DocumentError when it is broken).
std::string PrintDocument(Project& project);

// Reads a document file; throws DocumentError (path "" for file-level faults).
std::unique_ptr<Project> ReadDocumentFile(const std::string& path);
// Writes a temporary file beside the target and renames it over the target, so a failed save
// (or a killed host) leaves an existing file untouched. The file keeps the mode of the file it
// replaces; a new file gets the process's default. Answers false (and leaves no temporary file)
// on failure, with the system's error number in *error when given.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, int* error = nullptr);

// The suffix of the host's temporary files beside its targets (see platform/fs/TempFiles.h):
// a host killed while writing leaves one, and its next write into that folder removes it.
extern const char kHostTempSuffix[];

// Named points inside the writers at which a test may stop the host, to see what a crash there
// leaves: "file.written" (a file's temporary copy is complete, not yet renamed) and "pdf.page"
// (a page of a PDF is written). Null: nothing happens there.
using WritePointHook = void (*)(const char* point);
void SetWritePointHook(WritePointHook hook);
void ReachWritePoint(const char* point);

}  // namespace xthost::doc
