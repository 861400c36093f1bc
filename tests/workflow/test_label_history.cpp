// The label's history: Ctrl+Z / Ctrl+Shift+Z walk the label's edits back and forth, and a
// label changed since it was loaded or saved is not replaced without a question.
#include "markingfixture.h"

#include "glyphs/richstring.h"
#include "workflow/templatelist.h"

#include <QTextDocument>

namespace lapido::test {
namespace {

class LabelHistoryTest : public MarkingFixture {
protected:
    // Types the text into the editor as the label on show, as the window does for each key.
    void type(const QString& text)
    {
        st().RichEditGlyphLabel().document().setPlainText(text);
        if (st().TreeViewGlyphs().IsEmpty())
            st().BitBtnAddRichEditClick();
        else
            st().GlyphPropertiesChange();
        st().CommitLabelEdit();
    }
};

TEST_F(LabelHistoryTest, UndoAndRedoWalkSixtyEditsBackAndForth)
{
    std::vector<QString> steps{st().Tree2XML()};
    for (int i = 0; i < 60; ++i) {
        type(QStringLiteral("LG%1").arg(i));
        steps.push_back(st().Tree2XML());
    }
    // The girdle key is an edit of the label as well (the label grows with it).
    st().KeyDown(Qt::Key_Home, Qt::ControlModifier);
    st().CommitLabelEdit();
    steps.push_back(st().Tree2XML());
    ASSERT_NE(steps.back(), steps[steps.size() - 2]);

    for (std::size_t i = steps.size() - 1; i > 0; --i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(st().KeyDown(Qt::Key_Z, Qt::ControlModifier, TKeyFocus::LabelEditor));
        EXPECT_EQ(st().Tree2XML(), steps[i - 1]);
    }
    EXPECT_FALSE(st().LabelUndo()) << "the empty label is the first step";
    EXPECT_TRUE(st().TreeViewGlyphs().IsEmpty());

    for (std::size_t i = 1; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(st().KeyDown(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, TKeyFocus::Jog));
        EXPECT_EQ(st().Tree2XML(), steps[i]);
    }
    EXPECT_FALSE(st().LabelRedo());

    // A new edit after an undo ends the redo branch.
    ASSERT_TRUE(st().LabelUndo());
    st().BitBtnAddSpaceClick();
    st().CommitLabelEdit();
    EXPECT_FALSE(st().CanRedoLabel());
    ASSERT_TRUE(st().LabelUndo());
    EXPECT_EQ(st().Tree2XML(), steps[steps.size() - 2]);

    // Nothing is undone during a run.
    st().SetAIMSState(TAIMState::aimsMarking);
    const QString during = st().Tree2XML();
    EXPECT_FALSE(st().LabelUndo());
    EXPECT_EQ(st().Tree2XML(), during);
}

TEST_F(LabelHistoryTest, AChangedLabelIsReplacedOnlyWhenTheOperatorSaysYes)
{
    type(QStringLiteral("OTHER"));
    st().Templates().NewTemplate(QStringLiteral("Other"), st().Tree2XML(), QString(), true);
    st().XML2Tree(QStringLiteral("<tree2xml app=\"x\"></tree2xml>"));
    type(QStringLiteral("MINE"));
    const QString mine = st().Tree2XML();
    ASSERT_TRUE(st().LabelChangedSinceSaved());

    m_dialogs.queueAnswer(DialogResult::No);
    st().ComboBoxTemplatesChange(1);
    ASSERT_EQ(m_dialogs.texts(), QStringList{"The label was changed since it was loaded or saved. Replace it?"});
    EXPECT_EQ(st().Tree2XML(), mine) << "No keeps the label";
    EXPECT_EQ(st().templateIndex(), 0) << "No keeps the list's choice";

    m_dialogs.clear();
    m_dialogs.queueAnswer(DialogResult::Yes);
    st().ComboBoxTemplatesChange(1);
    EXPECT_EQ(st().templateIndex(), 1);
    EXPECT_NE(st().Tree2XML(), mine);
    EXPECT_FALSE(st().LabelChangedSinceSaved());

    // A loaded label not changed since is replaced without a question, and the replaced
    // label comes back with Ctrl+Z.
    st().CommitLabelEdit();
    m_dialogs.clear();
    st().BindTemplateTemporary(4);
    st().KeyDown(Qt::Key_4, Qt::AltModifier);
    EXPECT_TRUE(m_dialogs.texts().isEmpty());
    ASSERT_TRUE(st().LabelUndo());
    EXPECT_EQ(st().Tree2XML(), mine);
}

} // namespace
} // namespace lapido::test
