// The code file: many named byte streams packed into one structured-storage stream
// ("VerbantCodeFile"), with the format version in a summary property set beside it.
//
// Streams are identified by an 8-bit name and a 32-bit tag. Their bytes are stored in pages of
// at most 4096 bytes (optionally one zlib stream over the whole stream), found through a chunk
// table per stream and a directory written when the writer is finished.
//
// Lifetimes: the caller owns every object these functions return. Streams and folders must be
// released before the code file they belong to. Finishing the writer finishes every stream that
// is still open; such a stream then refuses further data. Closing the reader detaches every
// stream that is still open; such a stream then refuses to read.
#pragma once

#include "Container/Storage/MemFile.h"
#include "Container/Storage/PropertySet.h"
#include "Container/Storage/Streams.h"
#include "Container/Storage/Variant.h"

#include <cstdint>
#include <memory>

class OLEStorage;

// Stream compression requested at creation.
enum CF_Compression : int32_t {
  cf_Stored = 0,
  cf_Compressed = 1,
  cf_Automatic = 2,  // decided by the first 1024 bytes
};

// Receives (name, tag) pairs of an enumeration; answers false to stop it.
class IdentifierReceiver {
 public:
  virtual ~IdentifierReceiver() = default;
  virtual bool operator()(const char* name, uint32_t tag) = 0;
};

class CF_OutStream : public OutStream {
 public:
  // Writes what is pending and registers the stream with its code file; raises on failure.
  // The destructor finishes a stream that was not finished and reports a failure to the
  // warning messenger.
  virtual void Finish() = 0;
};

class CF_InStream : public InStream {};

class CF_OutStorage {
 public:
  // Finishes the file when Finish was not called; a failure then goes to the warning messenger.
  virtual ~CF_OutStorage() = default;
  virtual void SetProperty(int32_t id, const Variant& value) = 0;
  virtual std::unique_ptr<CF_OutStream> CreateStream(const char* name, uint32_t tag,
                                                     int32_t compression) = 0;
  // Gives a still-open stream a new name and tag and answers it (owned by its creator); null
  // when no open stream has the old name and tag, or the new ones are taken.
  virtual CF_OutStream* RenameStream(const char* oldName, uint32_t oldTag, const char* newName,
                                     uint32_t newTag) = 0;
  // Writes the version properties, every still-open stream, the directory and the header.
  // Raises on failure; the file is readable only after it.
  virtual void Finish() = 0;
};

class CF_InStorage {
 public:
  virtual ~CF_InStorage() = default;
  // The property of that id, empty when absent.
  virtual Variant GetProperty(int32_t id) = 0;
  // Null when the name or the (name, tag) pair is not in the file.
  virtual std::unique_ptr<CF_InStream> OpenStream(const char* name, uint32_t tag) = 0;
};

class CF_EnumerableInStorage : public virtual CF_InStorage {
 public:
  // Calls the receiver for every stream in directory order (ascending tag, then id); false as
  // soon as the receiver answers false.
  virtual bool EnumerateStreams(IdentifierReceiver& receiver) = 0;
};

// Where a code file's two stored items live: the code stream and the summary property set.
class CF_Medium {
 public:
  virtual ~CF_Medium() = default;
  // The code stream, created empty for writing; it stays owned by the medium.
  virtual OutFile& CreateCodeStream() = 0;
  virtual void PutSummary(const PropertySet& summary) = 0;
  // The code stream, opened for reading; it stays owned by the medium.
  virtual InFile& OpenCodeStream() = 0;
  virtual void GetSummary(PropertySet& summary) = 0;
};

// A medium in memory, for tools and tests: two memory files owned by the caller. An empty
// summary file stands for an absent property set.
class CF_MemoryMedium : public CF_Medium {
 public:
  CF_MemoryMedium(MemFile& code, MemFile& summary) : m_code(code), m_summary(summary) {}
  OutFile& CreateCodeStream() override;
  void PutSummary(const PropertySet& summary) override;
  InFile& OpenCodeStream() override;
  void GetSummary(PropertySet& summary) override;

 private:
  MemFile& m_code;
  MemFile& m_summary;
};

// The medium of a structured storage: the stream "VerbantCodeFile" and the property-set stream
// U+0005 "VerbantSummaryInformation".
std::unique_ptr<CF_Medium> OLEStorageMedium(OLEStorage storage);

// `compress` allows compression; without it every stream is stored whatever its creator asks.
std::unique_ptr<CF_OutStorage> CreateCodeFile(OLEStorage storage, bool compress);
std::unique_ptr<CF_OutStorage> CreateCodeFile(std::unique_ptr<CF_Medium> medium, bool compress);
// Reading checks the version (34000 when newer) and reads the directory (34001 when cut short).
std::unique_ptr<CF_InStorage> OpenCodeFile(OLEStorage storage);
std::unique_ptr<CF_EnumerableInStorage> OpenEnumerableCodeFile(OLEStorage storage);
std::unique_ptr<CF_EnumerableInStorage> OpenEnumerableCodeFile(std::unique_ptr<CF_Medium> medium);

// Names of the stored items and the version this library writes.
extern const char16_t kCodeFileStreamName[];
extern const char16_t kCodeFileSummaryName[];
constexpr int32_t kCodeFileMajorVersionId = 3001;
constexpr int32_t kCodeFileMinorVersionId = 3000;
constexpr uint16_t kCodeFileMajorVersion = 1;
constexpr uint16_t kCodeFileMinorVersion = 1;
