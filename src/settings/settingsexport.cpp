// Export and import text of the settings store.
#include "settings/settingsexport.h"

#include "platform/savefile.h"

#include <QList>
#include <QStringView>

namespace lapido {

namespace {

QString escape(const QString& s, bool key)
{
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        switch (c.unicode()) {
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '=':
            if (key) {
                out += QStringLiteral("\\=");
                break;
            }
            out += c;
            break;
        case '[':
        case '#':
            // A key starting with '[' would read as a section header, one starting with '#'
            // as a comment.
            if (key && out.isEmpty()) {
                out += QChar('\\');
                out += c;
                break;
            }
            out += c;
            break;
        default: out += c;
        }
    }
    return out;
}

bool unescape(QStringView s, QString& out)
{
    out.clear();
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c != QChar('\\')) {
            out += c;
            continue;
        }
        if (++i >= s.size())
            return false;
        switch (s[i].unicode()) {
        case '\\': out += QChar('\\'); break;
        case 't': out += QChar('\t'); break;
        case 'r': out += QChar('\r'); break;
        case 'n': out += QChar('\n'); break;
        case '=': out += QChar('='); break;
        case '[': out += QChar('['); break;
        case '#': out += QChar('#'); break;
        case ']': out += QChar(']'); break;
        default: return false;
        }
    }
    return true;
}

// Index of the first "=" not escaped by a backslash, or -1.
qsizetype separatorIndex(QStringView line)
{
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == QChar('\\')) {
            ++i;
            continue;
        }
        if (line[i] == QChar('='))
            return i;
    }
    return -1;
}

} // namespace

QString exportSettingsText(const std::vector<SettingsEntry>& entries)
{
    QString out = QStringLiteral("# Lapidograph settings\n");
    QString current;
    bool first = true;
    for (const auto& e : entries) {
        if (first || e.section.compare(current, Qt::CaseInsensitive) != 0) {
            QString sec = escape(e.section, false);
            sec.replace(QChar(']'), QStringLiteral("\\]"));
            out += QStringLiteral("\n[") + sec + QStringLiteral("]\n");
            current = e.section;
            first = false;
        }
        out += escape(e.key, true) + QChar('=') + escape(e.value, false) + QChar('\n');
    }
    out += QChar('\n') + kSettingsExportEnd + QChar('\n');
    return out;
}

ParsedSettings parseSettingsText(const QString& text)
{
    ParsedSettings result;
    QString section;
    bool haveSection = false;
    const auto lines = QStringView(text).split(QChar('\n'));
    int lineNo = 0;
    bool ended = false;
    auto refuse = [&result](const QString& why) {
        result.error = why;
        result.entries.clear();
        return result;
    };
    for (QStringView line : lines) {
        ++lineNo;
        // A CR in a value is written \r, so one at the end of a line is its line end (CR LF).
        if (line.endsWith(QChar('\r')))
            line.chop(1);
        if (ended) {
            if (!line.isEmpty())
                return refuse(QStringLiteral("line %1: text after the closing line").arg(lineNo));
            continue;
        }
        if (line == kSettingsExportEnd) {
            ended = true;
            continue;
        }
        if (line.isEmpty() || line.startsWith(QChar('#')))
            continue;
        if (line.startsWith(QChar('[')) && line.endsWith(QChar(']')) && !line.endsWith(QStringLiteral("\\]"))) {
            if (!unescape(line.mid(1, line.size() - 2), section)) {
                result.error = QStringLiteral("line %1: bad escape in section name").arg(lineNo);
                result.entries.clear();
                return result;
            }
            haveSection = true;
            continue;
        }
        const qsizetype eq = separatorIndex(line);
        if (eq < 0 || !haveSection) {
            result.error = QStringLiteral("line %1: expected [Section] or Key=Value").arg(lineNo);
            result.entries.clear();
            return result;
        }
        SettingsEntry e;
        e.section = section;
        if (!unescape(line.left(eq), e.key) || !unescape(line.mid(eq + 1), e.value) || e.key.isEmpty()) {
            result.error = QStringLiteral("line %1: bad key or escape").arg(lineNo);
            result.entries.clear();
            return result;
        }
        result.entries.push_back(std::move(e));
    }
    // Without its closing line the text was cut off, perhaps in the middle of a value.
    if (!ended)
        return refuse(QStringLiteral("the text ends before its closing line \"%1\": it is not a whole export")
                          .arg(kSettingsExportEnd));
    return result;
}

QString exportSettingsFile(const SettingsStore& store, const QString& path)
{
    return writeWholeFile(path, QByteArrayView(exportSettingsText(store.entries()).toUtf8()));
}

} // namespace lapido
