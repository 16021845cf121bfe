#pragma once
// The texts the transport puts on the wire besides fixed punctuation: the
// "?args=" query of a command and the login form body.
//
// Both keep ordinary texts (letters, digits and the usual name punctuation
// such as ":", ",", "-", "_", ".") byte for byte as they are, and encode only
// what would otherwise change the meaning of the request, so that a name or
// a password with a quote, an ampersand or a percent sign reaches the array
// as it was written.
#include <string>
#include <utility>

namespace marl::array {

// One (name, value) pair of a command's arguments.
using ArgPair = std::pair<std::wstring, std::wstring>;

}  // namespace marl::array

// The query "?args=" + one JSON object of string members, percent-encoded;
// the empty text for a count of 0 or less. Decoded, each member reads
// "name": "value" and members are separated by "," without a blank.
//
// Inside the JSON text a quote, a backslash and the control characters are
// escaped; then every byte that is not safe in a query (blank, quote, "#",
// "%", "&", "+", "<", ">", "\", "^", "`", "{", "|", "}", control and
// non-ASCII bytes) is percent-encoded. Wide characters up to U+00FF are
// taken as the bytes of a narrow text widened character by character (the
// array's names reach the provider that way); characters beyond are written
// as UTF-8.
std::wstring BuildArgs(int count, const marl::array::ArgPair* pairs);

namespace marl::array {

// The login body "user_name=<user>&password=<password>" with both values
// encoded as application/x-www-form-urlencoded requires: every byte other
// than letters, digits and "-", ".", "_", "~" becomes %XX.
std::string BuildLoginForm(const std::string& userName, const std::string& password);

// The percent-encoding of the form above, for one value.
std::string FormUrlEncode(const std::string& value);

}  // namespace marl::array
