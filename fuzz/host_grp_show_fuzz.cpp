// host_grp_show: envelope and ParseHostGrpShow.
#include "fuzz/FuzzReplyPath.h"
#include "provider/array/ResponseParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    RunReplyPath(bytes, size, [](const marl::json::JsonNode& data) {
        marl::array::NameList extra{"kept"};
        bool found = ParseHostGrpShow(data, "hg1", extra);
        FUZZ_CHECK(extra.size() == 1 && extra.front() == "kept");
        FUZZ_CHECK(!found || data.Size() > 0);
    });
    return 0;
}
