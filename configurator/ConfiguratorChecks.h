#pragma once
// The checks applied to a new value typed for an existing configuration line,
// and the text helpers of the configuration program. Pure functions: no
// logging, no state, safe from any thread.
#include <string>
#include <vector>

// Four dot-separated pieces of decimal digits, each 0..255. An empty piece
// (between two dots, or before a leading dot) passes as 0; a trailing dot adds
// no piece; leading zeros are allowed. Empty text fails.
bool verify_ipaddress(const std::string& s);
// At most 255 characters, each a letter, digit, ".", "-" or "_".
bool verify_hostname(const std::string& s);
// Each character a letter, digit, "@", "-" or "_"; no length limit.
bool verify_username(const std::string& s);

// The pieces successive reads up to each `delimiter` yield: "a..b" gives
// "a", "", "b"; "a." gives "a"; "" gives nothing.
std::vector<std::string> split(const std::string& text, char delimiter);

// `line` as it may be logged: in a line that holds a password key (the secret
// keys of common/ConfigFormat.h), the text from the first "[" to the last "]"
// (or, without brackets, all after the first such key) is
// replaced by its length: "PASSWORD = [<52 characters hidden>]". Other lines
// come back unchanged.
std::string MaskPasswordLine(const std::string& line);
