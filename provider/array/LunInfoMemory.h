#pragma once
// Ownership of the texts and arrays inside VSS's LUN descriptions.
//
// Every text and array inside a VDS_LUN_INFORMATION that VSS passes or
// receives is a COM task-memory block (CoTaskMemAlloc). The provider frees
// what it replaces and allocates what it leaves behind; VSS frees the rest.
#include "vss/VssTypes.h"

// Frees (CoTaskMemFree) and clears the four texts, every identifier's bytes,
// the identifier array, every interconnect's port and address bytes and the
// interconnect array; their counts become 0. The scalar fields stay.
void FreeLunInfo(VDS_LUN_INFORMATION& lun);

// Zeroes `dest`, then copies version, device type, type modifier, command
// queueing, bus type and disk signature of `source`, and gives `dest` its own
// copies of the four texts. `dest` must own nothing (free it first). Throws
// E_OUTOFMEMORY (as HRESULT) when a copy cannot be allocated; the copies made
// so far then belong to `dest`.
void CopyLunInfo(VDS_LUN_INFORMATION& dest, const VDS_LUN_INFORMATION& source);

// nullptr for nullptr; otherwise a task-memory copy of `text` with its
// terminator. Throws E_OUTOFMEMORY (as HRESULT) when it cannot be allocated.
char* DupCoTaskString(const char* text);

namespace marl::array {

// Replaces `slot` by a task-memory copy of `text`, freeing the old text.
// Throws E_OUTOFMEMORY and leaves `slot` unchanged when it cannot allocate.
void ReplaceCoTaskString(char*& slot, const char* text);

}  // namespace marl::array
