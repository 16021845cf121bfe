#pragma once
// The support-archive run of MarlVssDebugTool: packs the configuration file
// (passwords hidden), the provider's and the configurator's logs with their
// older generations, and the output of DiskShadow, the Application event log
// query and the system information report into one time-stamped ZIP archive
// in the installation folder.
//
// The installation folder is platform::InstallFolder(); the run makes it the
// current directory. It prints nothing when it succeeds; the commands it runs
// share its console.
//
// Returns the program's exit code: 1 when the installation folder cannot be
// made the current directory (after printing "SetCurrentDirectory failed (N)"),
// otherwise 0. Missing or locked sources are left out without a message; a
// scratch folder that cannot be removed is reported as
// "RemoveDirectory failed (N)". Single-threaded; changes the process's
// current directory.
namespace marl::debugtool {

int RunCollector();

}  // namespace marl::debugtool
