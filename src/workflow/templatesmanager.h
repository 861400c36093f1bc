// TFTemplatesManager as a model: the template files offered for import, their checks, the
// preview picture and the delete into "Backup".
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

namespace lapido {

class TFTemplatesManager {
public:
    // Opens the manager for the working folder (with a trailing separator): checks cleared.
    void ShowManager(const QString& WorkingDirPath);
    void SetTemplatesList(const QStringList& list);
    QStringList items() const;
    void setChecked(int index, bool checked);
    bool isChecked(int index) const;
    QStringList GetOpenTemplatesNames() const;
    bool isActivated() const { return m_active; }
    // "Delete" and "Import" are usable exactly when a name is checked.
    bool actionsEnabled() const;
    // The snapshot beside the template, empty when there is none.
    QString previewPath(int index) const;

    // "Import" (and closing by the frame): closes keeping the checks, which are then imported.
    QStringList Import();
    // "Close": empties the list and closes; nothing is imported.
    void Close();
    // "Delete": asks, then moves each checked template's files into "Templates/Backup/" under
    // name_dd_mm_yy_hh_mm_ss. False when the operator cancelled or nothing was checked.
    bool Delete(const QDateTime& now = QDateTime::currentDateTime());

private:
    struct Entry {
        QString name;
        bool checked = false;
    };
    QString templatesDir() const;

    QString m_workingDir;
    std::vector<Entry> m_entries;
    bool m_active = false;
};

} // namespace lapido
