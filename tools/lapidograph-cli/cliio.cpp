// Output helpers for the command-line tools.
#include "cliio.h"

#include "platform/numfmt.h"

#include <QFile>
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

std::optional<QString> readLabelFile(const QString& path)
{
    // Label files larger than this are not labels.
    constexpr qint64 kMaxLabelBytes = 16 * 1024 * 1024;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        err(QStringLiteral("lapidograph-cli: cannot read \"%1\": %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    if (file.size() > kMaxLabelBytes) {
        err(QStringLiteral("lapidograph-cli: \"%1\" is too large to be a label").arg(path));
        return std::nullopt;
    }
    return QString::fromUtf8(file.readAll());
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
