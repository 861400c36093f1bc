// Whole-file writes that never leave a file worse than it was, and the reasons a path cannot be
// read or written, in words an operator can act on.
#pragma once

#include <QByteArrayView>
#include <QSaveFile>
#include <QString>

#include <functional>

class QIODevice;

namespace lapido {

// Why the path cannot be opened as a file to read (missing, a folder, a device, no permission);
// empty when it can. Symbolic links are followed.
QString unreadableFileReason(const QString& path);

// Why the path cannot take a written file: it is a folder, a device, a pipe or a socket, or its
// folder does not exist; empty when it can. A symbolic link is judged by the file it points to.
QString unwritableFileReason(const QString& path);

// A file written beside its target, flushed to the disk, checked and then renamed over the
// target, so that a full disk or a failing write leaves the old file as it was. A symbolic link
// is followed and the file it points to is replaced. Errors name the file and the reason.
class SafeFile {
public:
    explicit SafeFile(const QString& path);
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Refuses folders, devices and the like; false with the message in error.
    bool open(QString* error);
    QIODevice& device() { return m_file; }
    void write(QByteArrayView bytes);
    // Makes the new content the file's; false (old file intact, nothing left beside it) with
    // the message in error when any write, the flush or the rename failed.
    bool commit(QString* error);
    // Gives up: the target stays as it was and nothing is left beside it.
    void cancel();
    const QString& path() const { return m_path; }

private:
    QString m_path;
    QSaveFile m_file;
    bool m_failed = false;
    int m_writeErrno = 0; // the system's reason for the failed write
};

// The whole of bytes as the file's new content; empty on success, else the message.
QString writeWholeFile(const QString& path, QByteArrayView bytes);
// The same with content produced by writer into the device; writer returns false to give up
// (its message in error) and the old file stays.
QString writeWholeFile(const QString& path, const std::function<bool(QIODevice&, QString*)>& writer);

// "cannot write "path": reason", the one form of a failed write.
QString cannotWrite(const QString& path, const QString& reason);

} // namespace lapido
