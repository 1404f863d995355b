#pragma once

#include <string>

#include "lib/base/Files.h"

namespace brenvo {

// What a processing run takes or writes does not enter the archive
// directories at once: it waits in a staging directory inside each of them
// ("ArchivR" for the invoices, "ArchivA" for the orders' files) until the run
// commits its result, which moves it into the archive directory itself. A
// run stopped before that leaves nothing in the archive directories that no
// table row names; the next start empties the staging directories. Nothing
// else reads them: listings of an archive directory take its files only, and
// backups do not descend into subdirectories.
inline constexpr const char* StagingDirName = ".Verarbeitung";

inline std::string StagingDirOf(const std::string& archiveDir) { return PathJoin(archiveDir, StagingDirName); }

} // namespace brenvo
