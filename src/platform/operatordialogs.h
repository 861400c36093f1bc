// The operator's side of every question, message and wait the station puts up.
#pragma once

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace lapido {

enum class DialogKind { Error, Information, Warning, Confirmation, Custom };

// What a button returns; a relabelled button keeps its result and only changes its caption.
enum class DialogResult { None, Ok, Cancel, Yes, No, Abort, Retry, Ignore, All, YesToAll, NoToAll, Close };

struct DialogButton {
    DialogResult result = DialogResult::Ok;
    QString caption; // empty: the standard caption of the result
    bool isDefault = false;
};

// A modal wait window with a progress bar and an Abort button.
class WaitDialog {
public:
    virtual ~WaitDialog() = default;
    virtual void setProgress(int position, int maximum) = 0;
    // True once the operator pressed Abort. Polled between steps of the wait.
    virtual bool abortRequested() = 0;
};

// Every message box, input box, file choice and modal wait goes through this interface so
// that the station model runs unchanged in the window, headless and under test.
class OperatorDialogs {
public:
    virtual ~OperatorDialogs() = default;

    // Modal box. An empty button list means a single OK.
    virtual DialogResult message(DialogKind kind, const QString& title, const QString& text,
                                 std::span<const DialogButton> buttons) = 0;
    // Non-modal notice that does not stop the caller ("Marking problem").
    virtual void notice(const QString& title, const QString& text) = 0;
    // Input box; nullopt when cancelled.
    virtual std::optional<QString> input(const QString& title, const QString& prompt,
                                         const QString& initial) = 0;
    // File and folder choices; nullopt when cancelled.
    virtual std::optional<QString> chooseOpenFile(const QString& title, const QString& folder,
                                                  const QString& filter) = 0;
    virtual std::optional<QString> chooseSaveFile(const QString& title, const QString& folder,
                                                  const QString& filter) = 0;
    virtual std::optional<QString> chooseFolder(const QString& title, const QString& folder) = 0;
    // A save choice whose caller asks its own question before writing over a file, so that the
    // dialog does not ask first.
    virtual std::optional<QString> chooseSaveFileAskedByCaller(const QString& title, const QString& folder,
                                                               const QString& filter)
    {
        return chooseSaveFile(title, folder, filter);
    }
    // Opens a modal wait window; it closes when the returned object is destroyed.
    virtual std::unique_ptr<WaitDialog> beginWait(const QString& title, const QString& text,
                                                  const QString& detail) = 0;

    // Convenience forms of message().
    void error(const QString& text) { message(DialogKind::Error, QStringLiteral("Error"), text, {}); }
    void information(const QString& text)
    {
        message(DialogKind::Information, QStringLiteral("Information"), text, {});
    }
    DialogResult confirmation(const QString& text, std::initializer_list<DialogButton> buttons);
};

// Records every question with the answer it gave; answers are queued by the caller (a test or
// the headless marking's --answer list). With no answer queued, a question gets its default
// button (the first one when none is marked), a wait runs to its end, and an input box or a
// file choice is cancelled.
class ScriptedDialogs final : public OperatorDialogs {
public:
    struct Entry {
        DialogKind kind = DialogKind::Information;
        bool modal = true;
        QString title;
        QString text;
        QStringList buttons; // captions as shown
        QString answer;      // caption of the button pressed, the text entered, or a wait outcome
    };

    DialogResult message(DialogKind kind, const QString& title, const QString& text,
                         std::span<const DialogButton> buttons) override;
    void notice(const QString& title, const QString& text) override;
    std::optional<QString> input(const QString& title, const QString& prompt,
                                 const QString& initial) override;
    std::optional<QString> chooseOpenFile(const QString& title, const QString& folder,
                                          const QString& filter) override;
    std::optional<QString> chooseSaveFile(const QString& title, const QString& folder,
                                          const QString& filter) override;
    std::optional<QString> chooseFolder(const QString& title, const QString& folder) override;
    std::unique_ptr<WaitDialog> beginWait(const QString& title, const QString& text,
                                          const QString& detail) override;

    // Queue the next answers: for a message box the result (or a caption, matched first),
    // for an input box or file choice the text (nullopt cancels).
    void queueAnswer(DialogResult result);
    void queueCaption(const QString& caption);
    void queueText(std::optional<QString> text);
    // The next wait window reports Abort after this many progress updates.
    void abortNextWaitAfter(int progressUpdates);

    const std::vector<Entry>& transcript() const { return m_transcript; }
    // Texts of every box shown, in order (convenient for assertions).
    QStringList texts() const;
    void clear();
    // Called with each entry as it is recorded (the headless marking streams them to a file).
    std::function<void(const Entry&)> onEntry;

private:
    struct Answer {
        std::optional<DialogResult> result;
        std::optional<QString> caption;
        std::optional<QString> text;
        bool isText = false;
    };
    void record(Entry entry);

    std::deque<Answer> m_answers;
    std::deque<int> m_waitAborts;
    std::vector<Entry> m_transcript;
};

// Standard caption of a result ("OK", "Cancel", "Yes", ...).
QString standardCaption(DialogResult result);

// The dialogs of the running program (a silent scripted one until the window installs its own).
OperatorDialogs& operatorDialogs();
OperatorDialogs* setOperatorDialogs(OperatorDialogs* dialogs);

} // namespace lapido
