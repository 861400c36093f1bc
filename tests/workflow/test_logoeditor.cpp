// The logo editor's model: layers, suppression, open / import / save with their questions.
#include "workflow/logoeditor.h"

#include "platform/stationglobals.h"

#include "testsupport.h"

#include <QDir>
#include <QFile>

namespace lapido {
namespace {

struct DxfLine {
    const char* layer;
    double x1, y1, x2, y2;
};

QByteArray dxf(std::initializer_list<DxfLine> lines)
{
    QByteArray out = "0\nSECTION\n2\nENTITIES\n";
    for (const DxfLine& l : lines) {
        out += "0\nLINE\n8\n" + QByteArray(l.layer) + "\n";
        out += QStringLiteral("10\n%1\n20\n%2\n11\n%3\n21\n%4\n").arg(l.x1).arg(l.y1).arg(l.x2).arg(l.y2).toLatin1();
    }
    return out + "0\nENDSEC\n0\nEOF\n";
}

// A white paint box of fixed size that keeps the last picture.
class FakePaintBox : public PaintBox {
public:
    QSize clientSize() const override { return {400, 300}; }
    void showBitmap(const QImage& bitmap) override { last = bitmap; }
    QImage last;
};

class LogoEditorTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        setWorkingDir(scratch(QStringLiteral("work")) + QLatin1Char('/'));
        QDir().mkpath(WorkingDir() + QStringLiteral("Logos"));
        m_editor.FormShow();
    }
    void TearDown() override
    {
        resetStationGlobals();
        StationFixture::TearDown();
    }
    QString write(const QString& name, const QByteArray& content)
    {
        const QString path = scratch(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return path;
    }
    QString importFile(std::initializer_list<DxfLine> lines, const QString& name = QStringLiteral("crest.dxf"))
    {
        const QString path = write(name, dxf(lines));
        m_dialogs.queueText(path);
        EXPECT_TRUE(m_editor.BitBtnDXFClick());
        return path;
    }
    QStringList layerNames() const
    {
        QStringList out;
        for (const auto& l : m_editor.layers())
            out << l.name;
        return out;
    }

    FakePaintBox m_box;
    TLogoEditor m_editor{&m_box};
};

TEST_F(LogoEditorTest, LayersAreSortedOnceEachAndHiddenWithoutNames)
{
    importFile({{"", 0, 0, 1, 0}, {"", 1, 0, 1, 1}});
    EXPECT_FALSE(m_editor.layersVisible());
    EXPECT_EQ(m_editor.CADOnPaintBox.CADObjectList.Count(), 2);

    importFile({{"rim", 0, 0, 1, 0}, {"", 1, 0, 1, 1}, {"Body", 0, 1, 1, 1}, {"rim", 0, 0, 0, 1}});
    EXPECT_EQ(layerNames(), (QStringList{"Body", "rim"}));
    EXPECT_TRUE(m_editor.layersVisible());
    for (const auto& l : m_editor.layers())
        EXPECT_TRUE(l.checked);
    EXPECT_EQ(m_editor.proposedSaveName(), QStringLiteral("crest"));
    EXPECT_FALSE(m_editor.Dirty);
}

TEST_F(LogoEditorTest, UncheckingALayerHidesExactlyItsObjects)
{
    importFile({{"rim", 0, 0, 1, 0}, {"Body", 0, 1, 1, 1}, {"rim", 0, 0, 0, 1}, {"", 5, 5, 6, 6}});
    m_editor.CheckListBoxLayersClick(1, false); // "rim"
    QList<bool> visible;
    for (const auto& o : m_editor.CADOnPaintBox.CADObjectList)
        visible << o->Visible;
    EXPECT_EQ(visible, (QList<bool>{false, true, false, true}));
    EXPECT_TRUE(m_editor.Dirty);
}

TEST_F(LogoEditorTest, SuppressedObjectIsLeftOutOfTheSavedLogosOutline)
{
    // a 4 wide bar and a short stroke far to its right
    importFile({{"0", 0, 0, 4, 0}, {"0", 4, 0, 4, 1}, {"0", 10, 0, 10, 1}});
    double fullWidth = 0;
    m_editor.CADOnPaintBox.GetOutLine(fullWidth);

    m_editor.CADOnPaintBox.ZoomAll();
    const auto far = m_editor.CADOnPaintBox.XYTFW2S.TransFormCoord({10, 0.5});
    auto menu = m_editor.PaintBoxMouseDown(Qt::RightButton, {}, far.x(), far.y());
    ASSERT_TRUE(menu.attached);
    EXPECT_FALSE(menu.checked);
    EXPECT_EQ(menu.caption, QStringLiteral("Surpress"));
    m_editor.mnuCADObjectSurpressClick();
    EXPECT_TRUE(m_editor.Dirty);
    menu = m_editor.PaintBoxMouseDown(Qt::RightButton, {}, far.x(), far.y());
    EXPECT_TRUE(menu.checked);
    EXPECT_EQ(menu.caption, QStringLiteral("Surpressed"));

    const QString path = WorkingDir() + QStringLiteral("Logos/crest.lal");
    m_dialogs.queueText(path);
    ASSERT_TRUE(m_editor.butSaveClick());
    EXPECT_FALSE(m_editor.Dirty);

    TCADOnPaintBox saved;
    ASSERT_TRUE(saved.LoadFromFile(path));
    double width = 0;
    const TContourList outline = saved.GetOutLine(width);
    EXPECT_LT(width, fullWidth * 0.5); // 4 wide instead of 10, both scaled to height 1
    EXPECT_NEAR(width, 4.0, 1e-9);

    // a click on empty paper picks nothing: no pop-up menu
    EXPECT_FALSE(m_editor.PaintBoxMouseDown(Qt::RightButton, {}, 1, 1).attached);
}

TEST_F(LogoEditorTest, CancelledOverwriteKeepsTheFileAndDirty)
{
    importFile({{"0", 0, 0, 1, 0}});
    m_editor.CheckListBoxLayersClick(0, true);
    ASSERT_TRUE(m_editor.Dirty);
    const QString path = write(QStringLiteral("work/Logos/old.lal"), "keep me");
    m_dialogs.queueText(path);
    m_dialogs.queueAnswer(DialogResult::Cancel);
    EXPECT_FALSE(m_editor.butSaveClick());
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("Overwrite existing file?"));
    EXPECT_TRUE(m_editor.Dirty);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("keep me"));

    m_dialogs.queueText(path);
    m_dialogs.queueAnswer(DialogResult::Ok);
    EXPECT_TRUE(m_editor.butSaveClick());
    EXPECT_FALSE(m_editor.Dirty);
}

