// vg_show: envelope and ParseCGShow (whose walk ends with out_of_range).
#include "fuzz/FuzzReplyPath.h"
#include "provider/array/ResponseParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    marl::array::NameList names;
    RunReplyPath(bytes, size,
                 [&names](const marl::json::JsonNode& data) { ParseCGShow(data, "cg1", names); });
    // At most one name per byte of text: each comes from its own element.
    FUZZ_CHECK(names.size() <= size);
    return 0;
}
