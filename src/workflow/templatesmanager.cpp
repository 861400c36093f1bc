// TFTemplatesManager: the templates manager's behaviour without its window.
#include "workflow/templatesmanager.h"

#include "platform/operatordialogs.h"
#include "workflow/templatelist.h"

#include <QDir>
#include <QFile>

namespace lapido {

QString TFTemplatesManager::templatesDir() const
{
    return m_workingDir + QStringLiteral("Templates/");
}

void TFTemplatesManager::ShowManager(const QString& WorkingDirPath)
{
    m_workingDir = WorkingDirPath;
    if (!m_workingDir.isEmpty() && !m_workingDir.endsWith('/') && !m_workingDir.endsWith('\\'))
        m_workingDir += '/';
    for (Entry& e : m_entries)
        e.checked = false;
    m_active = true;
}

void TFTemplatesManager::SetTemplatesList(const QStringList& list)
{
    m_entries.clear();
    for (const QString& name : list)
        m_entries.push_back({name, false});
}

QStringList TFTemplatesManager::items() const
{
    QStringList out;
    for (const Entry& e : m_entries)
        out << e.name;
    return out;
}

void TFTemplatesManager::setChecked(int index, bool checked)
{
    if (index >= 0 && index < int(m_entries.size()))
        m_entries[size_t(index)].checked = checked;
}

bool TFTemplatesManager::isChecked(int index) const
{
    return index >= 0 && index < int(m_entries.size()) && m_entries[size_t(index)].checked;
}

QStringList TFTemplatesManager::GetOpenTemplatesNames() const
{
    QStringList out;
    for (const Entry& e : m_entries)
        if (e.checked)
            out << e.name;
    return out;
}

bool TFTemplatesManager::actionsEnabled() const
{
    return !GetOpenTemplatesNames().isEmpty();
}

QString TFTemplatesManager::previewPath(int index) const
{
    if (index < 0 || index >= int(m_entries.size()) || !TTemplateList::isSafeName(m_entries[size_t(index)].name))
        return {};
    const QString path = templatesDir() + m_entries[size_t(index)].name + QStringLiteral(".jpg");
    return QFile::exists(path) ? path : QString();
}

QStringList TFTemplatesManager::Import()
{
    m_active = false;
    return GetOpenTemplatesNames();
}

void TFTemplatesManager::Close()
{
    m_entries.clear();
    m_active = false;
}

bool TFTemplatesManager::Delete(const QDateTime& now)
{
    const QStringList names = GetOpenTemplatesNames();
    if (names.isEmpty())
        return false;
    const DialogButton buttons[] = {{DialogResult::Yes, {}, true}, {DialogResult::Cancel, {}, false}};
    const QString text = QStringLiteral("Wish you to delete templates listed below?\r\n") + names.join(QStringLiteral("\r\n"));
    if (operatorDialogs().message(DialogKind::Information, QStringLiteral("Information"), text, buttons)
        != DialogResult::Yes)
        return false;
    const QString backup = templatesDir() + QStringLiteral("Backup/");
    QDir().mkpath(backup);
    const QString stamp = now.toString(QStringLiteral("dd_MM_yy_HH_mm_ss"));
    for (const QString& name : names) {
        std::erase_if(m_entries, [&](const Entry& e) { return e.name == name; });
        // A name that would reach outside the folder is dropped from the list but never moved.
        if (!TTemplateList::isSafeName(name))
            continue;
        for (const char* ext : {".xml", ".jpg"}) {
            const QString from = templatesDir() + name + QString::fromLatin1(ext);
            const QString to = backup + name + QChar('_') + stamp + QString::fromLatin1(ext);
            QFile::rename(from, to); // file errors are ignored: the entry is gone from the list
        }
    }
    return true;
}

} // namespace lapido
