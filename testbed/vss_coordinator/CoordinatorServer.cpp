// The stand-in coordinator's DLL (test-only): what it serves,
// CLSID_VSSCoordinator; the exports are the stand-ins' shared ones.
#include "Coordinator.h"
#include "StandInCom.h"
#include "provider/com/ProductGuids.h"

const marl::standin::ServerDescription& marl::standin::ThisServer() {
    static const ServerDescription server{marl::com::kClsidVssCoordinator,
                                          marl::com::kClsidVssCoordinatorBraced,
                                          L"Marl test stand-in for the VSS coordinator",
                                          marl::testcoordinator::CreateCoordinator};
    return server;
}
