// TfrmMessage: the "Marking problem" window the machine shows on marking faults.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace lapido {

// Non-modal: the fault is shown while the station goes on (the machine is already in its
// safe state); "Close" closes it. A second problem replaces the text of the first.
class TfrmMessage : public QDialog {
    Q_OBJECT

public:
    explicit TfrmMessage(QWidget* parent = nullptr);

    void ShowProblem(const QString& title, const QString& text);
    QString problemText() const;
    QPushButton* closeButton() const { return m_close; }

private:
    QLabel* m_text = nullptr;
    QPushButton* m_close = nullptr;
};

} // namespace lapido
