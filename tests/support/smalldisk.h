// A small filesystem of its own for the full-disk tests, so that filling it touches nothing
// else. Mounting needs root; the tests skip when it cannot be mounted.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace lapido::test {

class SmallDisk {
public:
    explicit SmallDisk(QString path) : m_path(std::move(path))
    {
        QDir().mkpath(m_path);
        // The system call rather than the mount program: a child process started from a test
        // that runs threads later confuses the thread checker's bookkeeping.
        m_mounted = ::mount("tmpfs", QFile::encodeName(m_path).constData(), "tmpfs", 0, "size=1m") == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount(QFile::encodeName(m_path).constData());
    }
    bool mounted() const { return m_mounted; }
    const QString& path() const { return m_path; }
    // Fills it to the last byte (large blocks, then single bytes for the rest of the last page),
    // then gives back room bytes.
    void fill(off_t room = 0) const
    {
        const QByteArray name = QFile::encodeName(m_path + QStringLiteral("/filler"));
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return;
        const std::vector<char> block(64 * 1024, 'x');
        for (std::size_t size : {block.size(), std::size_t(4096), std::size_t(1)})
            while (::write(fd, block.data(), size) == static_cast<ssize_t>(size)) {
            }
        if (room > 0)
            (void)::ftruncate(fd, std::max<off_t>(0, ::lseek(fd, 0, SEEK_END) - room));
        ::close(fd);
    }
    // Takes the filler away: the disk has room again.
    void free() const { QFile::remove(m_path + QStringLiteral("/filler")); }

private:
    QString m_path;
    bool m_mounted = false;
};

} // namespace lapido::test
