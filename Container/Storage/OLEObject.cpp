#include "Container/Storage/OLEObject.h"

#include <sys/stat.h>

#include "Container/Storage/Errors.h"
#include "platform/storage/StructuredStorage.h"

OLEObject::~OLEObject() = default;

int OLEObject::ResultCode(int32_t result) {
  switch (static_cast<uint32_t>(result)) {
    case 0x800300FCu: return FE_StorageInvalidName;         // STG_E_INVALIDNAME
    case 0x80030057u:                                       // STG_E_INVALIDPARAMETER
    case 0x80070057u: return FE_StorageInvalidParameter;    // E_INVALIDARG
    case 0x80030009u: return FE_StorageInvalidPointer;      // STG_E_INVALIDPOINTER
    case 0x80030001u:                                       // STG_E_INVALIDFUNCTION
    case 0x800300FFu: return FE_StorageInvalidFunction;     // STG_E_INVALIDFLAG
    case 0x80030104u:                                       // STG_E_OLDFORMAT
    case 0x80030105u: return FE_StorageOldFormat;           // STG_E_OLDDLL
    case 0x80030002u:                                       // STG_E_FILENOTFOUND
    case 0x80030003u: return FE_StorageFileNotFound;        // STG_E_PATHNOTFOUND
    case 0x80030005u:                                       // STG_E_ACCESSDENIED
    case 0x80030020u:                                       // STG_E_SHAREVIOLATION
    case 0x80030021u: return FE_StorageAccessDenied;        // STG_E_LOCKVIOLATION
    case 0x80030050u: return FE_StorageAlreadyExists;       // STG_E_FILEALREADYEXISTS
    case 0x80030102u: return FE_StorageReverted;            // STG_E_REVERTED
    case 0x00000001u: return FE_StorageFalse;               // S_FALSE
    case 0x80030103u: return FE_StorageCantSave;            // STG_E_CANTSAVE
    case 0x80030070u: return FE_StorageMediumFull;          // STG_E_MEDIUMFULL
    case 0x8003001Du: return FE_StorageWriteFault;          // STG_E_WRITEFAULT
    case 0x80030004u: return FE_StorageTooManyOpenFiles;    // STG_E_TOOMANYOPENFILES
    case 0x8000FFFFu: return FE_StorageUnexpected;          // E_UNEXPECTED
    case 0x80030109u: return FE_StorageCorrupt;             // STG_E_DOCFILECORRUPT
    case 0x80030008u:                                       // STG_E_INSUFFICIENTMEMORY
    case 0x8007000Eu: return FE_StorageOutOfMemory;         // E_OUTOFMEMORY
    default: return FE_StorageFailure;
  }
}

void OLEObject::Abort(int32_t result, const char16_t* item) {
  // A damaged file is said with the damage the platform found (which check of the file failed).
  const std::string damage = StgTakeDamage();
  if (result == STG_E_DOCFILECORRUPT && !damage.empty())
    throw FilterException(FE_StorageCorrupt, std::string(FilterErrorText(FE_StorageCorrupt)) + ": " + damage);
  // Every failure is raised, however often the medium was found full before: a storage error
  // that went unreported would let a broken container pass for a good one.
  Error(ResultCode(result), item ? item : u"");
}

bool OLEObject::Exists(const char* path) {
  struct stat info;
  return path && ::stat(path, &info) == 0;
}
