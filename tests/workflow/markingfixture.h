// A station on the in-process simulated machine, homed and ready to mark, for the marking and
// positioning tests.
#pragma once

#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "machine/applysettings.h"
#include "machine/laser.h"
#include "platform/stationglobals.h"
#include "records/loggingproxy.h"
#include "records/pulsecounters.h"
#include "records/stlogfile.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "workflow/station.h"

#include "testsupport.h"

#include <QFile>

#include <memory>

namespace lapido::test {

// A glyph of known extent: a box of the given width across the girdle band (glyph units),
// marking nothing. It lets a test choose the label's size exactly.
class BoxGlyph : public TGlyph {
public:
    BoxGlyph(TLabelTree* tree, TTreeNode* node, double width) : TGlyph(tree, node) { UnitWidth = width; }
    void ExtendMarkingRect(const TXYTransform& XYTF, TCoord& Pmin, TCoord& PMax) override
    {
        const TCoord P = MarkPosition();
        for (const TCoord& c : {Coord(P.X, -0.5), Coord(P.X + Width(), 0.5)}) {
            const TCoord t = XYTF.TransFormCoord(c);
            Pmin = Coord(std::min(Pmin.X, t.X), std::min(Pmin.Y, t.Y));
            PMax = Coord(std::max(PMax.X, t.X), std::max(PMax.Y, t.Y));
        }
        MarkPosition().X += Width();
    }
};

// 1000 counts per mm, no enable delay, Z axis in use; the machine is homed at the start-up
// position (15, 12.5, 12.5), which is the marking reference; girdle 0.5 mm, slant 0.
class MarkingFixture : public StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        resetStationGlobals();
        setWorkingDir(scratch() + QStringLiteral("/"));
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        keys::write(keys::WorkingDir, scratch() + QStringLiteral("/"));
        store().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("0"));
        TSettings s;
        s.XY_CountsPerMM = 1000;
        s.Z_CountsPerMM = 1000;
        s.MarkingSpeed = 0.5;
        s.PhotoSpeed = 0.1;
        s.PulseDistance = 5;
        s.UseZaxis = true;
        Settings() = s;
        PulseCountTracker::ResetInstance();
        m_laser = std::make_unique<TLaser>();
        ASSERT_EQ(ApplyMotionSettings(Settings(), *m_laser), std::nullopt);
        m_laser->Initialize();
        ASSERT_TRUE(m_laser->Initialized);
        setLaser(m_laser.get());
        setGirdleHeight(0.5);
        makeStation(scratch());
    }
    // A fresh station at the marking reference, its trace file in traceFolder, its marking
    // records in dataBase (none: nothing recorded).
    void makeStation(const QString& traceFolder, TDataModule1* dataBase = nullptr)
    {
        m_station.reset();
        m_logger = std::make_unique<FileLogger>(traceFolder);
        TStationServices services;
        services.logger = m_logger.get();
        services.dataBase = dataBase;
        services.lightTemplate = [this](const QString& name) { m_lights << name; };
        m_station = std::make_unique<TStation>(std::move(services));
        TStation& s0 = st();
        s0.MarkingReference_X = 15;
        s0.MarkingReference_Y = 12.5;
        s0.MarkingReference_Z = 12.5;
        s0.AxisPosition_X = 15;
        s0.AxisPosition_Y = 12.5;
        s0.AxisPosition_Z = 12.5;
        s0.SetAIMSState(TAIMState::aimsAligning);
    }
    void TearDown() override
    {
        m_station.reset();
        setLaser(nullptr);
        m_laser.reset();
        m_logger.reset();
        m_sim.reset();
        PulseCountTracker::ResetInstance();
        TLoggingProxy::ResetInstance(); // F10 may have created it on this test's store
        Settings() = TSettings{};
        resetStationGlobals();
        StationFixture::TearDown();
    }

    TStation& st() { return *m_station; }
    TLaser& laser() { return *m_laser; }
    DmcSimulator& sim() { return **m_sim; }

    // A formatted label of one stroke-font run; its caption is "Label "text"".
    TTreeNode* addLabel(const QString& text)
    {
        TLabelTree& tree = st().TreeViewGlyphs();
        TTreeNode* node = tree.Add(QStringLiteral("Label"));
        auto& rich = TGlyph::CreateFor<TGlyphRichString>(&tree, node, nullptr, 0.8, 0.0, 0.1);
        rich.RichString->Add(text, QStringLiteral("ROMANS"), TFontStyles());
        rich.UpDate(nullptr, 0.8, 0.0, 0.1);
        return node;
    }
    TTreeNode* addBox(double width, const QString& caption = QStringLiteral("Logo \"box\""))
    {
        TLabelTree& tree = st().TreeViewGlyphs();
        TTreeNode* node = tree.Add(caption);
        TGlyph::CreateFor<BoxGlyph>(&tree, node, width);
        return node;
    }
    void inspect() { st().SpeedButtonAIMClick(TSpeedButton::Inspect); }
    void engrave() { st().SpeedButtonAIMClick(TSpeedButton::Mark); }

    // The trace file's lines after its header.
    QStringList trace() const
    {
        QFile f(m_logger->filePath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<TLaser> m_laser;
    std::unique_ptr<FileLogger> m_logger;
    std::unique_ptr<TStation> m_station;
    QStringList m_lights; // ring-light templates asked for, in order
};

} // namespace lapido::test
