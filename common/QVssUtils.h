#pragma once
// The launcher of the VMware helper QVCENTER (<install>\QVCenter\QVCENTER.exe),
// which rescans the virtual machine's SCSI buses and attaches or detaches
// snapshot disks as raw device mappings on the provider's behalf.
//
// Each call builds the helper's command line, starts it and waits, without
// time limit, for it to end. The result is non-zero when the helper could be
// started and 0 when it could not; its exit code and output are not looked
// at. Logs through the process's logger, module "PROVIDER". No state; may be
// called from any thread.
#include <string>

// "<helper>" --operation scsi_rescan
int execute_qvcenter_scsi_rescan();

// "<helper>" --operation set_rdm --scsi_sn<scsiSerials>. Callers pass a space
// and then the serials joined by "," (the fixed text ends without a space).
int execute_qvcenter_set_rdm(std::string scsiSerials);

// "<helper>" --operation remove_rdm --scsi_sn<scsiSerials>, as above.
int execute_qvcenter_remove_rdm(std::string scsiSerials);

// Runs `commandLine` (program first, in double quotes when it holds blanks).
// The text is writable because the system may change it while starting.
int execute_qvcenter(std::wstring& commandLine);
