// Output helpers for the command-line tools.
#include "cliio.h"

#include "glyphs/glyph.h"
#include "platform/numfmt.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "workflow/station.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace lapido::cli {

void out(const QString& line)
{
    const QByteArray b = line.toUtf8();
    std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), stdout);
    std::fputc('\n', stdout);
}

void err(const QString& line)
{
    const QByteArray b = line.toUtf8();
    std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), stderr);
    std::fputc('\n', stderr);
}

std::optional<QByteArray> readLabelFile(const QString& path)
{
    // Label files larger than this are not labels.
    constexpr qint64 kMaxLabelBytes = 16 * 1024 * 1024;
    if (QFileInfo(path).isDir()) {
        err(QStringLiteral("lapidograph-cli: cannot read \"%1\": it is a folder").arg(path));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        err(QStringLiteral("lapidograph-cli: cannot read \"%1\": %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    QByteArray bytes = file.read(kMaxLabelBytes + 1);
    if (bytes.size() > kMaxLabelBytes) {
        err(QStringLiteral("lapidograph-cli: \"%1\" is too large to be a label").arg(path));
        return std::nullopt;
    }
    if (file.error() != QFileDevice::NoError) {
        err(QStringLiteral("lapidograph-cli: cannot read \"%1\": %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    return bytes;
}

void takeLogoFolder(const QDir& labelFolder)
{
    if (labelFolder.exists(QStringLiteral("Logos")))
        setWorkingDir(labelFolder.absolutePath() + QLatin1Char('/'));
    else if (WorkingDir().isEmpty())
        setWorkingDir(keys::read(keys::WorkingDir));
}

LabelLoad loadLabel(TStation& station, const QString& labelPath, const QByteArray& labelBytes)
{
    QString error;
    bool refused = false;
    const QString previousCurrent = QDir::currentPath();
    QDir::setCurrent(QFileInfo(labelPath).absoluteDir().absolutePath());
    const bool loaded = station.XML2TreeFromBytes(labelBytes, &error, &refused);
    QDir::setCurrent(previousCurrent);
    if (loaded)
        return LabelLoad::Loaded;
    if (refused) {
        err(QStringLiteral("lapidograph-cli: \"%1\": %2").arg(labelPath, error));
        return LabelLoad::Refused;
    }
    err(QStringLiteral("lapidograph-cli: \"%1\" is not a label: %2").arg(labelPath, error));
    return LabelLoad::Unreadable;
}

int usageError(const QString& message)
{
    err(QStringLiteral("lapidograph-cli: ") + message);
    return 2;
}

std::optional<std::vector<double>> pointNumbers(const QString& text, int count)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != count)
        return std::nullopt;
    std::vector<double> values;
    for (const QString& p : parts) {
        const auto v = StrToFloatPoint(p.trimmed().toStdString());
        if (!v)
            return std::nullopt;
        values.push_back(*v);
    }
    return values;
}

} // namespace lapido::cli
