// snapshot_show as the restore issues it: envelope and ParseSnapShowForSource.
#include "fuzz/FuzzReplyPath.h"
#include "provider/array/ResponseParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    RunReplyPath(bytes, size, [](const marl::json::JsonNode& data) {
        const std::string group = "cg1";
        std::string source = "unset";
        ParseSnapShowForSource(data, group, source);
        FUZZ_CHECK(source != group);
    });
    return 0;
}
