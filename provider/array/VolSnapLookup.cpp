// Finding volume snapshots by serial. The snapshot listing names them but
// gives no serials, so each one's serials take an exchange of their own
// ("vss_volsnap_show"). An array keeps many more volume snapshots than a
// snapshot set has LUNs, so the look-ups by serial first read one listing
// of every volume snapshot's serials ("volsnap_show" without a name) and ask
// one by one only for those that may hold a serial wanted.
#include "common/QVssLog.h"
#include "provider/array/ArrayReply.h"
#include "provider/array/CQArrayClient.h"
#include "provider/array/ResponseParsers.h"

static constexpr char kLogUnit[] = "QProviderInterface";

using marl::json::JsonNode;

namespace {

constexpr char kGetQVolSnaps[] = "CQProvider::GetQVolSnaps";
constexpr char kLookUp[] = "CQProvider::LookUpVolSnapsHolding";

}  // namespace

uint32_t marl::array::CQArrayClient::ListQVolSnaps(const char* volumeGroup,
                                                   marl::array::LunInfoList& records) {
    Pairs pairs{{L"full", L"true"}};
    if (volumeGroup != nullptr) pairs.emplace_back(L"volume_group", Widen(volumeGroup));
    std::string reply;
    uint32_t hr = SendArrayRequest(L"snapshot_show", Args(pairs), reply);
    if (hr != 0) return hr;
    QVSS_LOG(kGetQVolSnaps, "PROVIDER", QLOG_DEBUG,
             "snapshot_show returned with result len = ('%d')", static_cast<int>(reply.size()));
    ReplyReading reading = ReadReply(
        kGetQVolSnaps, "snapshot_show", reply,
        [&](const JsonNode& data) { ParseSnapShow(data, records); },
        [&](const std::exception&) {
            QVSS_LOG_FULL(kGetQVolSnaps, "PROVIDER", QLOG_TRACE,
                          "could not parse response for snapshot_show, %s", reply.c_str());
        });
    return reading == ReplyReading::kRefused ? 1 : 0;
}

uint32_t marl::array::CQArrayClient::GetQVolSnaps(const char* volumeGroup,
                                                  marl::array::LunInfoList& records) {
    uint32_t hr = ListQVolSnaps(volumeGroup, records);
    if (hr != 0) return hr;
    // Each volume snapshot's serials come from a request of its own; one that
    // cannot be read keeps empty serials, which no LUN matches.
    for (LunInfo& record : records) {
        GetSnapLunSN(record.volSnapName, record.sn, record.peerSn, record.volName);
    }
    return 0;
}

void marl::array::CQArrayClient::LookUpVolSnapsHolding(marl::array::LunInfoList& records,
                                                       const SerialSet& wanted,
                                                       VolSnapListing& listing) {
    // Whatever a look-up leaves unfilled is an empty serial, so a LUN without
    // a serial could match a volume snapshot passed over: then none is.
    const bool filter = !records.empty() && wanted.count("") == 0;
    if (filter && !listing.asked) {
        listing.asked = true;
        listing.usable = GetVolSnapSerialIndex(listing.index) == 0;
        if (!listing.usable) {
            QVSS_LOG(kLookUp, "PROVIDER", QLOG_WARN,
                     "the array did not list the serials of its volume snapshots; each volume "
                     "snapshot is looked up by name");
        }
    }
    const size_t listed = records.size();
    for (auto it = records.begin(); it != records.end();) {
        if (filter && listing.usable && !listing.index.MayHold(it->volSnapName, wanted)) {
            it = records.erase(it);
            continue;
        }
        GetSnapLunSN(it->volSnapName, it->sn, it->peerSn, it->volName);
        ++it;
    }
    QVSS_LOG(kLookUp, "PROVIDER", QLOG_DEBUG, "looked up %d of %d volume snapshots",
             static_cast<int>(records.size()), static_cast<int>(listed));
}
