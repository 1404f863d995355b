#include "lib/base/DataDirLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "lib/base/Error.h"
#include "lib/base/Files.h"

namespace brenvo {

std::unique_ptr<DataDirLock> DataDirLock::Acquire(const std::string& dir) {
    const std::string path = PathJoin(dir, FileName);
    // Creating the empty file is no change of data: it goes past the file
    // layer's operations on purpose.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw Error("Das Datenverzeichnis " + dir + " kann nicht gesperrt werden: " + path + " (" +
                    std::strerror(errno) + ")");
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            throw Error("Das Datenverzeichnis " + dir +
                        " wird bereits von einem anderen Brenvo-Programm verwendet (brenvo oder brenvo-cli). "
                        "Bitte warten, bis es beendet ist, und dann erneut starten.");
        throw Error("Das Datenverzeichnis " + dir + " kann nicht gesperrt werden: " + path + " (" +
                    std::strerror(err) + ")");
    }
    return std::unique_ptr<DataDirLock>(new DataDirLock(dir, fd));
}

DataDirLock::~DataDirLock() {
    if (fd_ >= 0) ::close(fd_);
}

} // namespace brenvo
