// QtOperatorDialogs: QMessageBox, QInputDialog, QFileDialog, and the station's own small windows.
#include "ui/common/qtoperatordialogs.h"

#include "ui/workflow/frmmessage.h"
#include "ui/workflow/frmwait.h"

#include <QAbstractFileIconProvider>
#include <QFileDialog>
#include <QInputDialog>
#include <QMimeDatabase>
#include <QMessageBox>
#include <QPushButton>

namespace lapido {

namespace {

QMessageBox::Icon iconOf(DialogKind kind)
{
    switch (kind) {
    case DialogKind::Error: return QMessageBox::Critical;
    case DialogKind::Information: return QMessageBox::Information;
    case DialogKind::Warning: return QMessageBox::Warning;
    case DialogKind::Confirmation: return QMessageBox::Question;
    case DialogKind::Custom: return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}

// The role decides where a button sits and which one Esc presses; its caption may be anything.
QMessageBox::ButtonRole roleOf(DialogResult result)
{
    switch (result) {
    case DialogResult::Ok:
    case DialogResult::All: return QMessageBox::AcceptRole;
    case DialogResult::Yes:
    case DialogResult::YesToAll: return QMessageBox::YesRole;
    case DialogResult::No:
    case DialogResult::NoToAll: return QMessageBox::NoRole;
    case DialogResult::Cancel:
    case DialogResult::Abort:
    case DialogResult::Close: return QMessageBox::RejectRole;
    case DialogResult::Retry:
    case DialogResult::Ignore:
    case DialogResult::None: return QMessageBox::ActionRole;
    }
    return QMessageBox::ActionRole;
}

// What closing the box without a button means: the first of Cancel, No, Abort, Close
// present, else nothing chosen.
DialogResult escapeResult(std::span<const DialogButton> buttons)
{
    for (DialogResult r : {DialogResult::Cancel, DialogResult::No, DialogResult::Abort, DialogResult::Close})
        for (const DialogButton& b : buttons)
            if (b.result == r)
                return r;
    return DialogResult::None;
}

// Icons and type names from the file's name alone. The stock provider opens every file it
// cannot name by its extension to look at its first bytes, and closing that descriptor takes
// from the process every record lock it holds on the file: the settings store's among them,
// when the operator browses its folder.
class NameOnlyIconProvider final : public QAbstractFileIconProvider {
public:
    QIcon icon(IconType type) const override { return QAbstractFileIconProvider::icon(type); }
    QIcon icon(const QFileInfo& info) const override
    {
        if (info.isDir())
            return QAbstractFileIconProvider::icon(Folder);
        const QMimeType mime = m_mime.mimeTypeForFile(info, QMimeDatabase::MatchExtension);
        const QIcon themed = QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName()));
        return themed.isNull() ? QAbstractFileIconProvider::icon(File) : themed;
    }
    QString type(const QFileInfo& info) const override
    {
        if (info.isDir())
            return QFileDialog::tr("Folder");
        return m_mime.mimeTypeForFile(info, QMimeDatabase::MatchExtension).comment();
    }

private:
    QMimeDatabase m_mime;
};

class QtWait final : public WaitDialog {
public:
    QtWait(TfrmWait* shared, const QString& title, const QString& text, const QString& detail)
    {
        if (shared) {
            m_window = shared;
        } else {
            m_own = std::make_unique<TfrmWait>();
            m_window = m_own.get();
        }
        m_window->ShowWait(title, text, detail);
    }
    ~QtWait() override
    {
        if (m_window)
            m_window->FinishWait();
    }
    void setProgress(int position, int) override
    {
        if (m_window)
            m_window->SetProgress(position);
    }
    bool abortRequested() override { return m_window && m_window->abortPressed(); }

private:
    std::unique_ptr<TfrmWait> m_own;
    QPointer<TfrmWait> m_window;
};

} // namespace

QtOperatorDialogs::QtOperatorDialogs(QWidget* parent) : m_parent(parent) {}

QtOperatorDialogs::~QtOperatorDialogs() = default;

void QtOperatorDialogs::setWaitWindow(TfrmWait* wait)
{
    m_wait = wait;
}

void QtOperatorDialogs::setMessageWindow(TfrmMessage* message)
{
    m_message = message;
}

