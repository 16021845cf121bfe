// snapshot_show as the mapping issues it: envelope and ParseSnapShow.
#include "fuzz/FuzzReplyPath.h"
#include "provider/array/ResponseParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    RunReplyPath(bytes, size, [](const marl::json::JsonNode& data) {
        marl::array::LunInfoList list;
        ParseSnapShow(data, list);
        for (const LunInfo& lun : list) {
            FUZZ_CHECK(lun.volName.empty() && lun.sn.empty() && lun.peerSn.empty());
        }
    });
    return 0;
}
