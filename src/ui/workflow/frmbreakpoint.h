// TfrmBreakPoint: a pause with a "Continue" button, for stepping through a sequence.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace lapido {

// "Continue" sets the window's tag to 0; a loop elsewhere watches the tag. Hold() is that
// loop: it shows the window with tag 1 and returns once the tag is 0 again (Continue, or the
// window closed), the events of the program running meanwhile.
class TfrmBreakPoint : public QDialog {
    Q_OBJECT

public:
    explicit TfrmBreakPoint(QWidget* parent = nullptr);

    int Tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    void Hold(const QString& where);
    QPushButton* continueButton() const { return m_continue; }

signals:
    // The tag went back to 0.
    void released();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* m_where = nullptr;
    QPushButton* m_continue = nullptr;
    int m_tag = 0;
};

} // namespace lapido
