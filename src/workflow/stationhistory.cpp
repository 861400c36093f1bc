// TStation: the label's history (undo and redo of label edits) and the question before a
// changed label is replaced.
#include "workflow/station.h"

#include "glyphs/glyph.h"
#include "platform/operatordialogs.h"

namespace lapido {

void TStation::CommitLabelEdit()
{
    // A run marks the glyphs but does not edit the label; what a run changes is not a step.
    if (AIMState == TAIMState::aimsMarking || m_labelRebuilding > 0)
        return;
    QString now = Tree2XML();
    if (now == m_labelStep)
        return;
    // Whatever changed the label, those who derive from it see a new revision.
    m_tree.Touch();
    m_undo.push_back(std::exchange(m_labelStep, std::move(now)));
    if (m_undo.size() > static_cast<size_t>(kLabelHistorySteps))
        m_undo.erase(m_undo.begin());
    m_redo.clear();
}

bool TStation::restoreLabelStep(const QString& xml)
{
    QString error;
    if (!XML2Tree(xml, &error)) {
        m_statusMessage = error;
        return false;
    }
    m_labelStep = Tree2XML();
    return true;
}

bool TStation::LabelUndo()
{
    if (AIMState == TAIMState::aimsMarking)
        return false;
    // Edits not yet recorded (typing since the last command) are a step of their own.
    CommitLabelEdit();
    if (m_undo.empty()) {
        m_statusMessage = QStringLiteral("Nothing to undo.");
        return false;
    }
    const QString step = m_undo.back();
    const QString now = m_labelStep;
    if (!restoreLabelStep(step))
        return false;
    m_undo.pop_back();
    m_redo.push_back(now);
    m_statusMessage.clear();
    return true;
}

bool TStation::LabelRedo()
{
    if (AIMState == TAIMState::aimsMarking)
        return false;
    CommitLabelEdit();
    if (m_redo.empty()) {
        m_statusMessage = QStringLiteral("Nothing to redo.");
        return false;
    }
    const QString step = m_redo.back();
    const QString now = m_labelStep;
    if (!restoreLabelStep(step))
        return false;
    m_redo.pop_back();
    m_undo.push_back(now);
    m_statusMessage.clear();
    return true;
}

bool TStation::LabelChangedSinceSaved() const
{
    if (m_tree.IsEmpty())
        return false;
    return Tree2XML() != m_labelSaved;
}

void TStation::markLabelSaved()
{
    m_labelSaved = Tree2XML();
}

bool TStation::mayReplaceLabel()
{
    if (!LabelChangedSinceSaved())
        return true;
    // No is the default: a hurried Enter keeps the operator's work.
    const DialogResult answer = operatorDialogs().confirmation(
        QStringLiteral("The label was changed since it was loaded or saved. Replace it?"),
        {DialogButton{DialogResult::Yes, {}, false}, DialogButton{DialogResult::No, {}, true}});
    return answer == DialogResult::Yes;
}

} // namespace lapido
