#include "debugtool/Collector.h"

#include <cstdio>
#include <string>

#include "debugtool/CollectorPlan.h"
#include "debugtool/ConfigRedaction.h"
#include "debugtool/ZipArchiveWriter.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/install_folder.h"
#include "platform/process.h"

namespace marl::debugtool {

namespace {

struct Command {
    std::string line;
    const char* output;
};

// Each add's result is left unexamined on purpose: a missing generation or a
// log another process holds open is simply not in the archive.
void Archive(ZipHandle zip, const ArchiveItem& item) {
    if (!zip) return;
    std::wstring entry = platform::WidenPath(item.entryName);
    std::wstring source = platform::WidenPath(item.source);
    if (item.entryName == kConfigurationEntry) {
        ZipArchiveWriter::AddFilteredFile(zip, entry, source, RedactPasswords);
    } else {
        ZipArchiveWriter::AddFile(zip, entry, source);
    }
}

void RemoveScratchFolder(const std::string& folder) {
    for (const char* output : {kDiskShadowLog, kEventLogOutput, kSystemInfoOutput}) {
        platform::DeleteOneFile(ScratchRelative(output));
    }
    uint32_t error = platform::RemoveFolder(folder);
    if (error != 0) std::printf("RemoveDirectory failed (%u)\n", static_cast<unsigned>(error));
}

}  // namespace

int RunCollector() {
    const std::string& folder = platform::InstallFolder();
    const std::string scratch = ScratchFolder(folder);
    uint32_t ignored = 0;
    platform::CreateFolder(scratch, &ignored);  // it may exist already

    uint32_t error = platform::ChangeFolder(folder);
    if (error != 0) {
        std::printf("SetCurrentDirectory failed (%u)\n", static_cast<unsigned>(error));
        std::fflush(stdout);
        return 1;
    }

    std::string archiveName = ArchiveName(platform::GetLocalTimeNow());
    ZipHandle zip = ZipArchiveWriter::Create(platform::WidenPath(archiveName));
    for (const ArchiveItem& item : InstallationItems()) Archive(zip, item);

    const Command commands[] = {{DiskShadowCommand(folder), kDiskShadowLog},
                                {EventLogCommand(folder), kEventLogOutput},
                                {SystemInfoCommand(folder), kSystemInfoOutput}};
    for (const Command& c : commands) {
        std::fflush(stdout);  // the command shares our console
        platform::RunThroughInterpreter(c.line);
        Archive(zip, CommandOutputItem(c.output));
    }
    if (zip) ZipArchiveWriter::Close(zip);

    RemoveScratchFolder(scratch);
    std::fflush(stdout);
    return 0;
}

}  // namespace marl::debugtool
