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

// Files above this size are refused before they are read.
constexpr size_t kMaxDocumentFileSize = XT_MAX_DOCUMENT_FILE_BYTES;

// Parses and checks a document; throws DocumentError.
std::unique_ptr<Project> ParseDocument(const std::string& bytes);
// The canonical text of a project (checked first; throws DocumentError when it is broken).
std::string PrintDocument(Project& project);

// Reads a document file; throws DocumentError (path "" for file-level faults).
std::unique_ptr<Project> ReadDocumentFile(const std::string& path);
// Writes a temporary file beside the target and renames it over the target, so a failed save
// leaves an existing file untouched. Answers false (and leaves no temporary file) on failure,
// with the system's error number in *error when given.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, int* error = nullptr);

}  // namespace xthost::doc
