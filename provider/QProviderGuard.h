#pragma once
// The one guard around every VSS method body of CQProvider.
//
// VSS is a C interface at heart: an exception that leaves a provider method
// takes the whole VSS service down. So every body runs inside RunGuarded:
//   - a thrown HRESULT becomes the result;
//   - std::bad_alloc becomes E_OUTOFMEMORY;
//   - anything else becomes VSS_E_PROVIDER_VETO, with an ERROR line.
// And VSS only ever sees the codes it knows from this provider: S_OK,
// VSS_E_PROVIDER_VETO, E_OUTOFMEMORY and E_NOTIMPL. An array or transport
// status (1, 0x8000401D, ...) that reached a result by mistake is turned into
// VSS_E_PROVIDER_VETO by ToVssResult, with an ERROR line.
#include <new>

#include "vss/VssTypes.h"

namespace marl::provider {

// Writes the ERROR lines of the guard (unit "QProvider").
void LogUnexpectedException(const char* function, const char* what) noexcept;
void LogForeignResult(const char* function, HRESULT hr) noexcept;

template <class Body>
HRESULT RunGuarded(const char* function, Body&& body) noexcept {
    try {
        return body();
    } catch (HRESULT hr) {
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        LogUnexpectedException(function, e.what());
    } catch (...) {
        LogUnexpectedException(function, "unknown exception");
    }
    return VSS_E_PROVIDER_VETO;
}

inline bool IsVssResult(HRESULT hr) {
    return hr == S_OK || hr == VSS_E_PROVIDER_VETO || hr == E_OUTOFMEMORY || hr == E_NOTIMPL;
}

inline HRESULT ToVssResult(const char* function, HRESULT hr) noexcept {
    if (IsVssResult(hr)) return hr;
    LogForeignResult(function, hr);
    return VSS_E_PROVIDER_VETO;
}

}  // namespace marl::provider
