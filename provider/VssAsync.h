#pragma once
// The asynchronous-operation object that ResyncLuns hands to VSS.
//
// The restore has already finished when ResyncLuns returns, so this object is
// born complete: Cancel has nothing to cancel, QueryStatus reports completion
// and Wait only gives the array a moment (3 s) before VSS goes on with the
// restored disks.
//
// Reference counting is of the single-threaded kind (no interlocked
// operations): COM delivers every call on the apartment thread that created
// the provider. The object deletes itself when its last reference goes.
#include <cstdint>

#include "vss/VssTypes.h"

class CVssAsync final : public IVssAsync {
  public:
    // A new object holding one reference, owned by the caller; nullptr when it
    // cannot be made (a debugger line records why).
    static IVssAsync* CreateInstanceAndStartJob();

    // IUnknown: IUnknown and IVssAsync are answered; anything else is
    // E_NOINTERFACE with *ppvObject set to nullptr.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IVssAsync
    HRESULT STDMETHODCALLTYPE Cancel() override;
    // Ignores the time-out: sleeps kWaitMilliseconds and returns S_OK.
    HRESULT STDMETHODCALLTYPE Wait(DWORD dwMilliseconds) override;
    // Writes 0 to each output given, then 100 to pReserved when given.
    HRESULT STDMETHODCALLTYPE QueryStatus(HRESULT* pHrResult, INT* pReserved) override;

    static constexpr uint32_t kWaitMilliseconds = 3000;

    // Objects alive in this process; for leak checks in tests and the harness.
    static long LiveObjects();

    // Test support: what Wait sleeps with (nullptr restores the real sleep).
    using Sleeper = void (*)(uint32_t milliseconds);
    static Sleeper SetSleeperForTesting(Sleeper sleeper);

  private:
    CVssAsync();
    ~CVssAsync();
    CVssAsync(const CVssAsync&) = delete;
    CVssAsync& operator=(const CVssAsync&) = delete;

    ULONG m_refCount = 0;
};
