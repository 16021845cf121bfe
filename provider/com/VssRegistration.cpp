#include "provider/com/VssRegistration.h"

#include <objbase.h>
#include <vsadmin.h>
#include <vss.h>

#include <string>

#include "provider/com/ProductGuids.h"

namespace marl::com {
namespace {

// Every server kind: in-process, handler, local service and remote.
constexpr DWORD kAnyServer =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
static_assert(kAnyServer == 23, "the coordinator is asked for in every server kind");

HRESULT CreateCoordinator(IVssAdmin** admin) {
    *admin = nullptr;
    return ::CoCreateInstance(kClsidVssCoordinator, nullptr, kAnyServer, kIidIVssAdmin,
                              reinterpret_cast<void**>(admin));
}

HRESULT RegisterProvider(IVssAdmin* admin) {
    // VSS takes the texts as writable pointers; it gets copies.
    std::wstring name = kVssProviderName;
    std::wstring version = kVssProviderVersion;
    return admin->RegisterProvider(kVssProviderId, kClsidQProvider, &name[0], VSS_PROV_HARDWARE,
                                   &version[0], kVssProviderVersionId);
}

}  // namespace

ScopedCom::ScopedCom() {
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_initialised = SUCCEEDED(hr);  // S_FALSE too: every success is balanced
}

ScopedCom::~ScopedCom() {
    if (m_initialised) ::CoUninitialize();
}

HRESULT RegisterWithVss() {
    IVssAdmin* admin = nullptr;
    HRESULT hr = CreateCoordinator(&admin);
    if (FAILED(hr)) return hr;
    hr = RegisterProvider(admin);
    // A registration already in place (a repair, an upgrade, a second run of
    // the registration) is replaced, so that VSS holds this version's record:
    // failing here would make installers undo the registration and leave the
    // host without a provider.
    if (hr == VSS_E_PROVIDER_ALREADY_REGISTERED) {
        hr = admin->UnregisterProvider(kVssProviderId);
        if (SUCCEEDED(hr)) hr = RegisterProvider(admin);
    }
    admin->Release();
    return hr;
}

HRESULT UnregisterFromVss() {
    IVssAdmin* admin = nullptr;
    HRESULT hr = CreateCoordinator(&admin);
    if (FAILED(hr)) return hr;
    hr = admin->UnregisterProvider(kVssProviderId);
    admin->Release();
    return hr;
}

}  // namespace marl::com
