// The logo editor window: every opening empty, the layer group, the paint box's pop-up menu,
// the wheel and the close question.
#include "ui/workflow/frmveduvazu.h"

#include "platform/stationglobals.h"

#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>

namespace lapido {
namespace {

class FrmVeduvAZUTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        setWorkingDir(scratch(QStringLiteral("work")) + QLatin1Char('/'));
        m_form = std::make_unique<TfrmVeduvAZU>();
        m_form->show();
    }
    void TearDown() override
    {
        m_form->PopupMenuCAD->hide();
        m_form->editor().Dirty = false;
        m_form.reset();
        resetStationGlobals();
        StationFixture::TearDown();
    }
    // Lines from (i, 0) to (i, 1) for i = 0, 3, 6, ... on the given layers.
    void import(const QStringList& layers)
    {
        QByteArray out = "0\nSECTION\n2\nENTITIES\n";
        for (int i = 0; i < layers.size(); ++i)
            out += QStringLiteral("0\nLINE\n8\n%1\n10\n%2\n20\n0\n11\n%2\n21\n1\n").arg(layers[i]).arg(3 * i).toLatin1();
        out += "0\nENDSEC\n0\nEOF\n";
        const QString path = scratch(QStringLiteral("logo.dxf"));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(out);
        f.close();
        m_dialogs.queueText(path);
        m_form->BitBtnDXF->click();
    }
    QPoint screenOf(double x, double y) { return m_form->CADOnPaintBox().XYTFW2S.TransFormCoord({x, y}); }

    std::unique_ptr<TfrmVeduvAZU> m_form;
};

TEST_F(FrmVeduvAZUTest, EveryOpeningStartsEmpty)
{
    EXPECT_EQ(m_form->windowTitle(), QStringLiteral("Logo Editor"));
    import({"rim", "rim"});
    EXPECT_EQ(m_form->CADOnPaintBox().CADObjectList.Count(), 2);
    m_form->CheckListBoxLayers->item(0)->setCheckState(Qt::Unchecked);
    ASSERT_TRUE(m_form->Dirty());

    m_dialogs.queueAnswer(DialogResult::Ok); // discard
    m_form->BitBtnClose->click();
    EXPECT_FALSE(m_form->isVisible());

    m_form->show();
    EXPECT_EQ(m_form->CADOnPaintBox().CADObjectList.Count(), 0);
    EXPECT_TRUE(m_form->GroupBoxLayers->isHidden());
    EXPECT_FALSE(m_form->Dirty());
}

TEST_F(FrmVeduvAZUTest, LayerGroupOnlyWithNamedLayersAndItsChecksHideObjects)
{
    import({"", ""});
    EXPECT_TRUE(m_form->GroupBoxLayers->isHidden());

    import({"rim", "Body", "rim"});
    ASSERT_FALSE(m_form->GroupBoxLayers->isHidden());
    ASSERT_EQ(m_form->CheckListBoxLayers->count(), 2);
    EXPECT_EQ(m_form->CheckListBoxLayers->item(0)->text(), QStringLiteral("Body"));
    EXPECT_EQ(m_form->CheckListBoxLayers->item(1)->text(), QStringLiteral("rim"));
    EXPECT_FALSE(m_form->Dirty());

    m_form->CheckListBoxLayers->item(1)->setCheckState(Qt::Unchecked);
    const auto& objects = m_form->CADOnPaintBox().CADObjectList;
    EXPECT_FALSE(objects.GetCADObject(0).Visible);
    EXPECT_TRUE(objects.GetCADObject(1).Visible);
    EXPECT_FALSE(objects.GetCADObject(2).Visible);
    EXPECT_TRUE(m_form->Dirty());
}

TEST_F(FrmVeduvAZUTest, RightClickOnAnObjectOffersItsSuppression)
{
    import({"0", "0"});
    const QPoint onSecond = screenOf(3, 0.5);
    QTest::mouseClick(m_form->PaintBox, Qt::RightButton, {}, onSecond);
    EXPECT_TRUE(m_form->PopupMenuCAD->isVisible());
    EXPECT_EQ(m_form->mnuCADObjectSurpress->text(), QStringLiteral("Surpress"));
    EXPECT_FALSE(m_form->mnuCADObjectSurpress->isChecked());
    m_form->mnuCADObjectSurpress->trigger();
    m_form->PopupMenuCAD->hide();
    EXPECT_TRUE(m_form->CADOnPaintBox().CADObjectList.GetCADObject(1).Surpressed);
    EXPECT_FALSE(m_form->CADOnPaintBox().CADObjectList.GetCADObject(0).Surpressed);
    EXPECT_TRUE(m_form->Dirty());

    QTest::mouseClick(m_form->PaintBox, Qt::RightButton, {}, onSecond);
    EXPECT_EQ(m_form->mnuCADObjectSurpress->text(), QStringLiteral("Surpressed"));
    EXPECT_TRUE(m_form->mnuCADObjectSurpress->isChecked());
    m_form->PopupMenuCAD->hide();

    // empty paper: no menu
    QTest::mouseClick(m_form->PaintBox, Qt::RightButton, {}, QPoint(2, 2));
    EXPECT_FALSE(m_form->PopupMenuCAD->isVisible());
}

TEST_F(FrmVeduvAZUTest, WheelZoomsAroundTheView)
{
    import({"0", "0"});
    const int before = screenOf(3, 0).x() - screenOf(0, 0).x();
    const QPointF at(m_form->PaintBox->width() / 2.0, m_form->PaintBox->height() / 2.0);
    QWheelEvent up(at, m_form->PaintBox->mapToGlobal(at), {}, {0, 120}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_form->PaintBox, &up);
    const int after = screenOf(3, 0).x() - screenOf(0, 0).x();
    EXPECT_NEAR(double(after) / before, 1.05, 0.01);
}

TEST_F(FrmVeduvAZUTest, CancelledDiscardKeepsTheWindowOpen)
{
    import({"0"});
    m_form->CheckListBoxLayers->item(0)->setCheckState(Qt::Unchecked);
    m_dialogs.queueAnswer(DialogResult::Cancel);
    m_form->close();
    EXPECT_TRUE(m_form->isVisible());
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("Discard current changes?"));
    EXPECT_EQ(m_dialogs.texts().count(QStringLiteral("Discard current changes?")), 1);
}

} // namespace
} // namespace lapido
