#pragma once
// The stand-in VSS coordinator's objects (test-only): IVssAdmin, recording
// RegisterProvider and UnregisterProvider in the CoordinatorStore, and the
// IVssEnumObject that QueryProviders hands out. The records outlive the
// process; the failure switch of the store makes both calls fail.
// Reference counting: StandInCom.h.
#include <objbase.h>
#include <vsadmin.h>
#include <vss.h>
#include <vsserror.h>
#include <windows.h>

namespace marl::testcoordinator {

// A new coordinator object answering `riid` (IUnknown or IVssAdmin).
HRESULT CreateCoordinator(REFIID riid, void** ppv);

}  // namespace marl::testcoordinator