TEST_F(LogoEditorTest, DiscardQuestionGuardsOpenImportAndClose)
{
    importFile({{"0", 0, 0, 1, 0}});
    m_editor.CheckListBoxLayersClick(0, false);
    m_dialogs.clear();
    m_dialogs.queueAnswer(DialogResult::Cancel);
    EXPECT_FALSE(m_editor.butOpenClick());
    m_dialogs.queueAnswer(DialogResult::Cancel);
    EXPECT_FALSE(m_editor.FormCloseQuery());
    EXPECT_EQ(m_dialogs.texts(), (QStringList{"Discard current changes?", "Discard current changes?"}));
    EXPECT_EQ(m_editor.CADOnPaintBox.CADObjectList.Count(), 1);

    m_dialogs.queueAnswer(DialogResult::Ok);
    EXPECT_TRUE(m_editor.FormCloseQuery());
}

TEST_F(LogoEditorTest, OpenReplacesTheDrawingAndProposesItsOwnName)
{
    importFile({{"a", 0, 0, 1, 0}, {"a", 0, 0, 0, 1}});
    const QString path = scratch(QStringLiteral("two.lal"));
    ASSERT_TRUE(m_editor.CADOnPaintBox.SaveToFile(path));
    importFile({{"b", 0, 0, 1, 0}});
    m_dialogs.queueText(path);
    ASSERT_TRUE(m_editor.butOpenClick());
    EXPECT_EQ(m_editor.CADOnPaintBox.CADObjectList.Count(), 2);
    EXPECT_EQ(layerNames(), QStringList{"a"});
    EXPECT_EQ(m_editor.proposedSaveName(), path);
}

TEST_F(LogoEditorTest, WheelZoomsByOnePointZeroFive)
{
    importFile({{"0", 0, 0, 1, 0}});
    const auto before = m_editor.CADOnPaintBox.XYTFW2S.TransFormCoord({1, 0});
    const auto origin = m_editor.CADOnPaintBox.XYTFW2S.TransFormCoord({0, 0});
    m_editor.MouseWheel(120);
    const auto up = m_editor.CADOnPaintBox.XYTFW2S.TransFormCoord({1, 0});
    const auto originUp = m_editor.CADOnPaintBox.XYTFW2S.TransFormCoord({0, 0});
    EXPECT_NEAR(double(up.x() - originUp.x()) / double(before.x() - origin.x()), 1.05, 0.02);
    m_editor.MouseWheel(-120);
    m_editor.MouseWheel(-120);
    const auto down = m_editor.CADOnPaintBox.XYTFW2S.TransFormCoord({1, 0});
    const auto originDown = m_editor.CADOnPaintBox.XYTFW2S.TransFormCoord({0, 0});
    EXPECT_NEAR(double(down.x() - originDown.x()) / double(before.x() - origin.x()), 1 / 1.05, 0.02);
}

TEST_F(LogoEditorTest, LargeImportShowsProgressAndCanBeCancelled)
{
    // Three progress steps of bytes in fewer objects than a drawing may hold: long layer names.
    QByteArray big = "0\nSECTION\n2\nENTITIES\n";
    for (int i = 0; big.size() < 3 * TLogoEditor::kDxfProgressBytes; ++i)
        big += QStringLiteral("0\nLINE\n8\nOutline layer %1 of the engraving\n10\n%2\n20\n0\n11\n%2\n21\n1\n")
                   .arg(i % 7)
                   .arg(i)
                   .toLatin1();
    big += "0\nENDSEC\n0\nEOF\n";
    const QString path = write(QStringLiteral("big.dxf"), big);

    m_dialogs.abortNextWaitAfter(2);
    m_dialogs.queueText(path);
    EXPECT_FALSE(m_editor.BitBtnDXFClick());
    EXPECT_EQ(m_editor.CADOnPaintBox.CADObjectList.Count(), 0);
    EXPECT_FALSE(m_editor.layersVisible());

    m_dialogs.queueText(path);
    EXPECT_TRUE(m_editor.BitBtnDXFClick());
    EXPECT_GT(m_editor.CADOnPaintBox.CADObjectList.Count(), 30000);
    EXPECT_EQ(m_editor.layers().size(), 7u);
    int waits = 0;
    for (const auto& e : m_dialogs.transcript())
        waits += e.buttons == QStringList{QStringLiteral("Abort")} ? 1 : 0;
    EXPECT_EQ(waits, 2);
}

} // namespace
} // namespace lapido
