#pragma once
// The two checks that judge every reply of the array before anything else
// reads it: the login reply (credentials accepted, API spoken) and the
// envelope of a command reply (success key, the array's own words, "data").
//
// Both walk only the top level of a parsed reply and log through the process
// logger (module "JSON", unit "QProviderInterface"). Neither throws on a
// parsed tree; they keep no state.
#include <string>

#include "json/JsonNode.h"

// The VSS API version this provider implements.
constexpr int kProviderVssApiVersion = 4;

// True when the login reply admits the session: key "LOGIN_SUCCESSFUL" and
// either vss_api_version 4 or, without one, array software 8.0 (or an
// unofficial "latest-" build).
bool ParseLoginResponse(const marl::json::JsonNode& root);

// True when the command reply reports failure (or has no members at all).
// Whenever the reply has a "data" member, `data` is replaced by a copy of it,
// on failure too; otherwise it is left as the caller made it (an empty
// object).
bool ParseResponse(const marl::json::JsonNode& root, marl::json::JsonNode& data);

namespace marl::array {

// The transport's login check on the raw reply text: parses it and applies
// ParseLoginResponse. A reply that is not JSON (or cannot be parsed for any
// other reason) is a refused login. Never throws.
bool CheckLoginReply(const std::string& loginText);

// The standard library's atoi rule (leading white space, one optional sign,
// decimal digits up to the first other character; none give 0), but without
// atoi's undefined result on overflow: values beyond int saturate.
int LeadingDigitsValue(const std::string& text);

}  // namespace marl::array
