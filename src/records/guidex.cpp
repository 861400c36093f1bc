// GUID creation and text forms.
#include "records/guidex.h"

#include <QRegularExpression>

namespace lapido {

QUuid TGuidEx::NewGuid()
{
    return QUuid::createUuid();
}

QString TGuidEx::ToString(const QUuid& guid)
{
    return guid.toString(QUuid::WithBraces).toUpper();
}

QString TGuidEx::ToQuotedString(const QUuid& guid)
{
    return QChar('\'') + ToString(guid) + QChar('\'');
}

std::optional<QUuid> TGuidEx::FromString(const QString& text)
{
    static const QRegularExpression braced(QStringLiteral(
        "^\\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\}$"));
    if (!braced.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

} // namespace lapido
