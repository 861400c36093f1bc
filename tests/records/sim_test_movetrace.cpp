// A marking on the controller simulator with the trace sampler reading through the machine.
#include "records/stlogfile.h"

#include "machine/applysettings.h"
#include "machine/laser.h"
#include "platform/numfmt.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "testsupport.h"

#include <QFile>

#include <memory>

namespace lapido {
namespace {

class MoveTraceSimTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_previousLocale = userLocale();
        setUserLocale(QLocale::c());
        m_useRealClock = std::make_unique<ScopedClock>(m_realClock);
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_realClock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        store().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("0"));
        Settings() = TSettings{};
        Settings().UseZaxis = false;
        TSettings s;
        s.XY_CountsPerMM = 1000;
        s.Z_CountsPerMM = 1000;
        s.MarkingSpeed = 0.5;
        s.PulseDistance = 5;
        m_laser = std::make_unique<TLaser>();
        ASSERT_EQ(ApplyMotionSettings(s, *m_laser), std::nullopt);
        setLaser(m_laser.get());
    }
    void TearDown() override
    {
        setLaser(nullptr);
        m_laser.reset();
        m_sim.reset();
        m_useRealClock.reset();
        Settings() = TSettings{};
        setUserLocale(m_previousLocale);
        StationFixture::TearDown();
    }

    // One 0.4 mm line marked with the laser gated on the move; the sampler runs throughout.
    void markLine(FileLogger& trace, bool fire)
    {
        TLaser& l = *m_laser;
        l.ServoHere();
        l.MoveTo(5, 5);
        ASSERT_TRUE(l.WaitOnMotionComplete());
        trace.StartXYLogging();
        if (fire) {
            l.SystemOn();
            ASSERT_TRUE(l.EnableOn());
        }
        l.StartLIXYMode();
        for (int i = 1; i <= 8; ++i)
            l.AddLIXYVertex(5 + 0.05 * i, 5, 0.5);
        if (fire)
            l.FinishLIXYMode();
        else
            l.StopLIXYMode();
        l.EnableOff();
        trace.AppendLogWD(QStringLiteral("Im:"));
        trace.AppendLogWD(QStringLiteral("Label 1"));
        ASSERT_TRUE(trace.WriteEngravingMoveTraceLog());
        trace.AppendLog(QStringLiteral("ME"));
    }
    QStringList traceLinesAfter(const QString& path, const QString& marker)
    {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromLocal8Bit(f.readAll()).split(QStringLiteral("\r\n"));
        return lines.mid(lines.lastIndexOf(marker) + 1);
    }

    // Time runs for real here (ten times faster), so that the sampler and the marking share
    // it as on the station; virtual time would let the marking finish before a sample.
    RealClock m_realClock{10.0};
    std::unique_ptr<ScopedClock> m_useRealClock;
    QLocale m_previousLocale;
    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<TLaser> m_laser;
};

TEST_F(MoveTraceSimTest, FiringPointsGoBetweenTheNodeEntriesAndEnd)
{
    FileLogger trace(scratch());
    markLine(trace, true);
    ASSERT_FALSE((**m_sim).marks().empty()) << "the simulated laser fired";

    const QStringList after = traceLinesAfter(trace.filePath(), QStringLiteral("Label 1"));
    const qsizetype end = after.indexOf(QStringLiteral(""));
    ASSERT_GT(end, 0) << "at least one sampled point before the empty line";
    ASSERT_LT(end + 1, after.size());
    EXPECT_TRUE(after[end + 1].endsWith(QStringLiteral("]:ME"))) << after[end + 1].toStdString();
    QString previous;
    for (qsizetype i = 0; i < end; ++i) {
        const QStringList xy = after[i].split(QChar(':'));
        ASSERT_EQ(xy.size(), 2) << after[i].toStdString();
        const double x = xy[0].toDouble(), y = xy[1].toDouble();
        // Only points of the marked line, each differing from the one before.
        EXPECT_GE(x, 5.0 - 1e-9);
        EXPECT_LE(x, 5.4 + 1e-9);
        EXPECT_DOUBLE_EQ(y, 5.0);
        EXPECT_NE(after[i], previous);
        previous = after[i];
    }
}

TEST_F(MoveTraceSimTest, MoveWithoutFiringLeavesAnEmptyTrace)
{
    FileLogger trace(scratch());
    markLine(trace, false);
    const QStringList after = traceLinesAfter(trace.filePath(), QStringLiteral("Label 1"));
    ASSERT_GE(after.size(), 2);
    EXPECT_EQ(after[0], QString());
    EXPECT_TRUE(after[1].endsWith(QStringLiteral("]:ME")));
}

} // namespace
} // namespace lapido
