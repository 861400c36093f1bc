// TfrmWait: the modal wait window of the machine's timed waits, with its bar and Abort button.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace lapido {

// "Waiting....": "Please wait!", "Waiting for process to finish", a bar 0..100 and "Abort".
// The caller's wait loop keeps running (it pumps the event queue), so the window is shown
// application-modal rather than run in a nested loop of its own.
class TfrmWait : public QDialog {
    Q_OBJECT

public:
    explicit TfrmWait(QWidget* parent = nullptr);

    // Opens the window for a new wait: bar at 0, Abort not pressed. detail names what is
    // waited for (a delay's name); empty hides its line.
    void ShowWait(const QString& title, const QString& text, const QString& detail);
    // The bar shows position steps of 100 ms, as the elapsed milliseconds / 100, held to the
    // bar's 0..100.
    void SetProgress(int position);
    // Closes with OK (the end of the wait reached) unless Abort closed it first.
    void FinishWait();

    bool abortPressed() const { return m_abortPressed; }
    int barPosition() const;
    QPushButton* abortButton() const { return m_abort; }

    // Esc, the window manager's close and Abort all abort the wait: the operator who wants
    // the window gone wants what it waits for stopped, not left running unseen.
    void reject() override;

private:
    QLabel* m_text = nullptr;
    QLabel* m_detail = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_abort = nullptr;
    bool m_abortPressed = false;
};

} // namespace lapido
