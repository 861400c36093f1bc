// The station program's own switches, and the single-instance block within one process.
#include "app/singleinstance.h"
#include "app/startoptions.h"

#include <QCoreApplication>
#include <QSharedMemory>
#include <QUuid>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace lapido {
namespace {

struct OptionsCase {
    QStringList args;
    bool simulate;
    double speed;
    bool help;
    bool version;
    bool error;
};

TEST(StartOptions, OursAreReadTheStationsAreLeftAlone)
{
    const OptionsCase cases[] = {
        {{}, false, 1.0, false, false, false},
        {{"/debug", "/NoHoming", "C:\\stone.xml"}, false, 1.0, false, false, false},
        {{"--simulate", "/NOHOMING"}, true, 1.0, false, false, false},
        {{"--simulate", "--sim-speed", "8"}, true, 8.0, false, false, false},
        {{"--sim-speed=2.5"}, false, 2.5, false, false, false},
        {{"--help"}, false, 1.0, true, false, false},
        {{"-h"}, false, 1.0, true, false, false},
        {{"--version"}, false, 1.0, false, true, false},
        {{"--sim-speed"}, false, 1.0, false, false, true},
        {{"--sim-speed", "0"}, false, 1.0, false, false, true},
        {{"--sim-speed", "-3"}, false, 1.0, false, false, true},
        {{"--sim-speed", "fast"}, false, 1.0, false, false, true},
        {{"--sim-speed", "nan"}, false, 1.0, false, false, true},
        {{"--sim-speed", "1e9"}, false, 1.0, false, false, true},
        {{"--simulated"}, false, 1.0, false, false, true}, // a typo must not start the real machine
    };
    for (const OptionsCase& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const StartOptions o = parseStartOptions(c.args);
        EXPECT_EQ(!o.error.isEmpty(), c.error);
        if (c.error)
            continue;
        EXPECT_EQ(o.simulate, c.simulate);
        EXPECT_DOUBLE_EQ(o.simSpeed, c.speed);
        EXPECT_EQ(o.help, c.help);
        EXPECT_EQ(o.version, c.version);
    }
}

struct Block {
    std::uint32_t identity;
    std::int32_t count;
};

// A block of the test's own name, held open by the test so that it can be read after the
// instance let go of it.
class SingleInstanceTest : public ::testing::Test {
protected:
    QString key = QStringLiteral("LapidographTest-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSharedMemory probe{key};

    Block read()
    {
        Block b{};
        if (!probe.isAttached())
            probe.attach();
        probe.lock();
        std::memcpy(&b, probe.constData(), sizeof b);
        probe.unlock();
        return b;
    }
};

TEST_F(SingleInstanceTest, FirstStartRegistersItselfAndTheEndUnregisters)
{
    const auto me = static_cast<std::uint32_t>(QCoreApplication::applicationPid());
    {
        SingleInstance instance(key);
        EXPECT_EQ(instance.claim(), SingleInstance::Outcome::First);
        const Block b = read();
        EXPECT_EQ(b.identity, me);
        EXPECT_EQ(b.count, 1);
    }
    EXPECT_EQ(read().count, 0);
}

// A station that died left the count at 1 and no one listening: the next start must not be
// locked out for good.
TEST_F(SingleInstanceTest, ABlockLeftByADeadStationIsTakenOver)
{
    ASSERT_TRUE(probe.create(sizeof(Block)));
    probe.lock();
    const Block dead{4000000000u, 1};
    std::memcpy(probe.data(), &dead, sizeof dead);
    probe.unlock();

    SingleInstance instance(key);
    EXPECT_EQ(instance.claim(), SingleInstance::Outcome::First);
    const Block b = read();
    EXPECT_EQ(b.identity, static_cast<std::uint32_t>(QCoreApplication::applicationPid()));
    EXPECT_EQ(b.count, 1);
}

} // namespace
} // namespace lapido
