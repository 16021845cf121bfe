#include "ApplicationCollection.h"

#include <oleauto.h>

#include <string>
#include <vector>

#include "ApplicationProperties.h"
#include "CatalogStore.h"
#include "UnsupportedCatalog.h"

namespace marl::testcatalog {
namespace {

std::wstring Text(BSTR text) { return text != nullptr ? std::wstring(text) : std::wstring(); }

// The identities the documentation names for a server application.
bool KnownIdentity(const std::wstring& identity) {
    for (const wchar_t* name : {L"Interactive User", L"nt authority\\localservice",
                                L"nt authority\\networkservice", L"nt authority\\system"}) {
        if (::CompareStringOrdinal(identity.c_str(), -1, name, -1, TRUE) == CSTR_EQUAL) return true;
    }
    return false;
}

// A value of the type the property documents: texts as BSTR, Long as a
// 16- or 32-bit integer, Bool as VARIANT_BOOL.
bool ToValue(const PropertyInfo& info, const VARIANT& v, PropertyValue& value) {
    value = PropertyValue{};
    switch (info.type) {
        case PropertyType::kText:
            value.text = v.vt == VT_BSTR ? Text(v.bstrVal) : std::wstring();
            return v.vt == VT_BSTR;
        case PropertyType::kLong:
            value.isText = false;
            value.number = v.vt == VT_I4 ? static_cast<DWORD>(v.lVal) : static_cast<DWORD>(v.iVal);
            return v.vt == VT_I4 || v.vt == VT_I2;
        case PropertyType::kBool:
            value.isText = false;
            value.number = v.vt == VT_BOOL && v.boolVal != VARIANT_FALSE ? 1 : 0;
            return v.vt == VT_BOOL;
    }
    return false;
}

HRESULT SetVariant(const PropertyValue& value, VARIANT* out) {
    ::VariantInit(out);
    if (!value.isText) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(value.number);
        return S_OK;
    }
    out->vt = VT_BSTR;
    out->bstrVal = ::SysAllocString(value.text.c_str());
    return out->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
}

class Application final : public WithoutTypeInfo<ICatalogObject> {
  public:
    explicit Application(ApplicationRecord record, bool saved)
        : m_record(std::move(record)), m_saved(saved) {}

