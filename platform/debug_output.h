#pragma once
// The debugger output channel (OutputDebugStringW on Windows).
//
// On POSIX there is no debugger channel: the text goes to a sink that tests may
// replace; by default it is dropped. A sink installed here receives the text on
// Windows too (in addition to OutputDebugStringW), so the same tests run on
// both builds. SetDebugOutputSink is not synchronised with concurrent output:
// install it before the threads that write.
#include <functional>
#include <string>

namespace marl::platform {

using DebugOutputSink = std::function<void(const std::wstring&)>;

void OutputDebugText(const wchar_t* text);
// Returns the previous sink. An empty function removes the sink.
DebugOutputSink SetDebugOutputSink(DebugOutputSink sink);

}  // namespace marl::platform
