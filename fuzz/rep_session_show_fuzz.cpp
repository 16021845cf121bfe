// replication_session_show: envelope and ParseRepSessionShow.
#include "fuzz/FuzzReplyPath.h"
#include "provider/array/ResponseParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    RunReplyPath(bytes, size, [size](const marl::json::JsonNode& data) {
        marl::array::SessionInfoList list;
        ParseRepSessionShow(data, list);
        // One session per entry, and every entry takes text.
        FUZZ_CHECK(list.size() <= size);
    });
    return 0;
}