    HRESULT STDMETHODCALLTYPE put_Value(BSTR name, VARIANT v) override {
        const PropertyInfo* info = FindApplicationProperty(Text(name));
        PropertyValue value;
        const bool typed = info != nullptr && ToValue(*info, v, value);
        LogCall(L"put_Value " + Text(name) + L" " +
                (typed ? (value.isText ? L"\"" + value.text + L"\"" : std::to_wstring(value.number))
                       : L"(refused)"));
        if (!typed) return E_INVALIDARG;
        if (info->access == PropertyAccess::kReadOnly) return COMADMIN_E_NOTCHANGEABLE;
        if (info->access == PropertyAccess::kWriteOnce && m_saved) return COMADMIN_E_NOTCHANGEABLE;
        if (Text(name) == L"Activation" && value.number > 1) return E_INVALIDARG;
        if (Text(name) == L"ID") {
            GUID guid;
            if (FAILED(::CLSIDFromString(value.text.c_str(), &guid))) return E_INVALIDARG;
            m_record.id = value.text;
        }
        m_identitySet = m_identitySet || Text(name) == L"Identity";
        m_passwordSet = m_passwordSet || Text(name) == L"Password";
        Set(Text(name), value);
        m_changed = true;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_Value(BSTR name, VARIANT* out) override {
        const PropertyInfo* info = FindApplicationProperty(Text(name));
        if (out == nullptr) return E_POINTER;
        if (info == nullptr || info->access == PropertyAccess::kWriteOnly) return E_INVALIDARG;
        if (Text(name) == L"ID") return SetVariant(PropertyValue{true, m_record.id, 0}, out);
        for (const auto& [known, value] : m_record.properties) {
            if (known == Text(name)) return SetVariant(value, out);
        }
        ::VariantInit(out);  // not set: VT_EMPTY
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_Key(VARIANT* out) override {
        if (out == nullptr) return E_POINTER;
        return SetVariant(PropertyValue{true, m_record.id, 0}, out);
    }
    HRESULT STDMETHODCALLTYPE get_Name(VARIANT* out) override {
        return get_Value(const_cast<BSTR>(L"Name"), out);
    }
    HRESULT STDMETHODCALLTYPE IsPropertyReadOnly(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Valid(VARIANT_BOOL* valid) override {
        if (valid != nullptr) *valid = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsPropertyWriteOnly(BSTR, VARIANT_BOOL*) override {
        return E_NOTIMPL;
    }

    const ApplicationRecord& Record() const { return m_record; }
    void MarkSaved() {
        m_saved = true;
        m_changed = m_identitySet = m_passwordSet = false;
    }
    bool Saved() const { return m_saved; }
    bool Changed() const { return m_changed; }

    // What SaveChanges refuses this application for, or S_OK.
    HRESULT Check() const {
        if (m_identitySet != m_passwordSet) return COMADMIN_E_USERPASSWDNOTVALID;
        for (const auto& [name, value] : m_record.properties) {
            if (name == L"Identity" && !KnownIdentity(value.text)) {
                return COMADMIN_E_USERPASSWDNOTVALID;
            }
        }
        std::wstring existing;
        if (!m_saved && FindApplication(m_record.id, existing)) return COMADMIN_E_OBJECTEXISTS;
        return S_OK;
    }

  private:
    void Set(const std::wstring& name, const PropertyValue& value) {
        // The password is checked on saving, never kept.
        if (name == L"Password") return;
        for (auto& [known, old] : m_record.properties) {
            if (known == name) {
                old = value;
                return;
            }
        }
        m_record.properties.emplace_back(name, value);
    }

    ApplicationRecord m_record;
    bool m_saved;
    bool m_changed = false;
    bool m_identitySet = false;
    bool m_passwordSet = false;
};

std::wstring NewId() {
    GUID guid;
    ::CoCreateGuid(&guid);
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

class Applications final : public WithoutTypeInfo<ICatalogCollection> {
  public:
    ~Applications() override { Clear(); }

    HRESULT STDMETHODCALLTYPE Populate() override {
        LogCall(L"Populate Applications");
        Clear();
        for (ApplicationRecord& record : LoadApplications()) {
            Keep(new Application(std::move(record), true));
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        if (count == nullptr) return E_POINTER;
        *count = static_cast<LONG>(m_items.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Item(LONG index, IDispatch** item) override {
        if (item == nullptr) return E_POINTER;
        *item = nullptr;
        if (index < 0 || static_cast<size_t>(index) >= m_items.size()) return E_INVALIDARG;
        return m_items[index]->QueryInterface(__uuidof(IDispatch), reinterpret_cast<void**>(item));
    }
    HRESULT STDMETHODCALLTYPE Add(IDispatch** item) override {
        LogCall(L"Add Applications");
        if (item == nullptr) return E_POINTER;
        ApplicationRecord record{NewId(), {{L"Name", PropertyValue{true, L"New Application", 0}}}};
        Application* added = Keep(new Application(std::move(record), false));
        return added->QueryInterface(__uuidof(IDispatch), reinterpret_cast<void**>(item));
    }
    HRESULT STDMETHODCALLTYPE Remove(LONG index) override {
        if (index < 0 || static_cast<size_t>(index) >= m_items.size()) return E_INVALIDARG;
        Application* removed = m_items[index];
        LogCall(L"Remove Applications " + removed->Record().id);
        if (removed->Saved()) m_removed.push_back(removed->Record().id);
        removed->Release();
        m_items.erase(m_items.begin() + index);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SaveChanges(LONG* changes) override;

    HRESULT STDMETHODCALLTYPE get_Name(VARIANT* name) override {
        return SetVariant(PropertyValue{true, L"Applications", 0}, name);
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return Unsupported(L"_NewEnum"); }
    HRESULT STDMETHODCALLTYPE GetCollection(BSTR, VARIANT, IDispatch**) override {
        return Unsupported(L"GetCollection");
    }
    HRESULT STDMETHODCALLTYPE get_AddEnabled(VARIANT_BOOL*) override {
        return Unsupported(L"AddEnabled");
    }
    HRESULT STDMETHODCALLTYPE get_RemoveEnabled(VARIANT_BOOL*) override {
        return Unsupported(L"RemoveEnabled");
    }
    HRESULT STDMETHODCALLTYPE GetUtilInterface(IDispatch**) override {
        return Unsupported(L"GetUtilInterface");
    }
    HRESULT STDMETHODCALLTYPE get_DataStoreMajorVersion(LONG*) override {
        return Unsupported(L"DataStoreMajorVersion");
    }
    HRESULT STDMETHODCALLTYPE get_DataStoreMinorVersion(LONG*) override {
        return Unsupported(L"DataStoreMinorVersion");
    }
    HRESULT STDMETHODCALLTYPE PopulateByKey(SAFEARRAY*) override {
        return Unsupported(L"PopulateByKey");
    }
    HRESULT STDMETHODCALLTYPE PopulateByQuery(BSTR, LONG) override {
        return Unsupported(L"PopulateByQuery");
    }

  private:
    static HRESULT Unsupported(const wchar_t* method) {
        LogCall(std::wstring(L"unsupported Applications.") + method);
        return E_NOTIMPL;
    }
    Application* Keep(Application* item) {
        item->AddRef();
        m_items.push_back(item);
        return item;
    }
    void Clear() {
        for (Application* item : m_items) item->Release();
        m_items.clear();
        m_removed.clear();
    }

    std::vector<Application*> m_items;
    std::vector<std::wstring> m_removed;
};

HRESULT Applications::SaveChanges(LONG* changes) {
    for (Application* item : m_items) {
        const HRESULT refused = item->Changed() ? item->Check() : S_OK;
        if (FAILED(refused)) {
            LogCall(L"SaveChanges Applications refused " + item->Record().id);
            return refused;
        }
    }
    LONG count = static_cast<LONG>(m_removed.size());
    for (const std::wstring& id : m_removed) RemoveApplicationRecord(id);
    m_removed.clear();
    for (Application* item : m_items) {
        if (!item->Changed()) continue;
        const HRESULT hr = SaveApplication(item->Record());
        if (FAILED(hr)) return hr;
        item->MarkSaved();
        ++count;
    }
    LogCall(L"SaveChanges Applications " + std::to_wstring(count));
    if (changes != nullptr) *changes = count;
    return S_OK;
}

}  // namespace

HRESULT CreateApplicationCollection(REFIID riid, void** ppv) {
    return standin::CreateAnswering<Applications>(riid, ppv);
}

}  // namespace marl::testcatalog
