#pragma once
// The provider's registration with VSS, through the coordinator's IVssAdmin:
// provider id, class id, "Marl HW Provider", VSS_PROV_HARDWARE, the product
// version (marl::kProductVersion) and the provider version id.
//
// Both functions need COM initialised on the calling thread (ScopedCom).
// RegisterWithVss replaces a registration of the provider id that is already
// in place (VSS answers VSS_E_PROVIDER_ALREADY_REGISTERED): it unregisters
// the id and registers it again, so that repeating the registration succeeds
// and VSS holds one record, this version's. Any other failure of creating the
// coordinator or of RegisterProvider, and a failure of that unregistration,
// is returned as is. UnregisterFromVss returns what happened for the log of
// its caller, which does not let it decide anything.
#include <windows.h>

namespace marl::com {

HRESULT RegisterWithVss();
HRESULT UnregisterFromVss();

// COM for the length of a registration call. regsvr32 and installers may or
// may not have initialised it already; an apartment of another kind is used
// as it is.
class ScopedCom {
  public:
    ScopedCom();
    ~ScopedCom();
    ScopedCom(const ScopedCom&) = delete;
    ScopedCom& operator=(const ScopedCom&) = delete;

  private:
    bool m_initialised = false;
};

}  // namespace marl::com
