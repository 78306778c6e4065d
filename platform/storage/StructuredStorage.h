// Structured storage: compound files with a COM-like interface.
//
// The exchange container is a compound file (the public "compound file binary format"). This
// layer reads versions 3 and 4 of that format and writes version 3, and offers the storage,
// stream and enumerator objects the container library was written against, with the numeric
// result codes, mode flags and record shapes of the original platform, so that results can be
// compared with the values the library branches on.
//
// Conventions:
// - Every operation returns an HRESULT; out-parameters are written only on success (a pointer
//   out-parameter is set to null on failure).
// - Objects are reference counted: AddRef/Release. An object handed out through an
//   out-parameter carries one reference for the caller.
// - Element names are UTF-16 (char16_t), 1 to 31 units, NUL-terminated; '/', '\\', ':' and '!'
//   are refused. Look-up ignores case (the format's upper-casing); the stored spelling is kept.
// - Names handed out (Stat, Next) are allocated with the task allocator (CoGetMalloc) and freed
//   by the caller with IMalloc::Free.
// - Direct mode only: data written through one object is seen at once through every other object
//   of the same file (clones, other streams).
// - Not thread-safe per file: one file and the objects below it belong to one thread at a time.
//   Different files may be used from different threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ---- Result codes ---------------------------------------------------------------------------

using HRESULT = int32_t;

constexpr HRESULT hresultOf(uint32_t code) { return static_cast<HRESULT>(code); }

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;

