// replication_volume_show: envelope and ParseRepVolShow over an inventory.
#include "fuzz/FuzzReplyPath.h"
#include "provider/array/ResponseParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    RunReplyPath(bytes, size, [](const marl::json::JsonNode& data) {
        const char* names[] = {"vol1", "vol2", "vol1", "vol3", "", "data"};
        marl::array::LunInfoList list;
        for (const char* name : names) {
            list.emplace_back();
            list.back().volName = name;
            list.back().peerSn = "untouched";
        }
        ParseRepVolShow(data, list);
        // Records are updated in place, never added, renamed or removed.
        FUZZ_CHECK(list.size() == sizeof names / sizeof names[0]);
        size_t i = 0;
        for (const LunInfo& lun : list) {
            FUZZ_CHECK(lun.volName == names[i++]);
            FUZZ_CHECK(lun.peerSn == "untouched" || IsNormalisedSerial(lun.peerSn));
            FUZZ_CHECK(!lun.volName.empty() || lun.peerSn == "untouched");
        }
    });
    return 0;
}
