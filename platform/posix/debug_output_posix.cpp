namespace marl::platform {

// There is no debugger channel on POSIX; tests observe the text through the
// sink of debug_output.h.
void SystemDebugOutput(const wchar_t*) {}

}  // namespace marl::platform
