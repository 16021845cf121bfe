// The transport's login check on raw login-reply text.
#include "fuzz/FuzzReplyPath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    EnableAllLogLevels();
    // Must never throw: a reply that is not JSON is a refused login.
    bool admitted = marl::array::CheckLoginReply(ReplyText(bytes, size));
    if (admitted) {
        // Admission needs the success key, so the text must at least hold it.
        FUZZ_CHECK(ReplyText(bytes, size).find("LOGIN_SUCCESSFUL") != std::string::npos);
    }
    return 0;
}
