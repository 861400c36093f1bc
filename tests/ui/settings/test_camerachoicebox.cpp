// The camera choice on the settings window's Video page: what is stored, switching kinds, OK and
// Cancel, and "Test" with a real GStreamer pipeline.
#include "ui/settings/camerachoicebox.h"

#include "settings/settingskeys.h"
#include "testsupport.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace lapido {
namespace {

class CameraChoiceBoxTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_box = new CameraChoiceBox(&m_dialog, &m_dialog);
    }
    QComboBox* kind() { return m_box->findChild<QComboBox*>(QStringLiteral("ComboBoxCameraKind")); }
    QLineEdit* parameter() { return m_box->findChild<QLineEdit*>(QStringLiteral("EditCameraParameter")); }
    QLabel* result() { return m_box->findChild<QLabel*>(QStringLiteral("LabelCameraTest")); }

    QDialog m_dialog;
    CameraChoiceBox* m_box = nullptr;
};

TEST_F(CameraChoiceBoxTest, OkStoresTheChoiceAndSwitchingKindsKeepsEachText)
{
    EXPECT_EQ(kind()->currentIndex(), 0); // the vendor library, as before
    EXPECT_FALSE(parameter()->isEnabled());
    kind()->setCurrentIndex(1);
    ASSERT_TRUE(parameter()->isEnabled());
    parameter()->setText(QStringLiteral("v4l2src device=/dev/video2"));
    kind()->setCurrentIndex(2);
    EXPECT_EQ(parameter()->text(), QString());
    parameter()->setText(QStringLiteral("Fake_1,exposure=1000"));
    kind()->setCurrentIndex(1);
    EXPECT_EQ(parameter()->text(), QStringLiteral("v4l2src device=/dev/video2"));
    m_dialog.reject();
    EXPECT_EQ(storedCameraChoice(), (CameraChoice{CameraKind::Vendor, {}})) << "Cancel stores nothing";
    m_dialog.accept();
    EXPECT_EQ(storedCameraChoice(), (CameraChoice{CameraKind::GStreamer, QStringLiteral("v4l2src device=/dev/video2")}));

    // Shown again, the box reads what is stored.
    CameraChoiceBox again(&m_dialog, nullptr);
    auto* againKind = again.findChild<QComboBox*>(QStringLiteral("ComboBoxCameraKind"));
    EXPECT_EQ(againKind->currentIndex(), 1);
    EXPECT_EQ(again.findChild<QLineEdit*>(QStringLiteral("EditCameraParameter"))->text(), QStringLiteral("v4l2src device=/dev/video2"));
}

TEST_F(CameraChoiceBoxTest, TestShowsAFrameOrTheReason)
{
    kind()->setCurrentIndex(1);
    parameter()->setText(QStringLiteral("videotestsrc ! video/x-raw,width=96,height=72"));
    QTest::mouseClick(m_box->findChild<QPushButton*>(QStringLiteral("ButtonCameraTest")), Qt::LeftButton);
    ASSERT_FALSE(result()->pixmap().isNull()) << result()->text().toStdString();
    EXPECT_EQ(result()->pixmap().size(), QSize(192, 144));
    EXPECT_EQ(result()->toolTip(), QStringLiteral("96 x 72 pixels"));

    parameter()->setText(QStringLiteral("nosuchelement"));
    QTest::mouseClick(m_box->findChild<QPushButton*>(QStringLiteral("ButtonCameraTest")), Qt::LeftButton);
    EXPECT_TRUE(result()->pixmap().isNull());
    EXPECT_TRUE(result()->text().contains(QLatin1String("nosuchelement"))) << result()->text().toStdString();
    EXPECT_EQ(storedCameraChoice().kind, CameraKind::Vendor) << "a test stores nothing";
}

} // namespace
} // namespace lapido
