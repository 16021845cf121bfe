#include "provider/QProviderHelpers.h"

#include "common/QVssLog.h"
#include "vss/ComGlue.h"

static constexpr char kLogUnit[] = "QProvider";

namespace marl::provider {

std::string GuidToString(const GUID& guid) {
    return marl::platform::ComGuidToString(marl::vss::ToComGuid(guid));
}

bool IsHelperSafeSerial(const std::string& serial) {
    if (serial.empty()) return false;
    for (unsigned char c : serial) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        bool digit = c >= '0' && c <= '9';
        if (!letter && !digit) return false;
    }
    return true;
}

bool AppendHelperSerial(std::string& list, const std::string& serial, const char* function) {
    if (serial.empty()) return false;  // a LUN that was never described: nothing to detach
    if (!IsHelperSafeSerial(serial)) {
        QVSS_LOG(function, "PROVIDER", QLOG_ERROR,
                 "serial '%s' is not letters and digits only; left out of the VMware helper's "
                 "command line",
                 serial.c_str());
        return false;
    }
    if (list.size() > 1) list += ",";
    list += serial;
    return true;
}

}  // namespace marl::provider
