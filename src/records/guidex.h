// GUID operations of the marking records: new random GUIDs and their braced upper-case text.
#pragma once

#include <QString>
#include <QUuid>

#include <optional>

namespace lapido {

class TGuidEx {
public:
    static QUuid NewGuid();
    // "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}": 38 characters, upper-case digits.
    static QString ToString(const QUuid& guid);
    // The same between single quotes.
    static QString ToQuotedString(const QUuid& guid);
    // Parses the braced form (digits in either case); nullopt for anything else.
    static std::optional<QUuid> FromString(const QString& text);
    static QUuid EmptyGuid() { return QUuid(); }
    static bool EqualGuids(const QUuid& a, const QUuid& b) { return a == b; }
    static bool IsEmptyGuid(const QUuid& guid) { return guid.isNull(); }
};

} // namespace lapido
