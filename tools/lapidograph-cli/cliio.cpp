// Output helpers for the command-line tools.
#include "cliio.h"

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

int usageError(const QString& message)
{
    err(QStringLiteral("lapidograph-cli: ") + message);
    return 2;
}

} // namespace lapido::cli
