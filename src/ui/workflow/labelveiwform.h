// TLabelVeiwForm: the small always-on-top window that shows the label text in large type.
#pragma once

#include <QWidget>

class QLabel;
class QTimer;

namespace lapido {

// "Label View": one centred line with the current label text. Its position is kept in the
// store ("LabelVeiw", "XGuiPos"/"YGuiPos"): restored when shown, written when the operator
// has finished moving it.
class TLabelVeiwForm : public QWidget {
    Q_OBJECT

public:
    explicit TLabelVeiwForm(QWidget* parent = nullptr);

    void setLabelText(const QString& text);
    QString labelText() const;

    // How long the window must rest after a move before its position is written (a drag
    // moves it many times; only where it ends up is kept).
    static constexpr int kMoveSettleMs = 300;

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void storePosition();

    QLabel* m_text = nullptr;
    QTimer* m_settle = nullptr;
    bool m_restoring = false;
};

} // namespace lapido
