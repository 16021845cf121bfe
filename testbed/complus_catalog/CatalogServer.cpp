// The stand-in COM+ catalog's DLL (test-only): what it serves, COMAdmin.
// COMAdminCatalog; the exports are the stand-ins' shared ones.
#include "Catalog.h"
#include "StandInCom.h"
#include "provider/com/ProductGuids.h"

namespace {

HRESULT Create(REFIID riid, void** ppv) {
    return marl::testcatalog::CreateCatalog(marl::standin::ModuleInstance(), riid, ppv);
}

}  // namespace

const marl::standin::ServerDescription& marl::standin::ThisServer() {
    static const ServerDescription server{marl::com::kClsidComAdminCatalog,
                                          marl::com::kClsidComAdminCatalogBraced,
                                          L"Marl test stand-in for the COM+ catalog", Create};
    return server;
}
