// TLaserSource: plug-in discovery, selection, emission calls, shut-down, and faulty plug-ins.
#include "machine/applysettings.h"
#include "machine/lasersource.h"
#include "settings/settingsrecord.h"

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

namespace lapido {
namespace {

const QString kSimModel = QStringLiteral("DE60 Simulated Source");
const QString kGatedModel = QStringLiteral("DE60 Simulated Gated Source");

// Each test gets a plug-in folder of its own with the simulated source and its faulty
// variants under "DE60_" names, and a call log the plug-ins append to.
class LaserSourceTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_folder = scratch(QStringLiteral("plugins"));
        ASSERT_TRUE(QDir().mkpath(m_folder));
        const QString bin = TLaserSource::programPluginFolder();
        for (const auto& [from, to] : std::initializer_list<std::pair<const char*, const char*>>{
                 {"DE60_Sim.so", "DE60_Sim.so"},
                 {"lasertest_gated.so", "DE60_Gated.so"},
                 {"lasertest_nomodel.so", "DE60_NoModel.so"},
                 {"lasertest_garbage.so", "DE60_Garbage.so"}})
            ASSERT_TRUE(QFile::copy(bin + QLatin1Char('/') + QLatin1String(from), m_folder + QLatin1Char('/') + QLatin1String(to)))
                << from << " missing in " << bin.toStdString();
        QFile broken(m_folder + QStringLiteral("/DE60_Broken.so"));
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
        broken.write("not a shared library");
        broken.close();
        m_log = scratch(QStringLiteral("calls.log"));
        qputenv("DE60_SIM_LOG", m_log.toLocal8Bit());
        m_settings = TSettings{};
    }
    void TearDown() override
    {
        qunsetenv("DE60_SIM_LOG");
        StationFixture::TearDown();
    }