QtOperatorDialogs::Box QtOperatorDialogs::buildMessageBox(DialogKind kind, const QString& title,
                                                           const QString& text,
                                                           std::span<const DialogButton> buttons,
                                                           QWidget* parent)
{
    Box out;
    out.box = std::make_unique<QMessageBox>(iconOf(kind), title, text, QMessageBox::NoButton, parent);
    // Texts come from settings, labels and controller replies: never markup.
    out.box->setTextFormat(Qt::PlainText);
    const DialogButton ok{DialogResult::Ok, {}, true};
    const std::span<const DialogButton> shown = buttons.empty() ? std::span<const DialogButton>(&ok, 1) : buttons;
    QPushButton* escape = nullptr;
    const DialogResult escapeWith = escapeResult(shown);
    for (const DialogButton& b : shown) {
        const QString caption = b.caption.isEmpty() ? standardCaption(b.result) : b.caption;
        QPushButton* button = out.box->addButton(caption, roleOf(b.result));
        out.results.emplace_back(button, b.result);
        if (b.isDefault)
            out.box->setDefaultButton(button);
        if (!escape && escapeWith != DialogResult::None && b.result == escapeWith)
            escape = button;
    }
    if (escape)
        out.box->setEscapeButton(escape);
    else if (shown.size() == 1)
        out.box->setEscapeButton(qobject_cast<QPushButton*>(out.results.front().first));
    return out;
}

DialogResult QtOperatorDialogs::message(DialogKind kind, const QString& title, const QString& text,
                                        std::span<const DialogButton> buttons)
{
    Box b = buildMessageBox(kind, title, text, buttons, m_parent);
    b.box->exec();
    const QAbstractButton* clicked = b.box->clickedButton();
    for (const auto& [button, result] : b.results)
        if (button == clicked)
            return result;
    return escapeResult(buttons);
}

void QtOperatorDialogs::notice(const QString& title, const QString& text)
{
    if (!m_message) {
        if (!m_ownMessage)
            m_ownMessage = std::make_unique<TfrmMessage>();
        m_message = m_ownMessage.get();
    }
    m_message->ShowProblem(title, text);
}

std::optional<QString> QtOperatorDialogs::input(const QString& title, const QString& prompt, const QString& initial)
{
    bool ok = false;
    const QString text = QInputDialog::getText(m_parent, title, prompt, QLineEdit::Normal, initial, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

QString QtOperatorDialogs::qtFilter(const QString& filter)
{
    if (!filter.contains(QLatin1Char('|')))
        return filter;
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts.at(i + 1);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString& description = parts.at(i);
        // A description that already lists its patterns keeps them once.
        out << (description.contains(QLatin1Char('(')) ? description
                                                       : description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return out.join(QStringLiteral(";;"));
}

std::unique_ptr<QFileDialog> QtOperatorDialogs::fileDialog(QWidget* parent, FileChoice choice, const QString& title,
                                                            const QString& folder, const QString& filter)
{
    // Stateless, shared by every dialog (the dialog does not own it).
    static NameOnlyIconProvider nameOnly;
    auto dialog = std::make_unique<QFileDialog>(parent, title, folder, qtFilter(filter));
    // Qt's own dialog: a desktop's dialog in this process would guess types by content again.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setIconProvider(&nameOnly);
    switch (choice) {
    case FileChoice::Open: dialog->setFileMode(QFileDialog::ExistingFile); break;
    case FileChoice::Save:
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        break;
    case FileChoice::SaveAskedByCaller:
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        break;
    case FileChoice::Folder:
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
        break;
    }
    return dialog;
}

std::optional<QString> QtOperatorDialogs::runFileDialog(FileChoice choice, const QString& title,
                                                        const QString& folder, const QString& filter)
{
    const auto dialog = fileDialog(m_parent, choice, title, folder, filter);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    const QString chosen = dialog->selectedFiles().constFirst();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen;
}

std::optional<QString> QtOperatorDialogs::chooseOpenFile(const QString& title, const QString& folder,
                                                         const QString& filter)
{
    return runFileDialog(FileChoice::Open, title, folder, filter);
}

std::optional<QString> QtOperatorDialogs::chooseSaveFile(const QString& title, const QString& folder,
                                                         const QString& filter)
{
    return runFileDialog(FileChoice::Save, title, folder, filter);
}

std::optional<QString> QtOperatorDialogs::chooseSaveFileAskedByCaller(const QString& title, const QString& folder,
                                                                      const QString& filter)
{
    return runFileDialog(FileChoice::SaveAskedByCaller, title, folder, filter);
}

std::optional<QString> QtOperatorDialogs::chooseFolder(const QString& title, const QString& folder)
{
    return runFileDialog(FileChoice::Folder, title, folder, QString());
}

std::unique_ptr<WaitDialog> QtOperatorDialogs::beginWait(const QString& title, const QString& text,
                                                         const QString& detail)
{
    return std::make_unique<QtWait>(m_wait, title, text, detail);
}

} // namespace lapido
