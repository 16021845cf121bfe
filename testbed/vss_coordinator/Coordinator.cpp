#include "Coordinator.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "CoordinatorStore.h"
#include "StandInCom.h"

namespace marl::testcoordinator {
namespace {

wchar_t* TaskCopy(const std::wstring& text) {
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), bytes);
    return copy;
}

using standin::Counted;

class ProviderEnum final : public Counted<IVssEnumObject> {
  public:
    explicit ProviderEnum(std::vector<ProviderRecord> records, size_t next = 0)
        : m_records(std::move(records)), m_next(next) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, VSS_OBJECT_PROP* rgelt,
                                   ULONG* pceltFetched) override {
        if (rgelt == nullptr || pceltFetched == nullptr) return E_POINTER;
        ULONG fetched = 0;
        for (; fetched < celt && m_next < m_records.size(); ++fetched, ++m_next)
            Fill(m_records[m_next], rgelt[fetched]);
        *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        m_next = std::min(m_records.size(), m_next + celt);
        return m_next < m_records.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        m_next = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IVssEnumObject** ppenum) override {
        if (ppenum == nullptr) return E_POINTER;
        auto* copy = new (std::nothrow) ProviderEnum(m_records, m_next);
        if (copy == nullptr) return E_OUTOFMEMORY;
        return copy->QueryInterface(__uuidof(IVssEnumObject), reinterpret_cast<void**>(ppenum));
    }

  private:
    static void Fill(const ProviderRecord& r, VSS_OBJECT_PROP& out) {
        out = VSS_OBJECT_PROP{};
        out.Type = VSS_OBJECT_PROVIDER;
        VSS_PROVIDER_PROP& p = out.Obj.Prov;
        p.m_ProviderId = r.providerId;
        p.m_pwszProviderName = TaskCopy(r.name);
        p.m_eProviderType = static_cast<VSS_PROVIDER_TYPE>(r.type);
        p.m_pwszProviderVersion = TaskCopy(r.version);
        p.m_ProviderVersionId = r.versionId;
        p.m_ClassId = r.classId;
    }

    std::vector<ProviderRecord> m_records;
    size_t m_next;
};

class Coordinator final : public Counted<IVssAdmin> {
  public:
    HRESULT STDMETHODCALLTYPE RegisterProvider(VSS_ID pProviderId, CLSID ClassId,
                                               VSS_PWSZ pwszProviderName,
                                               VSS_PROVIDER_TYPE eProviderType,
                                               VSS_PWSZ pwszProviderVersion,
                                               VSS_ID ProviderVersionId) override {
        ProviderRecord r{pProviderId,
                         ClassId,
                         pwszProviderName != nullptr ? pwszProviderName : L"",
                         static_cast<DWORD>(eProviderType),
                         pwszProviderVersion != nullptr ? pwszProviderVersion : L"",
                         ProviderVersionId};
        LogCall(L"RegisterProvider " + GuidText(r.providerId) + L" " + GuidText(r.classId) +
                L" \"" + r.name + L"\" " + std::to_wstring(r.type) + L" \"" + r.version + L"\" " +
                GuidText(r.versionId));
        if (FAILED(Failure())) return Failure();
        // VSS keeps the first registration of an id and refuses the next.
        for (const ProviderRecord& known : LoadProviders()) {
            if (IsEqualGUID(known.providerId, r.providerId)) {
                return VSS_E_PROVIDER_ALREADY_REGISTERED;
            }
        }
        return SaveProvider(r);
    }
    HRESULT STDMETHODCALLTYPE UnregisterProvider(VSS_ID ProviderId) override {
        LogCall(L"UnregisterProvider " + GuidText(ProviderId));
        if (FAILED(Failure())) return Failure();
        // VSS answers an unknown provider with VSS_E_PROVIDER_NOT_REGISTERED.
        return RemoveProvider(ProviderId) == S_OK ? S_OK : VSS_E_PROVIDER_NOT_REGISTERED;
    }
    HRESULT STDMETHODCALLTYPE QueryProviders(IVssEnumObject** ppEnum) override {
        if (ppEnum == nullptr) return E_POINTER;
        auto* list = new (std::nothrow) ProviderEnum(LoadProviders());
        if (list == nullptr) return E_OUTOFMEMORY;
        return list->QueryInterface(__uuidof(IVssEnumObject), reinterpret_cast<void**>(ppEnum));
    }
    HRESULT STDMETHODCALLTYPE AbortAllSnapshotsInProgress() override { return S_OK; }
};

}  // namespace

HRESULT CreateCoordinator(REFIID riid, void** ppv) {
    return standin::CreateAnswering<Coordinator>(riid, ppv);
}

}  // namespace marl::testcoordinator