    QStringList calls() const
    {
        QFile f(m_log);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QString m_folder;
    QString m_log;
    TSettings m_settings;
};

TEST_F(LaserSourceTest, DiscoveryListsBuiltInsThenPluginsWithUsableNames)
{
    TLaserSource source;
    source.LoadLaserSourcePackage({m_folder});
    // Broken (not a library) and NoModel (no GetLaserModel) are skipped; Garbage is listed
    // with its text cut to 255 characters and its control characters dropped.
    const QStringList expected{QStringLiteral("Pulse Triggered laser - No software control"),
                               QStringLiteral("Gated Output laser - No software control"),
                               QString(229, QLatin1Char('G')), kGatedModel, kSimModel};
    EXPECT_EQ(source.sourceNames(), expected);
    EXPECT_TRUE(source.LaserPackageNames.at(0).isEmpty());
    EXPECT_TRUE(source.LaserPackageNames.at(4).endsWith(QStringLiteral("/DE60_Sim.so")));
    EXPECT_EQ(source.selectedIndex(), 0);
    EXPECT_FALSE(source.isLoaded()) << "discovery loads each plug-in only briefly";
}

TEST_F(LaserSourceTest, CurrentFolderComesBeforeTheProgramFolder)
{
    QDir(m_folder).remove(QStringLiteral("DE60_Sim.so"));
    TLaserSource source;
    source.LoadLaserSourcePackage({m_folder, TLaserSource::programPluginFolder()});
    const int gated = source.sourceNames().indexOf(kGatedModel);
    const int sim = source.sourceNames().indexOf(kSimModel);
    ASSERT_GE(gated, 2);
    EXPECT_GT(sim, gated);
}

TEST_F(LaserSourceTest, SelectionLoadsOpensAndAdaptsTheView)
{
    TLaserSource source;
    source.LoadLaserSourcePackage({m_folder});
    m_settings.MaxReprate = 1000;
    ASSERT_TRUE(source.ComboBoxSourceSelect(source.indexOf(kSimModel), m_settings));
    EXPECT_TRUE(source.isLoaded());
    EXPECT_EQ(m_settings.LaserName, kSimModel);
    EXPECT_TRUE(source.DoesPulseTrain());
    EXPECT_EQ(m_settings.MaxReprate, 5000) << "taken over from GetMaxPulseRate";
    const LaserSourceView& v = source.view();
    EXPECT_EQ(v.caption, kSimModel);
    EXPECT_TRUE(v.showButtonEnabled);
    EXPECT_FALSE(v.maxPulseFrequencyVisible);
    EXPECT_TRUE(v.pulseTrainVisible && v.pulseCounterVisible);
    EXPECT_FALSE(v.timedPulseVisible);
    EXPECT_TRUE(v.currentReadBackVisible && v.currentCommandVisible && v.reportVisible && v.groupVisible);

    source.EmissionOn();
    EXPECT_TRUE(source.report()->contains(QStringLiteral("Emission: on")));
    source.EmissionOff();
    EXPECT_TRUE(source.report()->contains(QStringLiteral("Emission: off")));

    // The same entry again: nothing is reloaded.
    ASSERT_TRUE(source.ComboBoxSourceSelect(source.indexOf(kSimModel), m_settings));
    EXPECT_EQ(calls().count(QStringLiteral("OpenLaser")), 1);
    EXPECT_FALSE(source.ComboBoxSourceSelect(99, m_settings));
}

struct BuiltInCase {
    const char* name;
    int index;
    bool pulseTrain;
};

class LaserSourceBuiltInTest : public LaserSourceTest, public ::testing::WithParamInterface<BuiltInCase> {};

TEST_P(LaserSourceBuiltInTest, BuiltInEntryUnloadsThePluginAndSetsTheKindOfSource)
{
    const BuiltInCase& c = GetParam();
    TLaserSource source;
    source.LoadLaserSourcePackage({m_folder});
    ASSERT_TRUE(source.ComboBoxSourceSelect(source.indexOf(kSimModel), m_settings));
    ASSERT_TRUE(source.ComboBoxSourceSelect(c.index, m_settings));
    EXPECT_FALSE(source.isLoaded());
    EXPECT_TRUE(calls().contains(QStringLiteral("CloseLaser")));
    EXPECT_EQ(source.DoesPulseTrain(), c.pulseTrain);
    const LaserSourceView& v = source.view();
    EXPECT_FALSE(v.showButtonEnabled);
    EXPECT_EQ(v.maxPulseFrequencyVisible, c.pulseTrain);
    EXPECT_EQ(v.pulseTrainVisible, c.pulseTrain);
    EXPECT_EQ(v.timedPulseVisible, !c.pulseTrain);
    EXPECT_FALSE(v.currentVisible || v.powerVisible || v.frequencyVisible || v.reportVisible);
    EXPECT_EQ(v.groupVisible, c.pulseTrain) << "only the pulse counter box is left to show";
    source.EmissionOn(); // no entry points: nothing to call, nothing to crash
}

INSTANTIATE_TEST_SUITE_P(Entries, LaserSourceBuiltInTest,
                         ::testing::Values(BuiltInCase{"PulseTriggered", 0, true}, BuiltInCase{"Gated", 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LaserSourceTest, PluginWithoutMaxPulseRateIsAGatedSource)
{
    TLaserSource source;
    source.LoadLaserSourcePackage({m_folder});
    ASSERT_TRUE(source.ComboBoxSourceSelect(source.indexOf(kGatedModel), m_settings));
    EXPECT_TRUE(source.isLoaded());
    EXPECT_FALSE(source.DoesPulseTrain());
    EXPECT_TRUE(source.view().timedPulseVisible);
    EXPECT_FALSE(source.view().pulseTrainVisible);
}

TEST_F(LaserSourceTest, GarbagePluginIsDegradedNotTrusted)
{
    TLaserSource source;
    source.LoadLaserSourcePackage({m_folder});
    m_settings.MaxReprate = 1200;
    ASSERT_TRUE(source.ComboBoxSourceSelect(2, m_settings));
    EXPECT_EQ(m_settings.MaxReprate, 1200) << "a negative maximum pulse rate is not taken over";
    const auto report = source.report();
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->size(), 8191) << "an unterminated report is cut at the buffer's end";
}

TEST_F(LaserSourceTest, PluginThatNoLongerLoadsLeavesNoPluginLoaded)
{
    TLaserSource source;
    source.LoadLaserSourcePackage({m_folder});
    const int sim = source.indexOf(kSimModel);
    ASSERT_TRUE(QFile::remove(source.LaserPackageNames.at(sim)));
    ASSERT_TRUE(source.ComboBoxSourceSelect(sim, m_settings));
    EXPECT_FALSE(source.isLoaded());
    EXPECT_FALSE(source.report().has_value());
    source.EmissionOn();
    source.EmissionOff();
}

TEST_F(LaserSourceTest, ApplyLaserSettingsSendsStoredValuesAndDestroyShutsDown)
{
    {
        TLaserSource source;
        source.LoadLaserSourcePackage({m_folder});
        m_settings.LaserName = kSimModel;
        SelectStoredLaserSource(source, m_settings);
        ASSERT_TRUE(source.isLoaded());
        m_settings.LaserFrequency = 2000;
        m_settings.LaserCurrent = 12.5;
        m_settings.LaserPower = 80;
        ApplyLaserSettings(source, m_settings);
        EXPECT_EQ(source.frequency(), 2000);
        EXPECT_EQ(source.current(), 12.5);
        EXPECT_EQ(source.power(), 80.0);
    }
    const QStringList expected{QStringLiteral("OpenLaser"), QStringLiteral("SetLaserFrequency 2000"),
                               QStringLiteral("SetLaserCurrent 12.5"), QStringLiteral("SetLaserPower 80"),
                               QStringLiteral("ShutDownLaser")};
    EXPECT_EQ(calls(), expected) << "re-applying the selected source does not reopen it";
}

} // namespace
} // namespace lapido
