// replication_session_snapshot_create: envelope and
// ParseReplicationSnapCreateResponse.
#include "fuzz/FuzzReplyPath.h"
#include "provider/array/ResponseParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    RunReplyPath(bytes, size, [size](const marl::json::JsonNode& data) {
        marl::array::NameList names;
        ParseReplicationSnapCreateResponse(data, names);
        FUZZ_CHECK(names.size() <= size);
    });
    return 0;
}
