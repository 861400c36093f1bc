// The camera choice on the settings window's Video page: the kind of camera, its pipeline or
// GenICam name, and "Test", which shows one frame or the reason there is none.
#pragma once

#include "camera/camerachoice.h"

#include <QGroupBox>

class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lapido {

class CameraChoiceBox : public QGroupBox {
    Q_OBJECT
public:
    // Shows the stored choice; stores the one on screen when dialog is accepted (OK).
    CameraChoiceBox(QDialog* dialog, QWidget* parent);

    CameraChoice choice() const;
    // Takes one frame of the choice on screen and shows it, or why there is none.
    void test();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void load();
    void kindChanged();

    QComboBox* m_kind = nullptr;
    QLineEdit* m_parameter = nullptr;
    QPushButton* m_test = nullptr;
    QLabel* m_result = nullptr;
    // The texts of both kinds that take one, so that switching back and forth keeps them.
    QString m_pipeline, m_genicam;
    CameraKind m_shownKind = CameraKind::Vendor;
};

} // namespace lapido
