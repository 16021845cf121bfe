// vol_show, volsnap_show and vss_volsnap_show: envelope and ParseVolShow.
#include "fuzz/FuzzReplyPath.h"
#include "provider/array/ResponseParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    RunReplyPath(bytes, size, [](const marl::json::JsonNode& data) {
        marl::array::LunInfoList list;
        ParseVolShow(data, list);
        for (const LunInfo& lun : list) {
            FUZZ_CHECK(lun.sn.empty() || IsNormalisedSerial(lun.sn));
            FUZZ_CHECK(lun.peerSn.empty() || IsNormalisedSerial(lun.peerSn));
            FUZZ_CHECK(lun.volSnapName.empty());
        }
    });
    return 0;
}
