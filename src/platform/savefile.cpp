// SafeFile: the write-beside, flush, rename of every whole file the programs and the station
// write, with the checks that keep devices and folders from being replaced.
#include "platform/savefile.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace lapido {

namespace {

QString errnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// What a path that is not a regular file is, for the message; empty for a regular file.
QString notAFileKind(const struct stat& st)
{
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a folder");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("it is a device");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("it is a pipe");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("it is a socket");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("it is not a file");
    return {};
}

// The reason a write, flush or commit of the device failed. Qt leaves some of these without a
// text of its own ("Unknown error", as a write-back of a full disk does); the system's reason,
// taken right after the failing call, names it then.
QString failureReason(const QIODevice& file, int savedErrno)
{
    const QString qtReason = file.errorString();
    const bool vague = qtReason.isEmpty() || qtReason == QLatin1String("Unknown error");
    if (vague && savedErrno != 0)
        return errnoText(savedErrno);
    return qtReason;
}

} // namespace

QString cannotWrite(const QString& path, const QString& reason)
{
    return QStringLiteral("cannot write \"%1\": %2").arg(path, reason);
}

QString unreadableFileReason(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("no file name was given");
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return errno == ENOENT ? QStringLiteral("\"%1\" does not exist").arg(path)
                               : QStringLiteral("\"%1\" cannot be read: %2").arg(path, errnoText(errno));
    const QString kind = notAFileKind(st);
    if (!kind.isEmpty())
        return QStringLiteral("\"%1\" cannot be read: %2").arg(path, kind);
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly))
        return QStringLiteral("\"%1\" cannot be read: %2").arg(path, probe.errorString());
    return {};
}

QString unwritableFileReason(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("no file name was given");
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) == 0)
        return notAFileKind(st);
    if (errno != ENOENT)
        return errnoText(errno);
    // A new file: its folder must be there (a dangling link's target folder included).
    const QFileInfo info(QFileInfo(path).isSymLink() ? QFileInfo(path).symLinkTarget() : path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists())
        return QStringLiteral("the folder \"%1\" does not exist").arg(folder.filePath());
    if (!folder.isDir())
        return QStringLiteral("\"%1\" is not a folder").arg(folder.filePath());
    return {};
}

SafeFile::SafeFile(const QString& path) : m_path(path), m_file(path) {}

SafeFile::~SafeFile()
{
    cancel();
}

bool SafeFile::open(QString* error)
{
    m_failed = false;
    if (const QString reason = unwritableFileReason(m_path); !reason.isEmpty()) {
        if (error)
            *error = cannotWrite(m_path, reason);
        return false;
    }
    if (!m_file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = cannotWrite(m_path, m_file.errorString());
        return false;
    }
    return true;
}

void SafeFile::write(QByteArrayView bytes)
{
    if (m_failed || bytes.isEmpty())
        return;
    errno = 0;
    if (m_file.write(bytes.data(), bytes.size()) != bytes.size()) {
        m_failed = true;
        m_writeErrno = errno;
    }
}

void SafeFile::cancel()
{
    if (!m_file.isOpen())
        return;
    m_file.cancelWriting();
    m_file.commit(); // refused after cancelWriting: drops the file beside the target
}

bool SafeFile::commit(QString* error)
{
    if (!m_file.isOpen()) {
        if (error)
            *error = cannotWrite(m_path, QStringLiteral("the file was not opened"));
        return false;
    }
    // QSaveFile remembers a failed write and then refuses to commit; flushing first makes a
    // full disk show up here rather than in a later buffered write.
    errno = 0;
    if (m_failed || !m_file.flush() || m_file.error() != QFileDevice::NoError) {
        const QString reason = failureReason(m_file, m_failed ? m_writeErrno : errno);
        cancel();
        if (error)
            *error = cannotWrite(m_path, reason);
        return false;
    }
    errno = 0;
    if (!m_file.commit()) {
        const int savedErrno = errno;
        if (error)
            *error = cannotWrite(m_path, failureReason(m_file, savedErrno));
        return false;
    }
    return true;
}

QString writeWholeFile(const QString& path, QByteArrayView bytes)
{
    return writeWholeFile(path, [bytes](QIODevice& device, QString*) {
        return device.write(bytes.data(), bytes.size()) == bytes.size() || bytes.isEmpty();
    });
}

QString writeWholeFile(const QString& path, const std::function<bool(QIODevice&, QString*)>& writer)
{
    SafeFile file(path);
    QString error;
    if (!file.open(&error))
        return error;
    QString writerError;
    errno = 0;
    if (!writer(file.device(), &writerError)) {
        const int savedErrno = errno;
        if (writerError.isEmpty())
            writerError = failureReason(file.device(), savedErrno);
        file.cancel();
        return cannotWrite(path, writerError);
    }
    if (!file.commit(&error))
        return error;
    return {};
}

} // namespace lapido
