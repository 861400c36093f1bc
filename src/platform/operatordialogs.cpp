// Scripted operator dialogs and the process-wide dialogs hook.
#include "platform/operatordialogs.h"

#include <atomic>

namespace lapido {

QString standardCaption(DialogResult result)
{
    switch (result) {
    case DialogResult::Ok: return QStringLiteral("OK");
    case DialogResult::Cancel: return QStringLiteral("Cancel");
    case DialogResult::Yes: return QStringLiteral("Yes");
    case DialogResult::No: return QStringLiteral("No");
    case DialogResult::Abort: return QStringLiteral("Abort");
    case DialogResult::Retry: return QStringLiteral("Retry");
    case DialogResult::Ignore: return QStringLiteral("Ignore");
    case DialogResult::All: return QStringLiteral("All");
    case DialogResult::YesToAll: return QStringLiteral("Yes to All");
    case DialogResult::NoToAll: return QStringLiteral("No to All");
    case DialogResult::Close: return QStringLiteral("Close");
    case DialogResult::None: break;
    }
    return {};
}

DialogResult OperatorDialogs::confirmation(const QString& text, std::initializer_list<DialogButton> buttons)
{
    return message(DialogKind::Confirmation, QStringLiteral("Confirm"), text,
                   std::span<const DialogButton>(buttons.begin(), buttons.size()));
}

void ScriptedDialogs::record(Entry entry)
{
    m_transcript.push_back(entry);
    if (onEntry)
        onEntry(m_transcript.back());
}

DialogResult ScriptedDialogs::message(DialogKind kind, const QString& title, const QString& text,
                                      std::span<const DialogButton> buttons)
{
    std::vector<DialogButton> shown(buttons.begin(), buttons.end());
    if (shown.empty())
        shown.push_back({DialogResult::Ok, {}, true});
    Entry e;
    e.kind = kind;
    e.title = title;
    e.text = text;
    for (const auto& b : shown)
        e.buttons << (b.caption.isEmpty() ? standardCaption(b.result) : b.caption);

    // Default: the marked default button, else the first.
    const DialogButton* pressed = &shown.front();
    for (const auto& b : shown)
        if (b.isDefault) {
            pressed = &b;
            break;
        }
    DialogResult result = pressed->result;
    QString caption = e.buttons.at(static_cast<int>(pressed - shown.data()));

    if (!m_answers.empty() && !m_answers.front().isText) {
        const Answer a = m_answers.front();
        m_answers.pop_front();
        if (a.caption) {
            caption = *a.caption;
            result = DialogResult::None; // a caption no button has closes the box
            for (int i = 0; i < e.buttons.size(); ++i)
                if (e.buttons.at(i).compare(*a.caption, Qt::CaseInsensitive) == 0) {
                    result = shown[static_cast<size_t>(i)].result;
                    caption = e.buttons.at(i);
                    break;
                }
        } else if (a.result) {
            result = *a.result;
            caption = standardCaption(result);
            for (size_t i = 0; i < shown.size(); ++i)
                if (shown[i].result == result)
                    caption = e.buttons.at(static_cast<int>(i));
        }
    }
    e.answer = caption;
    record(e);
    return result;
}

void ScriptedDialogs::notice(const QString& title, const QString& text)
{
    Entry e;
    e.kind = DialogKind::Information;
    e.modal = false;
    e.title = title;
    e.text = text;
    e.buttons << QStringLiteral("Close");
    record(e);
}

std::optional<QString> ScriptedDialogs::input(const QString& title, const QString& prompt, const QString& initial)
{
    std::optional<QString> value;
    if (!m_answers.empty() && m_answers.front().isText) {
        value = m_answers.front().text;
        m_answers.pop_front();
    }
    Entry e;
    e.kind = DialogKind::Custom;
    e.title = title;
    e.text = prompt + QStringLiteral(" [") + initial + QStringLiteral("]");
    e.buttons << QStringLiteral("OK") << QStringLiteral("Cancel");
    e.answer = value ? *value : QStringLiteral("Cancel");
    record(e);
    return value;
}

std::optional<QString> ScriptedDialogs::chooseOpenFile(const QString& title, const QString& folder, const QString&)
{
    return input(title, QStringLiteral("open file in ") + folder, {});
}

std::optional<QString> ScriptedDialogs::chooseSaveFile(const QString& title, const QString& folder, const QString&)
{
    return input(title, QStringLiteral("save file in ") + folder, {});
}

std::optional<QString> ScriptedDialogs::chooseFolder(const QString& title, const QString& folder)
{
    return input(title, QStringLiteral("folder from ") + folder, {});
}

namespace {
class ScriptedWait final : public WaitDialog {
public:
    explicit ScriptedWait(int abortAfter) : m_abortAfter(abortAfter) {}
    void setProgress(int, int) override { ++m_updates; }
    bool abortRequested() override { return m_abortAfter >= 0 && m_updates >= m_abortAfter; }

private:
    int m_abortAfter;
    int m_updates = 0;
};
} // namespace

std::unique_ptr<WaitDialog> ScriptedDialogs::beginWait(const QString& title, const QString& text, const QString& detail)
{
    int abortAfter = -1;
    if (!m_waitAborts.empty()) {
        abortAfter = m_waitAborts.front();
        m_waitAborts.pop_front();
    }
    Entry e;
    e.kind = DialogKind::Custom;
    e.title = title;
    e.text = text + QStringLiteral("\n") + detail;
    e.buttons << QStringLiteral("Abort");
    e.answer = abortAfter >= 0 ? QStringLiteral("Abort") : QStringLiteral("OK");
    record(e);
    return std::make_unique<ScriptedWait>(abortAfter);
}

void ScriptedDialogs::queueAnswer(DialogResult result)
{
    Answer a;
    a.result = result;
    m_answers.push_back(a);
}

void ScriptedDialogs::queueCaption(const QString& caption)
{
    Answer a;
    a.caption = caption;
    m_answers.push_back(a);
}

void ScriptedDialogs::queueText(std::optional<QString> text)
{
    Answer a;
    a.text = std::move(text);
    a.isText = true;
    m_answers.push_back(a);
}

void ScriptedDialogs::abortNextWaitAfter(int progressUpdates)
{
    m_waitAborts.push_back(progressUpdates);
}

QStringList ScriptedDialogs::texts() const
{
    QStringList out;
    for (const auto& e : m_transcript)
        out << e.text;
    return out;
}

void ScriptedDialogs::clear()
{
    m_answers.clear();
    m_waitAborts.clear();
    m_transcript.clear();
}

namespace {
std::atomic<OperatorDialogs*> g_dialogs{nullptr};
}

OperatorDialogs& operatorDialogs()
{
    static ScriptedDialogs silent;
    OperatorDialogs* d = g_dialogs.load();
    return d ? *d : silent;
}

OperatorDialogs* setOperatorDialogs(OperatorDialogs* dialogs)
{
    return g_dialogs.exchange(dialogs);
}

} // namespace lapido
