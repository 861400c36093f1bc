// TTemplateList: the open templates in four parallel lists and their files on disc.
#include "workflow/templatelist.h"

#include "platform/debuglog.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "workflow/stationtexts.h"
#include "platform/savefile.h"

#include <QDir>
#include <QFile>

namespace lapido {

namespace {

const QString kDefaultName = QStringLiteral("Default");
constexpr qint64 kMaxTemplateBytes = 4 * 1024 * 1024;

QString bindKeyName(int digit)
{
    return QString::fromLatin1(keys::kBindKeyPrefix) + QString::number(digit);
}

QString readBindKey(int digit)
{
    return AppRegistry().ReadString(QString::fromLatin1(keys::kLayout), bindKeyName(digit),
                                    QString::fromLatin1(keys::kBindKeyNone));
}

void writeBindKey(int digit, const QString& value)
{
    AppRegistry().WriteString(QString::fromLatin1(keys::kLayout), bindKeyName(digit), value);
}

bool askYesCancel(const QString& text)
{
    const DialogButton buttons[] = {{DialogResult::Yes, {}, true}, {DialogResult::Cancel, {}, false}};
    return operatorDialogs().message(DialogKind::Information, QStringLiteral("Information"), text, buttons)
           == DialogResult::Yes;
}

// Template files are read back byte by byte as 7-bit ASCII, so every other character is
// written as a character reference; the label then comes back unchanged.
QByteArray asciiXml(const QString& xml)
{
    QByteArray out;
    out.reserve(xml.size());
    for (qsizetype i = 0; i < xml.size(); ++i) {
        const QChar c = xml.at(i);
        if (c.unicode() < 128) {
            out += char(c.unicode());
            continue;
        }
        char32_t code = c.unicode();
        if (c.isHighSurrogate() && i + 1 < xml.size() && xml.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(c, xml.at(i + 1));
            ++i;
        }
        out += "&#x" + QByteArray::number(uint(code), 16).toUpper() + ';';
    }
    return out;
}

} // namespace

TTemplateList::TTemplateList()
{
    // The station's working folder once the main window has set it, else the stored one.
    QString dir = WorkingDir();
    if (dir.isEmpty())
        dir = keys::read(keys::WorkingDir);
    if (dir.isEmpty()) {
        keys::write(keys::WorkingDir, DefaultWorkingDir());
        dir = keys::read(keys::WorkingDir);
    }
    if (!dir.endsWith('/') && !dir.endsWith('\\'))
        dir += '/';
    m_filesDir = dir + QStringLiteral("Templates/");
    LogDebug(QStringLiteral("templates workingdir = ") + dir);
    LogDebug(QStringLiteral("templates FilesDir = ") + m_filesDir);
    QDir().mkpath(m_filesDir);
    for (int n = 1; n <= 9; ++n)
        if (AppRegistry().ReadString(QString::fromLatin1(keys::kLayout), bindKeyName(n), QString()).isEmpty())
            writeBindKey(n, QString::fromLatin1(keys::kBindKeyNone));
    NewTemplate(kDefaultName, QStringLiteral("<tree2xml app=\"Lapidograph.exe\">"), QString(), false);
}

QString TTemplateList::digitBind(int digit)
{
    if (digit < 1 || digit > 9)
        return {};
    return QString::number(0x30 + digit);
}

int TTemplateList::bindDigit(const QString& bind)
{
    bool ok = false;
    const int code = bind.toInt(&ok);
    return ok && code >= 0x31 && code <= 0x39 ? code - 0x30 : 0;
}

bool TTemplateList::isSafeName(const QString& name)
{
    if (name.trimmed().isEmpty() || name.size() > 200)
        return false;
    if (!isPlainFileName(name))
        return false;
    for (QChar c : name)
        if (c.unicode() < 32)
            return false;
    return true;
}

QString TTemplateList::NewTemplate(const QString& templatename, const QString& templatedata,
                                   const QString& shortcut, bool loadingfromdisc, QString* error)
{
    m_names << templatename;
    m_templates << templatedata;
    m_shortcuts << shortcut;
    m_saveHistory << QStringLiteral("false");
    if (templatename == kDefaultName || loadingfromdisc)
        return {};
    return ExportTemplate(Count() - 1, error);
}

QString TTemplateList::ExportTemplate(int index, QString* error)
{
    if (index < 0 || index >= Count() || !isSafeName(m_names[index]))
        return {};
    const QString base = m_filesDir + m_names[index];
    const QString why = writeWholeFile(base + QStringLiteral(".xml"), QByteArrayView(asciiXml(m_templates[index])));
    if (!why.isEmpty()) {
        if (error)
            *error = why;
        return {};
    }
    m_saveHistory[index] = QStringLiteral("true");
    return base;
}

bool TTemplateList::ImportTemplate(const QString& name)
{
    if (!isSafeName(name))
        return false;
    // The listing offers ".XML" files too; on a case-sensitive disc they are only found so.
    QString path = m_filesDir + name + QStringLiteral(".xml");
    if (!QFile::exists(path))
        path = m_filesDir + name + QStringLiteral(".XML");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxTemplateBytes)
        return false;
    const QByteArray bytes = file.readAll();
    QString text;
    text.reserve(bytes.size());
    for (char b : bytes)
        text += static_cast<unsigned char>(b) > 127 ? QChar('?') : QChar(char16_t(static_cast<unsigned char>(b)));
    QString shortcut;
    for (int n = 1; n <= 9; ++n)
        if (readBindKey(n) == name) {
            shortcut = digitBind(n);
            break;
        }
    NewTemplate(name, text, shortcut, true);
    return true;
}

