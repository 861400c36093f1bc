// Faults of the machine while a label is marked on the station model: whatever goes wrong, the
// run ends in bounded time, the laser is commanded off, the operator reads one message saying
// what happened, and what was stored before stays as it was.
#include "controllerfaults.h"
#include "markingfixture.h"

#include "platform/eventpump.h"

#include <functional>

namespace lapido {
namespace {

using test::ControllerFault;
using test::MarkingFixture;

// Runs inside the machine's waits; gives up (and says so) when the run outlasts its guard in
// virtual time, so a hang shows as a failure and not as a test that never ends.
class GuardedPump final : public EventPump {
public:
    GuardedPump(Clock& clock, std::int64_t limitUs, std::function<void()> f)
        : m_clock(clock), m_deadline(clock.nowUs() + limitUs), m_f(std::move(f)), m_previous(setEventPump(this))
    {
    }
    ~GuardedPump() override { setEventPump(m_previous); }
    void pump() override
    {
        if (m_clock.nowUs() > m_deadline) {
            if (!m_expired)
                MarkingAborted() = true;
            m_expired = true;
            return;
        }
        m_f();
    }
    bool expired() const { return m_expired; }

private:
    Clock& m_clock;
    std::int64_t m_deadline;
    std::function<void()> m_f;
    EventPump* m_previous;
    bool m_expired = false;
};

class ControllerFaultTest : public MarkingFixture, public ::testing::WithParamInterface<ControllerFault> {
protected:
    // The last character of a label node.
    static TGlyph* lastChar(TTreeNode* label)
    {
        TTreeNode* run = label->Item(label->Count() - 1);
        return run->Item(run->Count() - 1)->Data();
    }
};

TEST_P(ControllerFaultTest, RunEndsWithTheLaserOffAndTheOperatorTold)
{
    const ControllerFault& f = GetParam();
    // Counters as the station loaded them at start, stored and in its record.
    keys::write(keys::PulseCount, QStringLiteral("1234"));
    keys::write(keys::TotalPulseCount, QStringLiteral("56789"));
    Settings().PulseCount = 1234;
    Settings().TotalPulseCount = 56789;
    TTreeNode* label = addLabel("IIIIIIII");
    inspect();
    const QStringList traceBefore = trace();
    bool injected = false;
    {
        GuardedPump pump(m_clock, 600'000'000, [&] {
            if (!injected && sim().markCount() > 0) {
                f.inject(sim());
                injected = true;
            }
        });
        engrave();
        EXPECT_FALSE(pump.expired()) << "the run outlasted ten minutes of machine time";
    }
    ASSERT_TRUE(injected);
    EXPECT_EQ(st().AIMState, TAIMState::aimsInspecting);
    EXPECT_FALSE(laser().GateIsOpen);
    EXPECT_FALSE(laser().EnableIsOn);
    if (f.linkWorks) {
        const DmcWiring w = sim().wiring();
        EXPECT_FALSE(sim().output(w.gateBit)) << "gate line";
        EXPECT_FALSE(sim().output(w.enableBit)) << "enable line";
        EXPECT_FALSE(sim().isMoving('S'));
    }
    EXPECT_FALSE(lastChar(label)->Processed) << "a label cut short is not reported as marked";

    const QStringList lines = trace();
    EXPECT_TRUE(lines.contains("Mabu"));
    EXPECT_FALSE(lines.contains("Im:"));
    ASSERT_GE(lines.size(), traceBefore.size());
    EXPECT_EQ(lines.mid(0, traceBefore.size()), traceBefore) << "the trace keeps what it held";

    QStringList told;
    for (const auto& e : m_dialogs.transcript())
        told << e.title + ": " + e.text;
    ASSERT_EQ(told.size(), 1) << told.join("\n").toStdString();
    EXPECT_TRUE(told[0].contains(QString::fromLatin1(f.message))) << told[0].toStdString();

    // The shots fired before the fault are added, none taken away.
    EXPECT_GE(keys::read(keys::PulseCount).toLongLong(), 1234);
    EXPECT_GE(keys::read(keys::TotalPulseCount).toLongLong(), 56789);
}

INSTANTIATE_TEST_SUITE_P(Faults, ControllerFaultTest, ::testing::ValuesIn(test::controllerFaults()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace lapido
