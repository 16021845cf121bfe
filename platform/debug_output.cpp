#include "platform/debug_output.h"

#include <utility>

namespace marl::platform {

void SystemDebugOutput(const wchar_t* text);  // per backend

namespace {
DebugOutputSink& Sink() {
    static DebugOutputSink sink;
    return sink;
}
}  // namespace

void OutputDebugText(const wchar_t* text) {
    SystemDebugOutput(text);
    if (Sink()) Sink()(text);
}

DebugOutputSink SetDebugOutputSink(DebugOutputSink sink) {
    return std::exchange(Sink(), std::move(sink));
}

}  // namespace marl::platform
