// TStation: the scanned-code hand-over with its label-format filter loop, the companion
// program start, and the label's auto-increment.
#include "workflow/station.h"

#include "glyphs/glyph.h"
#include "glyphs/glyphcode.h"
#include "glyphs/richstring.h"
#include "platform/debuglog.h"
#include "platform/operatordialogs.h"
#include "records/loggingproxy.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "workflow/starttf.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTextCursor>
#include <QTextDocument>

namespace lapido {

namespace {

// The editor's text replaced by the code, in the format of its first character.
void setEditorText(QTextDocument& doc, const QString& text)
{
    QTextCursor cursor(&doc);
    cursor.select(QTextCursor::Document);
    cursor.insertText(text);
}

// A hand-over that keeps failing while nobody can answer (no window) must not spin for ever.
constexpr int kMaxReloads = 1000;

} // namespace

QString TStartTF::defaultProgram()
{
    return QStringLiteral("/opt/kmt/trayflow/trayflow-ui");
}

std::function<bool(QString& error)> TStartTF::launcher(const QString& program)
{
    return [program](QString& error) {
        QProcess process;
        process.setProgram(program);
        process.setArguments({});
        if (process.startDetached())
            return true;
        error = process.errorString();
        return false;
    };
}

void TStation::StartTFApplication()
{
    if (!m_services.startCompanion)
        return;
    QString error;
    if (!m_services.startCompanion(error))
        TLoggingProxy::GetInstance().InsertTrayflowInitFailure(QStringLiteral("TrayflowInitFailure"),
                                                               QStringLiteral("Execute failed: ") + error);
}

void TStation::RemoveBarCodeFromRegistry()
{
    keys::write(keys::ScannedCode, QString());
}

void TStation::GrabBarCodeFromRegistry()
{
    // An auto-incrementing label counts by itself and ignores scanned codes.
    if (m_controls.autoIncChecked)
        return;
    const QString code = keys::read(keys::ScannedCode);
    if (code.isEmpty())
        return;
    QTextDocument& doc = m_richEdit->document();
    // Codes that follow the scanner carry what the label carries once the hand-over is done
    // (after the format filter's reloads, or as the operator let it stand).
    const auto codesFollow = qScopeGuard([this, &doc] { takeScannedCodeIntoCodes(doc.toPlainText()); });
    if (Settings().WLabelCheckBeforeEngrave) {
        setEditorText(doc, code);
        GlyphPropertiesChange();
        return;
    }

    const TSettings& s = Settings();
    const QString& M = s.WLabeTextLengthMode;
    const QString& K = s.WLabelTextType;
    const int N = s.WLabelTextLength;
    for (int round = 0; round < kMaxReloads; ++round) {
        setEditorText(doc, keys::read(keys::ScannedCode));
        GlyphPropertiesChange();
        const QString T = doc.toPlainText();
        const int L = int(T.size());
        LogDebug(T + QStringLiteral(" ") + M + QStringLiteral(" ") + QString::number(N) + QStringLiteral(" ")
                 + QString::number(L));
        if (CheckLabelFormat(T).passes())
            return;

        RemoveBarCodeFromRegistry();
        const QString text = QStringLiteral("Warning !\r\nLabel format does not match the one set in the settings page.\r\n"
                                            "Text Length Filter: ")
                             + M + QStringLiteral(" ") + QString::number(N) + QStringLiteral(".") + QStringLiteral("\r\n")
                             + QStringLiteral("Text Type Filter: ") + K + QStringLiteral(".") + QStringLiteral("\r\n")
                             + QStringLiteral("Please rescan barcode and Reload.");
        const DialogButton buttons[] = {{DialogResult::Yes, QStringLiteral("Reload"), true},
                                        {DialogResult::No, QStringLiteral("Ignore"), false}};
        if (operatorDialogs().message(DialogKind::Custom, QStringLiteral("Lapidograph"), text, buttons) == DialogResult::No)
            return;
    }
    LogDebug(QStringLiteral("scanned code: reload given up after ") + QString::number(kMaxReloads) + QStringLiteral(" rounds"));
}

void TStation::takeScannedCodeIntoCodes(const QString& text)
{
    if (text.isEmpty())
        return;
    for (TTreeNode* node : m_tree.Items())
        if (auto* code = dynamic_cast<TGlyphCode*>(node->Data()); code && code->FromScannedCode)
            code->UpDate(text, code->Symbology, code->ModuleUm, code->QuietModules, code->ModuleMarking, code->Offset);
}

// --- auto-increment -----------------------------------------------------------------------------

void TStation::CheckBox_AutoIncClick(bool checked)
{
    m_controls.autoIncChecked = checked;
    if (m_disableGlyphPropertiesChangeEvent)
        return;
    m_glyphAutoInc = nullptr;
    TTreeNode* node = m_tree.Selected();
    if (checked && node)
        m_glyphAutoInc = node->Data();
}

void TStation::BitBtnIncLabelClick()
{
    TTreeNode* node = m_tree.Selected();
    if (!node || !node->Data())
        return;
    node->Data()->Increment();
    TreeViewGlyphsChange(node);
}

} // namespace lapido
