// Small texts the station's units share: millimetre boxes, quoted names, file names of a label.
#pragma once

#include <QString>

namespace lapido {

// Fixed notation with three decimals, as the millimetre boxes show a length.
inline QString threeDecimals(double value)
{
    return QString::number(value, 'f', 3);
}

// The name between double quotes, as the boxes name a template.
inline QString quoted(const QString& text)
{
    return QChar('"') + text + QChar('"');
}

// True when the name stays inside its folder: no path delimiter, no "..", no drive colon.
inline bool isPlainFileName(const QString& name)
{
    return !name.contains(QChar('/')) && !name.contains(QChar('\\')) && !name.contains(QStringLiteral(".."))
           && !name.contains(QChar(':'));
}

} // namespace lapido
