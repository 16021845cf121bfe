#pragma once
// The stand-in VSS coordinator's objects (test-only): IVssAdmin, recording
// RegisterProvider and UnregisterProvider in the CoordinatorStore, and the
// IVssEnumObject that QueryProviders hands out. The records outlive the
// process; the failure switch of the store makes both calls fail.
//
// Reference counts are interlocked (the class registers as "Both"); every
// live object holds one count of LiveObjects(), which DllCanUnloadNow reads.
#include <objbase.h>
#include <vsadmin.h>
#include <vss.h>
#include <vsserror.h>
#include <windows.h>

namespace marl::testcoordinator {

// A new coordinator object answering `riid` (IUnknown or IVssAdmin).
HRESULT CreateCoordinator(REFIID riid, void** ppv);

long& LiveObjects();

}  // namespace marl::testcoordinator
