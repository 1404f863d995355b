#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brenvo {

// Progress events of the zip operations, in the order they arrive:
// TotalFiles and TotalBytes once at the start, then NewFile for every file
// followed by its BytesDone pieces, and EndOfBatch when the archive is done.
enum class ZipEvent { NewFile, BytesDone, EndOfBatch, TotalFiles, TotalBytes };

// value: TotalFiles the number of files, TotalBytes their uncompressed size,
// BytesDone the amount of this piece, 0 otherwise. name: the entry's name
// with NewFile, "" otherwise. A handler may be empty.
using ZipProgressHandler = std::function<void(ZipEvent event, int64_t value, const std::string& name)>;

// Creates the standard zip archive zipName from the files matching the path
// masks ("dir/*.*", a directory followed by a file-name mask; a
// relative directory is taken below rootDir). Subdirectories are not
// descended. Each file is stored with its path relative to rootDir; a file
// outside rootDir with its full path less the leading separator. A file
// named twice is stored once, missing directories add nothing. The archive
// is written beside its name and renamed into place only when complete, so
// a failure leaves no archive (and an earlier one of that name untouched).
// Returns the number of files stored; throws Error with a German message.
int ZipFiles(const std::string& zipName, const std::string& rootDir, const std::vector<std::string>& fileMasks,
             const ZipProgressHandler& progress);

// Extracts every entry of zipName below targetDir, keeping the directory
// names, creating missing directories (the target's too) and replacing
// existing files; files keep the archive's modification times.
//
// Before anything is written every entry is checked: an absolute path, a
// path leading out of the target (".."), a link or other special entry, an
// encrypted entry, or a target path that goes through (or ends at) an
// existing symbolic link refuses the whole archive with a German Error, and
// nothing of it is written. The files are unpacked beside their targets
// first and renamed into place only after every entry has been read back
// with a good checksum. Returns the number of files written.
int UnzipAll(const std::string& zipName, const std::string& targetDir, const ZipProgressHandler& progress);

} // namespace brenvo