constexpr HRESULT E_UNEXPECTED = hresultOf(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = hresultOf(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = hresultOf(0x80070057u);

constexpr HRESULT STG_E_INVALIDFUNCTION = hresultOf(0x80030001u);   // bad seek, unsupported request
constexpr HRESULT STG_E_FILENOTFOUND = hresultOf(0x80030002u);      // file or element absent (or of the other type)
constexpr HRESULT STG_E_PATHNOTFOUND = hresultOf(0x80030003u);      // folder of the path absent
constexpr HRESULT STG_E_TOOMANYOPENFILES = hresultOf(0x80030004u);
constexpr HRESULT STG_E_ACCESSDENIED = hresultOf(0x80030005u);      // element open, access beyond the parent's, file not writable
constexpr HRESULT STG_E_INSUFFICIENTMEMORY = hresultOf(0x80030008u);
constexpr HRESULT STG_E_INVALIDPOINTER = hresultOf(0x80030009u);
constexpr HRESULT STG_E_WRITEFAULT = hresultOf(0x8003001Du);
constexpr HRESULT STG_E_READFAULT = hresultOf(0x8003001Eu);
constexpr HRESULT STG_E_SHAREVIOLATION = hresultOf(0x80030020u);    // the file is open elsewhere in a conflicting mode
constexpr HRESULT STG_E_LOCKVIOLATION = hresultOf(0x80030021u);
constexpr HRESULT STG_E_FILEALREADYEXISTS = hresultOf(0x80030050u); // also: the file is not a compound file
constexpr HRESULT STG_E_INVALIDPARAMETER = hresultOf(0x80030057u);
constexpr HRESULT STG_E_MEDIUMFULL = hresultOf(0x80030070u);
constexpr HRESULT STG_E_INVALIDNAME = hresultOf(0x800300FCu);
constexpr HRESULT STG_E_INVALIDFLAG = hresultOf(0x800300FFu);
constexpr HRESULT STG_E_REVERTED = hresultOf(0x80030102u);          // the file was abandoned (Revert) or failed before
constexpr HRESULT STG_E_CANTSAVE = hresultOf(0x80030103u);
constexpr HRESULT STG_E_OLDFORMAT = hresultOf(0x80030104u);
constexpr HRESULT STG_E_OLDDLL = hresultOf(0x80030105u);
constexpr HRESULT STG_E_DOCFILECORRUPT = hresultOf(0x80030109u);    // damaged compound file

// ---- Mode flags (grfMode) -------------------------------------------------------------------

constexpr uint32_t STGM_READ = 0x00000000;
constexpr uint32_t STGM_WRITE = 0x00000001;
constexpr uint32_t STGM_READWRITE = 0x00000002;
constexpr uint32_t STGM_SHARE_DENY_NONE = 0x00000040;
constexpr uint32_t STGM_SHARE_DENY_READ = 0x00000030;
constexpr uint32_t STGM_SHARE_DENY_WRITE = 0x00000020;
constexpr uint32_t STGM_SHARE_EXCLUSIVE = 0x00000010;
constexpr uint32_t STGM_CREATE = 0x00001000;
constexpr uint32_t STGM_FAILIFTHERE = 0x00000000;
constexpr uint32_t STGM_DIRECT = 0x00000000;
// Recognised only to be refused with STG_E_INVALIDFLAG: this layer works in direct mode.
constexpr uint32_t STGM_TRANSACTED = 0x00010000;
constexpr uint32_t STGM_CONVERT = 0x00020000;
constexpr uint32_t STGM_PRIORITY = 0x00040000;
constexpr uint32_t STGM_NOSCRATCH = 0x00100000;
constexpr uint32_t STGM_NOSNAPSHOT = 0x00200000;
constexpr uint32_t STGM_DIRECT_SWMR = 0x00400000;
constexpr uint32_t STGM_DELETEONRELEASE = 0x04000000;
constexpr uint32_t STGM_SIMPLE = 0x08000000;

// Element types (STATSTG::type).
constexpr uint32_t STGTY_STORAGE = 1;   // also the root
constexpr uint32_t STGTY_STREAM = 2;

// Seek origins.
constexpr uint32_t STREAM_SEEK_SET = 0;
constexpr uint32_t STREAM_SEEK_CUR = 1;
constexpr uint32_t STREAM_SEEK_END = 2;

// Stat flags.
constexpr uint32_t STATFLAG_DEFAULT = 0;   // with the name
constexpr uint32_t STATFLAG_NONAME = 1;    // pwcsName stays null

// MoveElementTo flags.
constexpr uint32_t STGMOVE_MOVE = 0;
constexpr uint32_t STGMOVE_COPY = 1;

// CoGetMalloc memory context.
constexpr uint32_t MEMCTX_TASK = 1;

// ---- Records --------------------------------------------------------------------------------

// A class identifier as held in memory (stored little-endian, field by field, 16 bytes).
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using CLSID = GUID;
static_assert(sizeof(uint32_t) + 2 * sizeof(uint16_t) + 8 == 16, "class ids are 16 bytes");

constexpr CLSID CLSID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// A time stamp in 100-nanosecond units since 1601-01-01 (FILETIME). This layer reports 0.
struct FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};

// Statistics of a storage, a stream or an enumerated element.
struct STATSTG {
    char16_t* pwcsName;        // task-allocator block, or null with STATFLAG_NONAME; the root's name is its path
    uint32_t type;             // STGTY_STORAGE or STGTY_STREAM
    uint64_t cbSize;           // stream size in bytes (0 for a storage)
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    uint32_t grfMode;          // the mode given at open or create (0 for enumerated elements)
    uint32_t grfLocksSupported;
    CLSID clsid;               // from the directory entry (null for a stream)
    uint32_t grfStateBits;
    uint32_t reserved;
};

// ---- Interfaces -----------------------------------------------------------------------------

class IUnknown {
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;   // returns the count left; the object goes at 0

protected:
    ~IUnknown() = default;            // objects go through Release
};

// Task allocator for the names handed out by Stat and Next.
class IMalloc : public IUnknown {
public:
    virtual void* Alloc(size_t size) = 0;             // null when out of memory
    virtual void* Realloc(void* block, size_t size) = 0;
    virtual void Free(void* block) = 0;               // null is ignored

protected:
    ~IMalloc() = default;
};

class IStream : public IUnknown {
public:
    // Reads up to cb bytes at the position and advances it. At or past the end: S_OK with a short
    // count or 0 (never S_FALSE). pcbRead may be null.
    virtual HRESULT Read(void* pv, uint32_t cb, uint32_t* pcbRead) = 0;
    // Writes cb bytes at the position, extending the stream (a gap after a seek past the end reads
    // as zeros). Never partly: on failure *pcbWritten is 0 and the error is STG_E_MEDIUMFULL (no
    // room; also beyond 2 GiB, the largest stream the written format holds), STG_E_WRITEFAULT
    // (I/O error) or STG_E_ACCESSDENIED (not opened for writing). After a failed write to the
    // disk the file cannot be finished any more: every change and Flush answer that error, and
    // an existing target stays as it was. Bytes that continue the stream's previous write may
    // reach the disk with a later call, so a disk failure may be answered by a later Write or
    // by Flush instead; the file is not finished then either.
    virtual HRESULT Write(const void* pv, uint32_t cb, uint32_t* pcbWritten) = 0;
    // Not in the Windows interface: Write(pv, piece), Write(pv + piece, piece)... of cb bytes in
    // all, the last piece shorter, in one call that leaves the file as those writes would. Stops
    // at the first piece that fails; *pcbWritten counts the pieces written before it.
    virtual HRESULT WritePieces(const void* pv, uint32_t cb, uint32_t piece, uint32_t* pcbWritten) = 0;
    // Origins STREAM_SEEK_SET/CUR/END. A position past the end is legal; a negative one gives
    // STG_E_INVALIDFUNCTION. plibNewPosition may be null.
    virtual HRESULT Seek(int64_t dlibMove, uint32_t dwOrigin, uint64_t* plibNewPosition) = 0;
    // Grows with zeros or shrinks; the position stays where it is.
    virtual HRESULT SetSize(uint64_t libNewSize) = 0;
    // Copies min(cb, bytes left) from this position to the destination's position, advancing both.
    virtual HRESULT CopyTo(IStream* pstm, uint64_t cb, uint64_t* pcbRead, uint64_t* pcbWritten) = 0;
    // A new stream object on the same data, with its own position starting at this one's.
    // Clones do not count as another open of the element.
    virtual HRESULT Clone(IStream** ppstm) = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, uint32_t grfStatFlag) = 0;

protected:
    ~IStream() = default;
};

