// TStation: the template list of the main window: save with a name proposal, load, close,
// key bindings and the snapshot beside each template file.
#include "workflow/station.h"

#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "platform/debuglog.h"
#include "platform/operatordialogs.h"
#include "settings/settingsrecord.h"
#include "workflow/stationtexts.h"
#include "workflow/templatelist.h"
#include "platform/savefile.h"

#include <QImageWriter>
#include <QTextCursor>
#include <QTextDocument>

namespace lapido {

namespace {
bool allDigits(const QString& s)
{
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (c < QChar('0') || c > QChar('9'))
            return false;
    return true;
}
} // namespace

QStringList TStation::ComboBoxTemplatesItems() const
{
    QStringList items;
    const QStringList& names = templateList().TemplatesNames();
    const QStringList& binds = templateList().TemplatesBinds();
    for (int i = 0; i < names.size(); ++i) {
        const int digit = TTemplateList::bindDigit(binds[i]);
        items << (digit > 0 ? QStringLiteral("[Alt+%1] ").arg(digit) : QStringLiteral("[%1] ").arg(i)) + names[i];
    }
    return items;
}

void TStation::refreshTemplateControls()
{
    m_templateIndex = 0;
    m_controls.templateClose = false;
}

void TStation::ComboBoxTemplatesChange(int index)
{
    if (index < 0 || index >= templateList().Count())
        return;
    // A template without text is not taken: the selection stays with the label on show.
    if (templateList().GetTemplate(index).isEmpty())
        return;
    if (!mayReplaceLabel())
        return;
    m_templateIndex = index;
    loadSelectedTemplate();
}

void TStation::loadSelectedTemplate()
{
    const QString xml = templateList().GetTemplate(m_templateIndex);
    if (xml.isEmpty())
        return;
    QString error;
    if (!XML2Tree(xml, &error)) {
        operatorDialogs().error(QStringLiteral("Template ") + quoted(templateList().TemplatesNames().value(m_templateIndex))
                                + QStringLiteral(": ") + error);
        return;
    }
    markLabelSaved();
    m_controls.templateClose = m_templateIndex != 0;
    if (m_templateIndex == 0)
        m_controls.panel = TPropertyPanel::None;
    if (m_tree.IsEmpty())
        return;
    for (TTreeNode* node : m_tree.Items())
        if (dynamic_cast<TGlyphRichString*>(node->Data())) {
            m_tree.setSelected(node);
            TreeViewGlyphsChange(node);
            if (Settings().TargetLabelAfterF10) {
                QTextCursor cursor(&m_richEdit->document());
                cursor.select(QTextCursor::Document);
                m_richEdit->setTextCursor(cursor);
            }
            break;
        }
}

QString TStation::proposeTemplateName() const
{
    const QStringList& names = templateList().TemplatesNames();
    const QString S = names.value(m_templateIndex);
    QString P;
    int n = 1;
    for (const QString& name : names) {
        if (P.isEmpty() || !name.contains(P)) {
            P = S;
            continue;
        }
        P = name;
        const qsizetype underscore = name.lastIndexOf(QChar('_'));
        if (underscore < 0) {
            P = S;
            continue;
        }
        const QString tail = name.mid(underscore + 1);
        if (allDigits(tail)) {
            n = tail.toInt() + 1;
            P = S + QStringLiteral("_") + QString::number(n);
        } else {
            P = S + QStringLiteral("_2");
        }
    }
    const qsizetype first = P.indexOf(QChar('_'));
    if (first >= 0)
        P.truncate(first);
    return P + QStringLiteral("_") + QString::number(n);
}

std::optional<QString> TStation::askTemplateName()
{
    const QString proposal = proposeTemplateName();
    for (;;) {
        const std::optional<QString> answer =
            operatorDialogs().input(QStringLiteral("Save Template"), QStringLiteral("Template Name:"), proposal);
        if (!answer)
            return std::nullopt;
        const QString name = answer->trimmed();
        if (name.isEmpty())
            continue;
        // A name that would leave the templates folder is refused like a taken one.
        if (templateList().IndexOfName(name) >= 0 || !TTemplateList::isSafeName(name)) {
            const DialogButton ok[] = {{DialogResult::Ok, {}, true}};
            operatorDialogs().message(DialogKind::Warning, QStringLiteral("Warning"),
                                      QStringLiteral("Template name already exists or not allowed, please retry."), ok);
            continue;
        }
        return name;
    }
}

QString TStation::saveTemplateSnapshot(const QString& pathWithoutExtension)
{
    QImage picture = m_services.snapshot ? m_services.snapshot() : QImage();
    if (picture.isNull()) {
        picture = QImage(640, 480, QImage::Format_RGB32);
        picture.fill(Qt::gray);
    }
    const QString why = writeWholeFile(pathWithoutExtension + QStringLiteral(".jpg"), [&picture](QIODevice& device, QString*) {
        QImageWriter writer(&device, "jpg");
        return writer.write(picture);
    });
    if (!why.isEmpty())
        LogDebug(why);
    return why;
}

void TStation::reportTemplateSave(const QString& name, const QString& path, const QString& error)
{
    // The file, then its snapshot: the first failure is the one the operator reads.
    QString why = error;
    if (why.isEmpty() && !path.isEmpty())
        why = saveTemplateSnapshot(path);
    else if (why.isEmpty())
        why = QStringLiteral("it could not be written to the templates folder");
    if (!why.isEmpty())
        operatorDialogs().error(QStringLiteral("The template ") + quoted(name) + QStringLiteral(" was not saved: ") + why);
}

void TStation::BitBtnSaveTemplateClick()
{
    const auto saveAsNew = [this] {
        const std::optional<QString> name = askTemplateName();
        if (!name)
            return;
        QString error;
        const QString path = templateList().NewTemplate(*name, Tree2XML(), QString(), false, &error);
        const int added = templateList().Count() - 1;
        reportTemplateSave(*name, path, error);
        if (error.isEmpty())
            markLabelSaved();
        refreshTemplateControls();
        m_templateIndex = added;
        m_controls.templateClose = true;
    };

    if (m_templateIndex <= 0 || m_templateIndex >= templateList().Count()) {
        saveAsNew();
        return;
    }
    const QString name = templateList().TemplatesNames().value(m_templateIndex);
    const DialogButton buttons[] = {{DialogResult::Yes, {}, true},
                                    {DialogResult::No, QStringLiteral("Save As..."), false},
                                    {DialogResult::Cancel, {}, false}};
    const DialogResult answer = operatorDialogs().message(
        DialogKind::Custom, QStringLiteral("Lapidograph"), QStringLiteral("Replace Template ") + quoted(name) + QStringLiteral("?"),
        buttons);
    if (answer == DialogResult::Yes) {
        templateList().SetTemplate(m_templateIndex, Tree2XML());
        QString error;
        const QString path = templateList().ExportTemplate(m_templateIndex, &error);
        reportTemplateSave(name, path, error);
        if (error.isEmpty())
            markLabelSaved();
    } else if (answer == DialogResult::No) {
        saveAsNew();
    }
}

void TStation::BitBtnLoadTemplateClick(const QStringList& checkedNames)
{
    QStringList failed;
    for (const QString& name : checkedNames)
        if (!templateList().ImportTemplate(name))
            failed << name;
    refreshTemplateControls();
    if (!failed.isEmpty())
        operatorDialogs().error(QStringLiteral("These templates could not be read:\r\n") + failed.join(QStringLiteral("\r\n")));
}

void TStation::BitBtnCloseTemplateClick()
{
    const int index = m_templateIndex;
    if (index <= 0 || !mayReplaceLabel() || !templateList().CloseTemplate(index))
        return;
    refreshTemplateControls();
    m_templateIndex = index - 1;
    loadSelectedTemplate();
}

void TStation::bindTemplate(int digit, bool permanent)
{
    const QString bind = TTemplateList::digitBind(digit);
    if (bind.isEmpty())
        return;
    const int selected = m_templateIndex;
    if (permanent)
        templateList().SetItemRegBind(selected, bind);
    else
        templateList().SetItemTempBind(selected, bind);
    refreshTemplateControls();
    m_templateIndex = selected;
    m_controls.templateClose = selected != 0;
}

void TStation::BindTemplateTemporary(int digit)
{
    bindTemplate(digit, false);
}

void TStation::BindTemplatePermanent(int digit)
{
    bindTemplate(digit, true);
}

void TStation::UseTemplateBinding(int digit)
{
    const int index = templateList().GetItemTempBind(TTemplateList::digitBind(digit));
    // A slip of the finger on an unbound digit must not reload the label on show.
    if (index < 0) {
        m_statusMessage = QStringLiteral("No template is bound to Alt+%1 (Ctrl+%1 binds the one shown).").arg(digit);
        return;
    }
    if (!mayReplaceLabel())
        return;
    m_templateIndex = index;
    loadSelectedTemplate();
}

} // namespace lapido
