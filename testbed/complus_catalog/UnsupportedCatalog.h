#pragma once
// The stand-in catalog's base (test-only): IDispatch without type
// information (the installer calls the interfaces directly), and every method
// of ICOMAdminCatalog2 that the stand-in does not model, each answering
// through Unsupported, so that an unexpected call is seen in the record.
#include <comadmin.h>
#include <objbase.h>

#include "StandInCom.h"

namespace marl::testcatalog {

// `Interface` (an IDispatch-derived one) with IDispatch answering E_NOTIMPL.
template <typename Interface, typename... AlsoAnswered>
class WithoutTypeInfo : public standin::Counted<Interface, IDispatch, AlsoAnswered...> {
  public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count != nullptr) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
};

class UnsupportedCatalog : public WithoutTypeInfo<ICOMAdminCatalog2, ICOMAdminCatalog> {
  public:
    HRESULT STDMETHODCALLTYPE GetCollection(BSTR, IDispatch**) override {
        return Unsupported(L"GetCollection");
    }
    HRESULT STDMETHODCALLTYPE Connect(BSTR, IDispatch**) override {
        return Unsupported(L"Connect");
    }
    HRESULT STDMETHODCALLTYPE get_MajorVersion(LONG*) override {
        return Unsupported(L"get_MajorVersion");
    }
    HRESULT STDMETHODCALLTYPE get_MinorVersion(LONG*) override {
        return Unsupported(L"get_MinorVersion");
    }
    HRESULT STDMETHODCALLTYPE GetCollectionByQuery(BSTR, SAFEARRAY**, IDispatch**) override {
        return Unsupported(L"GetCollectionByQuery");
    }
    HRESULT STDMETHODCALLTYPE ImportComponent(BSTR, BSTR) override {
        return Unsupported(L"ImportComponent");
    }
    HRESULT STDMETHODCALLTYPE InstallComponent(BSTR, BSTR, BSTR, BSTR) override {
        return Unsupported(L"InstallComponent");
    }
    HRESULT STDMETHODCALLTYPE ShutdownApplication(BSTR) override {
        return Unsupported(L"ShutdownApplication");
    }
    HRESULT STDMETHODCALLTYPE ExportApplication(BSTR, BSTR, LONG) override {
        return Unsupported(L"ExportApplication");
    }
    HRESULT STDMETHODCALLTYPE InstallApplication(BSTR, BSTR, LONG, BSTR, BSTR, BSTR) override {
        return Unsupported(L"InstallApplication");
    }
    HRESULT STDMETHODCALLTYPE StopRouter() override { return Unsupported(L"StopRouter"); }
    HRESULT STDMETHODCALLTYPE RefreshRouter() override { return Unsupported(L"RefreshRouter"); }
    HRESULT STDMETHODCALLTYPE StartRouter() override { return Unsupported(L"StartRouter"); }
    HRESULT STDMETHODCALLTYPE Reserved1() override { return Unsupported(L"Reserved1"); }
    HRESULT STDMETHODCALLTYPE Reserved2() override { return Unsupported(L"Reserved2"); }
    HRESULT STDMETHODCALLTYPE InstallMultipleComponents(BSTR, SAFEARRAY**, SAFEARRAY**) override {
        return Unsupported(L"InstallMultipleComponents");
    }
    HRESULT STDMETHODCALLTYPE GetMultipleComponentsInfo(BSTR, SAFEARRAY**, SAFEARRAY**, SAFEARRAY**,
                                                        SAFEARRAY**, SAFEARRAY**) override {
        return Unsupported(L"GetMultipleComponentsInfo");
    }
    HRESULT STDMETHODCALLTYPE RefreshComponents() override {
        return Unsupported(L"RefreshComponents");
    }
    HRESULT STDMETHODCALLTYPE BackupREGDB(BSTR) override { return Unsupported(L"BackupREGDB"); }
    HRESULT STDMETHODCALLTYPE RestoreREGDB(BSTR) override { return Unsupported(L"RestoreREGDB"); }
    HRESULT STDMETHODCALLTYPE QueryApplicationFile(BSTR, BSTR*, BSTR*, VARIANT_BOOL*, VARIANT_BOOL*,
                                                   SAFEARRAY**) override {
        return Unsupported(L"QueryApplicationFile");
    }
    HRESULT STDMETHODCALLTYPE StartApplication(BSTR) override {
        return Unsupported(L"StartApplication");
    }
    HRESULT STDMETHODCALLTYPE ServiceCheck(LONG, LONG*) override {
        return Unsupported(L"ServiceCheck");
    }
    HRESULT STDMETHODCALLTYPE InstallMultipleEventClasses(BSTR, SAFEARRAY**, SAFEARRAY**) override {
        return Unsupported(L"InstallMultipleEventClasses");
    }
    HRESULT STDMETHODCALLTYPE InstallEventClass(BSTR, BSTR, BSTR, BSTR) override {
        return Unsupported(L"InstallEventClass");
    }
    HRESULT STDMETHODCALLTYPE GetEventClassesForIID(BSTR, SAFEARRAY**, SAFEARRAY**,
                                                    SAFEARRAY**) override {
        return Unsupported(L"GetEventClassesForIID");
    }
    HRESULT STDMETHODCALLTYPE GetCollectionByQuery2(BSTR, VARIANT*, IDispatch**) override {
        return Unsupported(L"GetCollectionByQuery2");
    }
    HRESULT STDMETHODCALLTYPE GetApplicationInstanceIDFromProcessID(LONG, BSTR*) override {
        return Unsupported(L"GetApplicationInstanceIDFromProcessID");
    }
    HRESULT STDMETHODCALLTYPE ShutdownApplicationInstances(VARIANT*) override {
        return Unsupported(L"ShutdownApplicationInstances");
    }
    HRESULT STDMETHODCALLTYPE PauseApplicationInstances(VARIANT*) override {
        return Unsupported(L"PauseApplicationInstances");
    }
    HRESULT STDMETHODCALLTYPE ResumeApplicationInstances(VARIANT*) override {
        return Unsupported(L"ResumeApplicationInstances");
    }
    HRESULT STDMETHODCALLTYPE RecycleApplicationInstances(VARIANT*, LONG) override {
        return Unsupported(L"RecycleApplicationInstances");
    }
    HRESULT STDMETHODCALLTYPE AreApplicationInstancesPaused(VARIANT*, VARIANT_BOOL*) override {
        return Unsupported(L"AreApplicationInstancesPaused");
    }
    HRESULT STDMETHODCALLTYPE DumpApplicationInstance(BSTR, BSTR, LONG, BSTR*) override {
        return Unsupported(L"DumpApplicationInstance");
    }
    HRESULT STDMETHODCALLTYPE get_IsApplicationInstanceDumpSupported(VARIANT_BOOL*) override {
        return Unsupported(L"get_IsApplicationInstanceDumpSupported");
    }
    HRESULT STDMETHODCALLTYPE CreateServiceForApplication(BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR,
                                                          VARIANT_BOOL) override {
        return Unsupported(L"CreateServiceForApplication");
    }
    HRESULT STDMETHODCALLTYPE DeleteServiceForApplication(BSTR) override {
        return Unsupported(L"DeleteServiceForApplication");
    }
    HRESULT STDMETHODCALLTYPE GetPartitionID(BSTR, BSTR*) override {
        return Unsupported(L"GetPartitionID");
    }
    HRESULT STDMETHODCALLTYPE GetPartitionName(BSTR, BSTR*) override {
        return Unsupported(L"GetPartitionName");
    }
    HRESULT STDMETHODCALLTYPE put_CurrentPartition(BSTR) override {
        return Unsupported(L"put_CurrentPartition");
    }
    HRESULT STDMETHODCALLTYPE get_CurrentPartitionID(BSTR*) override {
        return Unsupported(L"get_CurrentPartitionID");
    }
    HRESULT STDMETHODCALLTYPE get_CurrentPartitionName(BSTR*) override {
        return Unsupported(L"get_CurrentPartitionName");
    }
    HRESULT STDMETHODCALLTYPE get_GlobalPartitionID(BSTR*) override {
        return Unsupported(L"get_GlobalPartitionID");
    }
    HRESULT STDMETHODCALLTYPE FlushPartitionCache() override {
        return Unsupported(L"FlushPartitionCache");
    }
    HRESULT STDMETHODCALLTYPE CopyApplications(BSTR, VARIANT*, BSTR) override {
        return Unsupported(L"CopyApplications");
    }
    HRESULT STDMETHODCALLTYPE CopyComponents(BSTR, VARIANT*, BSTR) override {
        return Unsupported(L"CopyComponents");
    }
    HRESULT STDMETHODCALLTYPE MoveComponents(BSTR, VARIANT*, BSTR) override {
        return Unsupported(L"MoveComponents");
    }
    HRESULT STDMETHODCALLTYPE AliasComponent(BSTR, BSTR, BSTR, BSTR, BSTR) override {
        return Unsupported(L"AliasComponent");
    }
    HRESULT STDMETHODCALLTYPE IsSafeToDelete(BSTR, COMAdminInUse*) override {
        return Unsupported(L"IsSafeToDelete");
    }
    HRESULT STDMETHODCALLTYPE ImportUnconfiguredComponents(BSTR, VARIANT*, VARIANT*) override {
        return Unsupported(L"ImportUnconfiguredComponents");
    }
    HRESULT STDMETHODCALLTYPE PromoteUnconfiguredComponents(BSTR, VARIANT*, VARIANT*) override {
        return Unsupported(L"PromoteUnconfiguredComponents");
    }
    HRESULT STDMETHODCALLTYPE ImportComponents(BSTR, VARIANT*, VARIANT*) override {
        return Unsupported(L"ImportComponents");
    }
    HRESULT STDMETHODCALLTYPE get_Is64BitCatalogServer(VARIANT_BOOL*) override {
        return Unsupported(L"get_Is64BitCatalogServer");
    }
    HRESULT STDMETHODCALLTYPE ExportPartition(BSTR, BSTR, LONG) override {
        return Unsupported(L"ExportPartition");
    }
    HRESULT STDMETHODCALLTYPE InstallPartition(BSTR, BSTR, LONG, BSTR, BSTR, BSTR) override {
        return Unsupported(L"InstallPartition");
    }
    HRESULT STDMETHODCALLTYPE QueryApplicationFile2(BSTR, IDispatch**) override {
        return Unsupported(L"QueryApplicationFile2");
    }
    HRESULT STDMETHODCALLTYPE GetComponentVersionCount(BSTR, LONG*) override {
        return Unsupported(L"GetComponentVersionCount");
    }

  protected:
    // Records the call of `method` and gives its result.
    virtual HRESULT Unsupported(const wchar_t* method) = 0;
};

}  // namespace marl::testcatalog