QString TTemplateList::GetTemplate(int index) const
{
    return index >= 0 && index < Count() ? m_templates[index] : QString();
}

void TTemplateList::SetTemplate(int index, const QString& glyphData)
{
    if (index == -1)
        index = 0;
    if (index < 0 || index >= Count())
        return;
    m_templates[index] = glyphData;
    m_saveHistory[index] = QStringLiteral("false");
}

int TTemplateList::IndexOfName(const QString& Name) const
{
    return int(m_names.indexOf(Name));
}

int TTemplateList::GetItemTempBind(const QString& Bind) const
{
    return int(m_shortcuts.indexOf(Bind));
}

bool TTemplateList::SetItemTempBind(int ItemIndex, const QString& Bind)
{
    if (ItemIndex < 0 || ItemIndex >= Count() || bindDigit(Bind) == 0)
        return false;
    const int holder = GetItemTempBind(Bind);
    if (holder == ItemIndex)
        return false;
    if (holder >= 0) {
        if (!askYesCancel(QStringLiteral("Bind is arleady assigned to ") + quoted(m_names[holder])
                          + QStringLiteral(", Replace For ") + quoted(m_names[ItemIndex]) + QStringLiteral("?")))
            return false;
        m_shortcuts[holder].clear();
    }
    m_shortcuts[ItemIndex] = Bind;
    return true;
}

bool TTemplateList::SetItemRegBind(int ItemIndex, const QString& Bind)
{
    const int digit = bindDigit(Bind);
    if (ItemIndex < 0 || ItemIndex >= Count() || digit == 0)
        return false;
    const QString name = m_names[ItemIndex];
    const QString current = readBindKey(digit);
    if (current != QString::fromLatin1(keys::kBindKeyNone)) {
        if (!askYesCancel(QStringLiteral("Permanent Bind is arleady assigned to ") + quoted(current)
                          + QStringLiteral(", Replace For ") + quoted(name) + QStringLiteral("?")))
            return false;
    }
    // One digit per template and one template per digit, in the store and among the open
    // entries alike, so that Alt+digit never has two candidates.
    for (int n = 1; n <= 9; ++n)
        if (n != digit && readBindKey(n) == name)
            writeBindKey(n, QString::fromLatin1(keys::kBindKeyNone));
    writeBindKey(digit, name);
    for (int i = 0; i < Count(); ++i)
        if (i != ItemIndex && m_shortcuts[i] == Bind)
            m_shortcuts[i].clear();
    m_shortcuts[ItemIndex] = Bind;
    return true;
}

QStringList TTemplateList::GetTemplatesPathLinks() const
{
    QStringList names;
    const QStringList files = QDir(m_filesDir).entryList(QDir::Files, QDir::Name);
    for (const QString& file : files)
        if (file.contains(QStringLiteral(".xml")) || file.contains(QStringLiteral(".XML")))
            names << file.left(file.indexOf(QChar('.')));
    return names;
}

bool TTemplateList::CloseTemplate(int index)
{
    if (index <= 0 || index >= Count())
        return false;
    if (!askYesCancel(QStringLiteral("Close ") + quoted(m_names[index]) + QStringLiteral(" ?")))
        return false;
    m_names.removeAt(index);
    m_templates.removeAt(index);
    m_shortcuts.removeAt(index);
    m_saveHistory.removeAt(index);
    return true;
}

} // namespace lapido
