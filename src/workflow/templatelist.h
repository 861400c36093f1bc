// TTemplateList: the open label templates (names, XML texts, shortcut keys, saved flags) and
// their files under the working folder's "Templates/".
#pragma once

#include <QString>
#include <QStringList>

namespace lapido {

class TTemplateList {
public:
    // Reads the working folder (writing the program folder when none is set), creates the
    // templates folder, fills empty permanent bindings with "NULL" and opens "Default".
    TTemplateList();

    // Appends a template; unless it is "Default" or comes from disc, writes it and returns its
    // path without extension. Empty when nothing was written; a failed write says why (naming
    // the file) in error.
    QString NewTemplate(const QString& templatename, const QString& templatedata,
                        const QString& shortcut, bool loadingfromdisc, QString* error = nullptr);
    // Writes the template as name + ".xml" (beside, then renamed over the earlier file); returns
    // the path without extension, empty when the index is out of range, the name would leave the
    // folder or the file could not be written (error then says why, naming the file).
    QString ExportTemplate(int index, QString* error = nullptr);
    // Reads name + ".xml" decoding each byte as 7-bit ASCII ("?" above 127) and appends it.
    // False when the name is not a plain file name or the file cannot be read.
    bool ImportTemplate(const QString& name);
    QString GetTemplate(int index) const;
    void SetTemplate(int index, const QString& glyphData);
    int IndexOfName(const QString& Name) const;
    int GetItemTempBind(const QString& Bind) const;
    // Temporary and permanent bindings with their confirmation questions; true when changed.
    bool SetItemTempBind(int ItemIndex, const QString& Bind);
    bool SetItemRegBind(int ItemIndex, const QString& Bind);
    const QStringList& TemplatesNames() const { return m_names; }
    const QStringList& TemplatesBinds() const { return m_shortcuts; }
    const QStringList& SaveHistory() const { return m_saveHistory; }
    // Template files on disc: every name containing ".xml"/".XML", up to its first ".".
    QStringList GetTemplatesPathLinks() const;
    // Asks "Close "name" ?"; true when the entry was closed. Entry 0 is never closed.
    bool CloseTemplate(int index);
    int Count() const { return static_cast<int>(m_names.size()); }

    // Folder of the template files, with a trailing separator.
    QString filesDir() const { return m_filesDir; }
    // The key code of digit 1..9 as a binding text ("49".."57"); empty outside 1..9.
    static QString digitBind(int digit);
    // The digit of a binding text, 0 when it is none.
    static int bindDigit(const QString& bind);
    // A template name usable as a file name inside the folder (no separators, no "..").
    static bool isSafeName(const QString& name);

private:
    QString m_filesDir;
    QStringList m_names;
    QStringList m_templates;
    QStringList m_shortcuts;
    QStringList m_saveHistory;
};

} // namespace lapido
