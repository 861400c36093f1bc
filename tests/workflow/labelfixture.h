// A station without a machine, its working folder in a scratch directory, for the label,
// XML, template and scanned-code tests.
#pragma once

#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "machine/laser.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "workflow/station.h"
#include "workflow/templatelist.h"

#include "testsupport.h"

#include <QTextDocument>

#include <memory>

namespace lapido::test {

class LabelFixture : public StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        Settings() = TSettings{};
        setLaser(nullptr);
        keys::write(keys::WorkingDir, workDir());
        setWorkingDir(workDir());
        setGirdleHeight(0.15);
        makeStation();
    }
    void TearDown() override
    {
        m_station.reset();
        Settings() = TSettings{};
        resetStationGlobals();
        StationFixture::TearDown();
    }
    void makeStation(TStationServices services = {})
    {
        m_station.reset();
        m_station = std::make_unique<TStation>(std::move(services));
    }

    QString workDir() const { return scratch() + QStringLiteral("/"); }
    TStation& st() { return *m_station; }
    TLabelTree& tree() { return st().TreeViewGlyphs(); }

    // The editor's text as one run of the stroke font (no system font needed).
    void setEditorText(const QString& text)
    {
        TRichString rich;
        rich.Add(text, QStringLiteral("ROMANS"), TFontStyles());
        rich.SetToRichEdit(st().RichEditGlyphLabel());
    }
    QString editorText() { return st().RichEditGlyphLabel().document().toPlainText(); }

    // A label made through the Add button from the editor's text.
    TTreeNode* addLabel(const QString& text)
    {
        setEditorText(text);
        st().BitBtnAddRichEditClick();
        return tree().Selected();
    }

    QStringList rootCaptions() const
    {
        QStringList out;
        TLabelTree& t = m_station->TreeViewGlyphs();
        for (int i = 0; i < t.RootCount(); ++i)
            out << t.Root(i)->Text();
        return out;
    }

    std::unique_ptr<TStation> m_station;
};

} // namespace lapido::test
