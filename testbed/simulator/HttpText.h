// Text forms of the array's HTTP protocol: percent-decoding, the login form,
// the "?args=" query and the session cookie.
#pragma once

#include <string>

#include "SimJson.h"

namespace marl::sim {

// Decodes %XX escapes (a malformed escape stays as it is); with `plusIsSpace`
// a "+" becomes a blank, as in form bodies.
std::string PercentDecode(const std::string& text, bool plusIsSpace);

// Decodes an application/x-www-form-urlencoded body into its fields, in order.
StringPairs ParseForm(const std::string& body);

// The query of a request target (after the first "?"), or empty.
std::string QueryOf(const std::string& target);

// Reads the arguments of an execute request from its raw query. The whole
// text after "args=" is one percent-encoded JSON object: clients put values
// on the wire without escaping, so the query must not be split at "&".
// Returns false with `error` set when the query is not of that form.
bool ParseArgsQuery(const std::string& query, StringPairs& args, std::string& error);

// The value of cookie `name` in a Cookie header, or empty.
std::string CookieValue(const std::string& header, const std::string& name);

}  // namespace marl::sim