// Enumerates the direct children of a storage, as a snapshot taken when it was made, in the
// format's sibling order (shorter names first, then by upper-cased code units).
class IEnumSTATSTG : public IUnknown {
public:
    // S_OK when celt records were fetched, S_FALSE when fewer (pceltFetched may be null only for
    // celt == 1). Each record's name is a task-allocator block (grfMode 0, zero times).
    virtual HRESULT Next(uint32_t celt, STATSTG* rgelt, uint32_t* pceltFetched) = 0;
    virtual HRESULT Skip(uint32_t celt) = 0;          // S_FALSE when fewer than celt were left
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumSTATSTG** ppenum) = 0; // same snapshot, same position

protected:
    ~IEnumSTATSTG() = default;
};

class IStorage : public IUnknown {
public:
    // Child elements. Modes must carry STGM_SHARE_EXCLUSIVE and no more access than this storage.
    // STGM_CREATE replaces an element of either type (a storage with its subtree); without it an
    // existing name gives STG_E_FILEALREADYEXISTS. An element that is open cannot be opened again
    // or replaced (STG_E_ACCESSDENIED). Opening an absent name, or a name of the other type, gives
    // STG_E_FILENOTFOUND. Reserved arguments must be 0 / null.
    virtual HRESULT CreateStream(const char16_t* pwcsName, uint32_t grfMode, uint32_t reserved1,
                                 uint32_t reserved2, IStream** ppstm) = 0;
    virtual HRESULT OpenStream(const char16_t* pwcsName, void* reserved1, uint32_t grfMode,
                               uint32_t reserved2, IStream** ppstm) = 0;
    virtual HRESULT CreateStorage(const char16_t* pwcsName, uint32_t grfMode, uint32_t reserved1,
                                  uint32_t reserved2, IStorage** ppstg) = 0;
    virtual HRESULT OpenStorage(const char16_t* pwcsName, IStorage* pstgPriority, uint32_t grfMode,
                                char16_t** snbExclude, uint32_t reserved, IStorage** ppstg) = 0;

