// SQLite's record locks moved from the process to one open file description per file.
//
// SQLite's unix layer locks with fcntl(F_SETLK). Those locks belong to the process, and the
// kernel drops all of them the moment any descriptor of the file is closed, whoever opened it.
// SQLite guards against its own descriptors (it defers their close while a lock is held) but
// cannot against the rest of the process. Open file description locks (F_OFD_SETLK) are
// dropped only when their own description is closed; in conflicts with other processes they
// behave as classic locks do, and a classic lock and one of these conflict too, so a program
// using stock SQLite sees our locks as it would see its own kind.
//
// SQLite keeps one lock state per file (inode) for the whole process and may take and release
// that state through any of its descriptors of the file: the locks of a process are one set,
// whichever descriptor they went through. To keep that meaning, every lock request of a file
// goes to one description per inode, opened anew from the first descriptor SQLite locked with,
// and that description is closed (its locks released) when SQLite closes its last descriptor
// of the file, as a classic close would release them.
#include "platform/storelocks.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lapido {

namespace {

using FileId = std::pair<dev_t, ino_t>;

// A new open file description of the file behind fd, in fd's access mode. A duplicate of fd
// would share its description, and a child made by fork() shares its parent's descriptions:
// its locks would be the parent's. Without /proc the duplicate is the best there is.
int openDescription(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return -1;
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    const int own = ::open(path, (flags & O_ACCMODE) | O_CLOEXEC | O_NOCTTY);
    if (own >= 0)
        return own;
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// The lock-holding description of each file SQLite has locked, and SQLite's descriptors of it.
class DescriptionLocks {
public:
    // The descriptor to lock through for SQLite's descriptor fd; -1 with errno set on failure.
    int ownerFor(int fd)
    {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            return -1;
        const FileId id{st.st_dev, st.st_ino};
        std::lock_guard lock(m_mutex);
        leaveParentsLocks();
        const auto known = m_fileOf.find(fd);
        if (known != m_fileOf.end() && known->second != id)
            forget(fd); // a number SQLite closed and reused without our hearing of it
        Owner& owner = m_owners[id];
        if (owner.fd < 0) {
            owner.fd = openDescription(fd);
            if (owner.fd < 0) {
                const int err = errno;
                m_owners.erase(id);
                errno = err;
                return -1;
            }
        }
        if (std::find(owner.users.begin(), owner.users.end(), fd) == owner.users.end())
            owner.users.push_back(fd);
        m_fileOf[fd] = id;
        return owner.fd;
    }

    // SQLite closes fd: when it was its last descriptor of the file, the file's locks go.
    void closing(int fd)
    {
        std::lock_guard lock(m_mutex);
        leaveParentsLocks();
        forget(fd);
    }

private:
    struct Owner {
        int fd = -1;
        std::vector<int> users;
    };

    // A child made by fork() shares its parent's open file descriptions, and with them the
    // parent's locks: locking through them would let the child pass wherever the parent holds
    // the store. The child lets go of them (closing its copies releases nothing of the
    // parent's) and locks through descriptions of its own.
    void leaveParentsLocks()
    {
        const pid_t self = ::getpid();
        if (self == m_pid)
            return;
        if (m_pid != 0)
            for (const auto& [id, owner] : m_owners)
                ::close(owner.fd);
        m_owners.clear();
        m_fileOf.clear();
        m_pid = self;
    }

    void forget(int fd)
    {
        const auto known = m_fileOf.find(fd);
        if (known == m_fileOf.end())
            return;
        const auto owner = m_owners.find(known->second);
        m_fileOf.erase(known);
        if (owner == m_owners.end())
            return;
        auto& users = owner->second.users;
        users.erase(std::remove(users.begin(), users.end(), fd), users.end());
        if (!users.empty())
            return;
        const int saved = errno;
        struct flock all {};
        all.l_type = F_UNLCK;
        all.l_whence = SEEK_SET;
        ::fcntl(owner->second.fd, F_OFD_SETLK, &all);
        ::close(owner->second.fd);
        m_owners.erase(owner);
        errno = saved;
    }

    std::mutex m_mutex;
    pid_t m_pid = 0;
    std::map<FileId, Owner> m_owners;
    std::map<int, FileId> m_fileOf;
};

// Never destroyed: a store held by a static object closes its files during the program's exit,
// through here, after every static made later than it is gone.
DescriptionLocks& descriptionLocks()
{
    static DescriptionLocks* const locks = new DescriptionLocks;
    return *locks;
}

int lockRequest(int fd, int op, struct flock* request)
{
    const int owner = descriptionLocks().ownerFor(fd);
    if (owner < 0)
        return -1;
    struct flock lock = *request;
    lock.l_pid = 0; // required of these locks
    const int ofdOp = op == F_SETLK ? F_OFD_SETLK : op == F_SETLKW ? F_OFD_SETLKW : F_OFD_GETLK;
    const int rc = ::fcntl(owner, ofdOp, &lock);
    if (rc == 0 && op == F_GETLK) {
        const int saved = errno;
        *request = lock;
        errno = saved;
    }
    return rc;
}

// SQLite's fcntl: lock requests are redirected, everything else passes through with the
// argument of its kind.
int sqliteFcntl(int fd, int op, ...)
{
    va_list args;
    va_start(args, op);
    int rc;
    switch (op) {
    case F_SETLK:
    case F_SETLKW:
    case F_GETLK:
        rc = lockRequest(fd, op, va_arg(args, struct flock*));
        break;
    case F_GETFD:
    case F_GETFL:
        rc = ::fcntl(fd, op);
        break;
    case F_SETFD:
    case F_SETFL:
    case F_DUPFD:
    case F_DUPFD_CLOEXEC:
        rc = ::fcntl(fd, op, va_arg(args, int));
        break;
    default:
        rc = ::fcntl(fd, op, va_arg(args, void*));
        break;
    }
    va_end(args);
    return rc;
}

int sqliteClose(int fd)
{
    descriptionLocks().closing(fd);
    return ::close(fd);
}

bool systemHasDescriptionLocks()
{
    const int fd = ::memfd_create("lock-probe", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool ok = ::fcntl(fd, F_OFD_GETLK, &probe) == 0;
    ::close(fd);
    return ok;
}

} // namespace

bool useDescriptionLocks()
{
    static const bool inUse = [] {
        if (!systemHasDescriptionLocks())
            return false;
        sqlite3_vfs* const vfs = sqlite3_vfs_find("unix");
        if (!vfs || vfs->iVersion < 3 || !vfs->xSetSystemCall)
            return false;
        // The table of system calls is shared by all of SQLite's unix file layers. close goes
        // first, so that a descriptor is never locked through the new path and closed through
        // the old one.
        if (vfs->xSetSystemCall(vfs, "close", reinterpret_cast<sqlite3_syscall_ptr>(&sqliteClose)) != SQLITE_OK)
            return false;
        if (vfs->xSetSystemCall(vfs, "fcntl", reinterpret_cast<sqlite3_syscall_ptr>(&sqliteFcntl)) != SQLITE_OK) {
            vfs->xSetSystemCall(vfs, "close", nullptr);
            return false;
        }
        return true;
    }();
    return inUse;
}

} // namespace lapido
