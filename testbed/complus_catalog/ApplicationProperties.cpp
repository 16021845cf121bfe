#include "ApplicationProperties.h"

namespace marl::testcatalog {
namespace {

using A = PropertyAccess;
using T = PropertyType;

constexpr PropertyInfo kProperties[] = {
    {L"3GigSupportEnabled", T::kBool, A::kReadWrite},
    {L"AccessChecksLevel", T::kLong, A::kReadWrite},
    {L"Activation", T::kLong, A::kReadWrite},
    {L"ApplicationAccessChecksEnabled", T::kBool, A::kReadWrite},
    {L"ApplicationDirectory", T::kText, A::kReadWrite},
    {L"ApplicationProxy", T::kBool, A::kReadOnly},
    {L"ApplicationProxyServerName", T::kText, A::kReadWrite},
    {L"AppPartitionID", T::kText, A::kReadOnly},
    {L"Authentication", T::kLong, A::kReadWrite},
    {L"AuthenticationCapability", T::kLong, A::kReadWrite},
    {L"Changeable", T::kBool, A::kReadWrite},
    {L"CommandLine", T::kText, A::kReadWrite},
    {L"ConcurrentApps", T::kLong, A::kReadWrite},
    {L"CreatedBy", T::kText, A::kReadWrite},
    {L"CRMEnabled", T::kBool, A::kReadWrite},
    {L"CRMLogFile", T::kText, A::kReadWrite},
    {L"Deleteable", T::kBool, A::kReadWrite},
    {L"Description", T::kText, A::kReadWrite},
    {L"DumpEnabled", T::kBool, A::kReadWrite},
    {L"DumpOnException", T::kBool, A::kReadWrite},
    {L"DumpOnFailfast", T::kBool, A::kReadWrite},
    {L"DumpPath", T::kText, A::kReadWrite},
    {L"EventsEnabled", T::kBool, A::kReadWrite},
    {L"ID", T::kText, A::kWriteOnce},
    {L"Identity", T::kText, A::kReadWrite},
    {L"ImpersonationLevel", T::kLong, A::kReadWrite},
    {L"IsEnabled", T::kBool, A::kReadWrite},
    {L"IsSystem", T::kBool, A::kReadOnly},
    {L"MaxDumpCount", T::kLong, A::kReadWrite},
    {L"Name", T::kText, A::kReadWrite},
    {L"Password", T::kText, A::kWriteOnly},
    {L"QCAuthenticateMsgs", T::kLong, A::kReadWrite},
    {L"QCListenerMaxThreads", T::kLong, A::kReadWrite},
    {L"QueueListenerEnabled", T::kBool, A::kReadWrite},
    {L"QueuingEnabled", T::kBool, A::kReadWrite},
    {L"RecycleActivationLimit", T::kLong, A::kReadWrite},
    {L"RecycleCallLimit", T::kLong, A::kReadWrite},
    {L"RecycleExpirationTimeout", T::kLong, A::kReadWrite},
    {L"RecycleLifetimeLimit", T::kLong, A::kReadWrite},
    {L"RecycleMemoryLimit", T::kLong, A::kReadWrite},
    {L"Replicable", T::kBool, A::kReadWrite},
    {L"RunForever", T::kBool, A::kReadWrite},
    {L"ServiceName", T::kText, A::kReadOnly},
    {L"ShutdownAfter", T::kLong, A::kReadWrite},
    {L"SoapActivated", T::kBool, A::kReadWrite},
    {L"SoapBaseUrl", T::kText, A::kReadWrite},
    {L"SoapMailTo", T::kText, A::kReadWrite},
    {L"SoapVRoot", T::kText, A::kReadWrite},
    {L"SRPEnabled", T::kBool, A::kReadWrite},
    {L"SRPTrustLevel", T::kLong, A::kReadWrite},
};

}  // namespace

const PropertyInfo* FindApplicationProperty(const std::wstring& name) {
    for (const PropertyInfo& p : kProperties) {
        if (name == p.name) return &p;
    }
    return nullptr;
}

}  // namespace marl::testcatalog
