#include "provider/VssAsync.h"

#include <atomic>
#include <new>

#include "common/QVssLog.h"
#include "platform/clock.h"
#include "vss/ComGlue.h"

namespace {

// Counted across threads: the module asks it from DllCanUnloadNow, whose
// answer must never be S_OK while an object lives.
std::atomic<long> g_liveObjects{0};

void RealSleep(uint32_t ms) { marl::platform::SleepMilliseconds(ms); }

CVssAsync::Sleeper& CurrentSleeper() {
    static CVssAsync::Sleeper sleeper = &RealSleep;
    return sleeper;
}

void ReportCreationFailure(HRESULT hr) {
    marl::common::DebugOutputFormatted(
        L"CComObject<CVssAsync>::CreateInstance(&pObject); failed with %x\n",
        static_cast<unsigned>(hr));
}

}  // namespace

CVssAsync::CVssAsync() { ++g_liveObjects; }

CVssAsync::~CVssAsync() { --g_liveObjects; }

IVssAsync* CVssAsync::CreateInstanceAndStartJob() {
    FuncTrace trace(L"CVssAsync::CreateInstanceAndStartJob");
    CVssAsync* object = new (std::nothrow) CVssAsync();
    if (object == nullptr) {
        ReportCreationFailure(E_OUTOFMEMORY);
        return nullptr;
    }
    object->AddRef();  // the creation reference
    IVssAsync* result = nullptr;
    HRESULT hr =
        object->QueryInterface(marl::vss::kIidIVssAsync, reinterpret_cast<void**>(&result));
    if (FAILED(hr)) {
        ReportCreationFailure(hr);
        object->Release();
        return nullptr;
    }
    object->Release();  // the caller's reference remains
    return result;
}

HRESULT STDMETHODCALLTYPE CVssAsync::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_POINTER;
    if (marl::vss::SameGuid(riid, marl::vss::kIidIUnknown) ||
        marl::vss::SameGuid(riid, marl::vss::kIidIVssAsync)) {
        *ppvObject = static_cast<IVssAsync*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CVssAsync::AddRef() { return ++m_refCount; }

ULONG STDMETHODCALLTYPE CVssAsync::Release() {
    ULONG left = --m_refCount;
    if (left == 0) delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE CVssAsync::Cancel() { return S_OK; }

HRESULT STDMETHODCALLTYPE CVssAsync::Wait(DWORD) {
    CurrentSleeper()(kWaitMilliseconds);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CVssAsync::QueryStatus(HRESULT* pHrResult, INT* pReserved) {
    if (pHrResult != nullptr) *pHrResult = 0;
    if (pReserved != nullptr) *pReserved = 0;
    if (pReserved != nullptr) *pReserved = 100;
    return S_OK;
}

long CVssAsync::LiveObjects() { return g_liveObjects; }

CVssAsync::Sleeper CVssAsync::SetSleeperForTesting(Sleeper sleeper) {
    Sleeper previous = CurrentSleeper();
    CurrentSleeper() = sleeper != nullptr ? sleeper : &RealSleep;
    return previous;
}