    // Moves (STGMOVE_MOVE) or copies (STGMOVE_COPY) an element with its subtree and class ids into
    // pstgDest (which may belong to another file) under pwcsNewName. Absent source:
    // STG_E_FILENOTFOUND; name taken in the destination: STG_E_FILEALREADYEXISTS; destination
    // inside the element, or an open element moved: STG_E_ACCESSDENIED.
    virtual HRESULT MoveElementTo(const char16_t* pwcsName, IStorage* pstgDest,
                                  const char16_t* pwcsNewName, uint32_t grfFlags) = 0;
    virtual HRESULT DestroyElement(const char16_t* pwcsName) = 0;
    virtual HRESULT RenameElement(const char16_t* pwcsOldName, const char16_t* pwcsNewName) = 0;
    virtual HRESULT SetClass(const CLSID& clsid) = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, uint32_t grfStatFlag) = 0;
    virtual HRESULT EnumElements(uint32_t reserved1, void* reserved2, uint32_t reserved3,
                                 IEnumSTATSTG** ppenum) = 0;

    // A directory look-up that opens nothing (so it works while the element is open elsewhere):
    // S_OK with the element's type in *pType (may be null), STG_E_FILENOTFOUND when absent,
    // STG_E_INVALIDNAME for a name that cannot exist.
    virtual HRESULT LookupElement(const char16_t* pwcsName, uint32_t* pType) = 0;

    // Finishing a file opened or created for writing (on any storage of that file): writes the
    // allocation tables, directory and header, and on the first success moves the new file over
    // the target path (until then an existing target is untouched). May be called again after
    // further changes. Failures (STG_E_MEDIUMFULL, STG_E_WRITEFAULT, ...) are reported here and
    // leave the target as it was. Read-only files answer S_OK. When the last reference of a file
    // goes without a successful Flush after its last change, the layer flushes it itself (and
    // a failure there is lost): callers that must know the outcome call Flush.
    virtual HRESULT Flush() = 0;
    // Abandons a file created or opened for writing that was not flushed yet: the temporary file
    // goes and the target stays as it was. Every later call on any object of that file answers
    // STG_E_REVERTED. After a successful Flush it answers STG_E_INVALIDFUNCTION.
    virtual HRESULT Revert() = 0;

protected:
    ~IStorage() = default;
};

// ---- Entry points ---------------------------------------------------------------------------

// Path forms: the 8-bit form takes the path bytes unchanged (UTF-8 on this system); the UTF-16
// form converts to UTF-8 first.
//
// Creates a compound file: grfMode needs STGM_CREATE (replace an existing file) or
// STGM_FAILIFTHERE (STG_E_FILEALREADYEXISTS when it exists), write access and a share mode
// (STGM_SHARE_EXCLUSIVE, or 0 which means the same). The file is written to a temporary file in
// the same folder and moved over the path by IStorage::Flush. Absent folder: STG_E_PATHNOTFOUND;
// the path open elsewhere: STG_E_SHAREVIOLATION.
HRESULT StgCreateDocfile(const char* pwcsName, uint32_t grfMode, uint32_t reserved, IStorage** ppstgOpen);
HRESULT StgCreateDocfile(const char16_t* pwcsName, uint32_t grfMode, uint32_t reserved, IStorage** ppstgOpen);

// Opens a compound file. With read access, STGM_SHARE_EXCLUSIVE and STGM_SHARE_DENY_READ admit no
// other open of the file, the other share modes admit other readers (never a writer); write
// access needs STGM_SHARE_EXCLUSIVE, and its changes go to a new file that replaces the old one
// at IStorage::Flush. The sharing is an advisory lock on the file, so it also holds between
// processes. Absent file: STG_E_FILENOTFOUND; absent
// folder: STG_E_PATHNOTFOUND; not a compound file (bad signature, too short):
// STG_E_FILEALREADYEXISTS; damaged: STG_E_DOCFILECORRUPT; open elsewhere in a conflicting mode:
// STG_E_SHAREVIOLATION. pstgPriority and snbExclude must be null, reserved 0.
HRESULT StgOpenStorage(const char* pwcsName, IStorage* pstgPriority, uint32_t grfMode,
                       char16_t** snbExclude, uint32_t reserved, IStorage** ppstgOpen);
HRESULT StgOpenStorage(const char16_t* pwcsName, IStorage* pstgPriority, uint32_t grfMode,
                       char16_t** snbExclude, uint32_t reserved, IStorage** ppstgOpen);

// What the last call of this thread that answered STG_E_DOCFILECORRUPT found damaged, in words
// ("the directory's chain loops back to sector 7"), or "" when it said nothing more; taking it
// clears it. The platform this stands in for answers the code alone, but its loader knows which
// check failed, and a log that names the damage tells a reader what happened to the file.
std::string StgTakeDamage();

// The task allocator (dwMemContext must be MEMCTX_TASK). The allocator lives as long as the
// process; AddRef/Release on it are harmless.
HRESULT CoGetMalloc(uint32_t dwMemContext, IMalloc** ppMalloc);

// Runtime start and stop, kept for callers that pair them: S_OK on the first call, S_FALSE when
// already started (each successful call is paired with one OleUninitialize). pvReserved must be null.
HRESULT OleInitialize(void* pvReserved);
void OleUninitialize();
// For callers that must cope with a runtime that does not start: while failure is a failure
// code, OleInitialize answers it and starts nothing; any other value restores the normal start.
void SetOleInitializeFailure(HRESULT failure);
