// TStation::PreviewMarking: Engrave's marking sequence rehearsed on a simulated controller on
// virtual time, with everything the station shares (machine, clock, store, abort flag, dialogs)
// lent to the rehearsal and given back unchanged.
#include "workflow/markingpreview.h"
#include "workflow/station.h"

#include "glyphs/glyph.h"
#include "machine/applysettings.h"
#include "machine/galildmc.h"
#include "machine/laser.h"
#include "machine/lasersource.h"
#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimtransport.h"
#include "sim/simfromsettings.h"

#include <array>
#include <cmath>
#include <optional>
#include <utility>

namespace lapido {

namespace {

// The simulated controller behind a link that costs what the real one does: half the round
// trip before the controller sees a command, half before its reply is back.
class RoundTripLink final : public GalilTransport {
public:
    RoundTripLink(std::shared_ptr<DmcSimulator> sim, Clock& clock, std::int64_t roundTripUs)
        : m_link(std::move(sim)), m_clock(clock), m_roundTripUs(roundTripUs)
    {
    }
    std::string address() const override { return m_link.address(); }
    void setAddress(std::string_view address) override { m_link.setAddress(address); }
    bool connect() override { return m_link.connect(); }
    void disconnect() override { m_link.disconnect(); }
    std::string connection() const override { return m_link.connection(); }
    GalilReply command(std::string_view text, std::string_view terminator, std::string_view ack, bool trim) override
    {
        m_clock.sleepUs(m_roundTripUs / 2);
        GalilReply reply = m_link.command(text, terminator, ack, trim);
        m_clock.sleepUs(m_roundTripUs - m_roundTripUs / 2);
        return reply;
    }

private:
    DmcSimTransport m_link;
    Clock& m_clock;
    std::int64_t m_roundTripUs;
};

// The process-wide services a marking run reaches, lent to the rehearsal: its own clock, no
// event processing (the window must not act on a machine that is not there), no laser source,
// silent dialogs, a copy of the settings store, and the abort flag and layout position kept.
class BorrowedGlobals {
public:
    explicit BorrowedGlobals(Clock& clock)
        : m_clock(clock),
          m_previousLaser(Laser()),
          m_previousSource(laserSource()),
          m_previousPump(setEventPump(&m_pump)),
          m_previousDialogs(setOperatorDialogs(&m_dialogs)),
          m_aborted(MarkingAborted().load()),
          m_markPosition(MarkPosition())
    {
        setLaserSource(nullptr);
        // Flags a run writes for companion programs (the cam's busy flag) land in the copy.
        try {
            m_store = exchangeAppRegistry(AppRegistry().memoryCopy());
            m_storeLent = true;
        } catch (const SettingsStoreError&) {
            // Without a store there is nothing a write could change.
        }
    }
    ~BorrowedGlobals()
    {
        setLaser(m_previousLaser);
        if (m_storeLent)
            exchangeAppRegistry(std::move(m_store));
        MarkPosition() = m_markPosition;
        MarkingAborted() = m_aborted;
        setOperatorDialogs(m_previousDialogs);
        setEventPump(m_previousPump);
        setLaserSource(m_previousSource);
    }
    BorrowedGlobals(const BorrowedGlobals&) = delete;
    BorrowedGlobals& operator=(const BorrowedGlobals&) = delete;

private:
    ScopedClock m_clock;
    NullEventPump m_pump;
    ScriptedDialogs m_dialogs;
    TLaser* m_previousLaser;
    TLaserSource* m_previousSource;
    EventPump* m_previousPump;
    OperatorDialogs* m_previousDialogs;
    bool m_aborted;
    TCoord m_markPosition;
    std::unique_ptr<SettingsStore> m_store;
    bool m_storeLent = false;
};

QString seconds(double s)
{
    return QString::number(s, 'f', 3);
}

} // namespace

TPreviewInputs PreviewInputs(TStation& station)
{
    TPreviewInputs inputs;
    inputs.labelRevision = station.TreeViewGlyphs().Revision();
    const double numbers[] = {GirdleHeight(),
                              SlantAngle(),
                              station.MarkingReference_X,
                              station.MarkingReference_Y,
                              station.MarkingReference_Z,
                              station.CuvatureLeft_X,
                              station.CuvatureLeft_Z,
                              station.CuvatureRight_X,
                              station.CuvatureRight_Z};
    static_assert(std::size(numbers) == std::tuple_size_v<decltype(inputs.numbers)>);
    for (std::size_t i = 0; i < std::size(numbers); ++i)
        inputs.numbers[i] = std::bit_cast<std::uint64_t>(numbers[i]);
    return inputs;
}

namespace {

// The label a rehearsal is made of, by content: Engrave reuses a rehearsal only for the very
// label it would mark, so this is not the revision (which a glyph field set directly does not
// move) but the saved form, what each glyph has marked and the numbers of the table.
QString rehearsedLabel(TStation& station)
{
    QString label = station.Tree2XML();
    for (TTreeNode* node : station.TreeViewGlyphs().Items())
        if (const TGlyph* g = node->Data())
            label += g->Processed ? QLatin1Char('1') : QLatin1Char('0');
    for (const double v : {GirdleHeight(), SlantAngle(), station.MarkingReference_X, station.MarkingReference_Y,
                           station.MarkingReference_Z, station.CuvatureLeft_X, station.CuvatureLeft_Z,
                           station.CuvatureRight_X, station.CuvatureRight_Z})
        label += QLatin1Char(' ') + QString::number(v, 'g', 17);
    return label;
}

} // namespace

QString estimateLine(const TMarkingPreview& preview)
{
    return QStringLiteral("estimate: ") + seconds(preview.seconds) + QStringLiteral(" s");
}

QString runTimeLine(double estimatedSeconds, double measuredSeconds)
{
    return QStringLiteral("Time: estimated ") + seconds(estimatedSeconds) + QStringLiteral(" s, measured ")
           + seconds(measuredSeconds) + QStringLiteral(" s");
}

// What a rehearsal was made from besides the label's saved form: the nodes and glyphs it points
// to (a label rebuilt alike has new ones), their sizes, where the axes stand, the laser lines,
// the settings and the store, and the link's round trip. A rehearsal is only reused when all of
// it is the same.
struct TStation::PreviewCache {
    QString label;
    std::vector<const void*> objects;
    std::vector<double> sizes;
    std::array<double, 4> axes{};
    std::uint32_t supplyWaitMs = 0;
    bool enableOn = false;
    double roundTripMs = 0;
    TSettings settings;
    std::vector<SettingsEntry> store;
    TMarkingPreview preview;

    bool operator==(const PreviewCache& o) const
    {
        return label == o.label && objects == o.objects && sizes == o.sizes && axes == o.axes
               && supplyWaitMs == o.supplyWaitMs && enableOn == o.enableOn && roundTripMs == o.roundTripMs
               && settings == o.settings && store == o.store;
    }
};

TMarkingPreview TStation::PreviewMarking()
{
    // The key is taken from the state before the rehearsal touches anything.
    auto key = std::make_shared<PreviewCache>();
    key->label = rehearsedLabel(*this);
    for (TTreeNode* node : m_tree.Items()) {
        key->objects.push_back(node);
        key->objects.push_back(node->Data());
        // The saved form leaves out some glyphs' sizes (a symbol run's, a character's own).
        if (const TGlyph* g = node->Data())
            key->sizes.insert(key->sizes.end(), {g->RelativeSize, g->UnitWidth, g->Offset, g->Spacing, g->Width()});
    }
    key->axes = {AxisPosition_X, AxisPosition_Y, AxisPosition_Z, AxisPosition_W()};
    if (const TLaser* real = Laser()) {
        // A supply still warming up costs a different wait at every instant of the station's clock.
        key->supplyWaitMs =
            real->TimerSystemOn && real->TimerSystemOn->IsRunning() ? real->TimerSystemOn->Remaining() : 0;
        key->enableOn = real->EnableIsOn;
    }
    key->roundTripMs = m_services.roundTripMs;
    key->settings = Settings();
    // The run reads some of its delays and speeds from the store, which companion programs write.
    try {
        key->store = AppRegistry().entries();
    } catch (const SettingsStoreError&) {
        // A store that cannot be read cannot tell whether anything changed.
        m_previewCache.reset();
        return rehearseMarking();
    }
    if (m_previewCache && *m_previewCache == *key)
        return m_previewCache->preview;
    key->preview = rehearseMarking();
    m_previewCache = key;
    return key->preview;
}

TMarkingPreview TStation::rehearseMarking()
{
    TMarkingPreview result;
    const QStringList problems = LabelMarkingProblems();
    if (!problems.isEmpty()) {
        result.problem = problems.join(QLatin1Char('\n'));
        return result;
    }
    SetFocusCurvature();
    if (!LabelInsideWorkArea()) {
        result.problem = QStringLiteral("Label extends outside workarea!");
        return result;
    }
    const TSettings& settings = Settings();

    // The station's own state that a run changes, given back afterwards.
    struct GlyphState {
        TGlyph* glyph;
        bool processed;
        TMarkingState state;
    };
    std::vector<GlyphState> glyphs;
    bool allDone = true;
    for (TTreeNode* node : m_tree.Items())
        if (TGlyph* g = node->Data()) {
            glyphs.push_back({g, g->Processed, g->MarkingState});
            allDone = allDone && g->Processed;
        }
    const TStationControls controls = m_controls;
    const TMarkingProgress progress = m_progress;
    const double interval = Curvature_Interval, span = Curvature_Span, start = Curvature_Start;
    TTreeNode* const selected = m_tree.Selected();

    // What the real laser's supply delay still has to run, read on the station's clock before
    // the rehearsal installs its own.
    const TLaser* real = Laser();
    const std::uint32_t systemOnMs =
        real && real->TimerSystemOn && real->TimerSystemOn->IsRunning() ? real->TimerSystemOn->Remaining() : 0;
    const bool enableOn = real && real->EnableIsOn;

    VirtualClock clock;
    {
        BorrowedGlobals globals(clock);

        std::shared_ptr<DmcSimulator> sim = makeWiredSimulator(&clock, settings);
        const auto roundTripUs = static_cast<std::int64_t>(std::llround(std::max(0.0, m_services.roundTripMs) * 1000));
        TLaser laser(std::make_unique<TDMC>(std::make_unique<RoundTripLink>(sim, clock, roundTripUs), "sim"));
        if (const auto refused = ApplyMotionSettings(settings, laser)) {
            result.problem = *refused;
            return result;
        }
        setLaser(&laser);

        // The machine as it stands: at the axes' present position, the supply on, the enable
        // line as the real one is, the gate closed.
        const std::int64_t w = std::llround(AxisPosition_W());
        const std::string at = std::to_string(laser.xyCounts(AxisPosition_X, laser.X_Reversed)) + ","
                               + std::to_string(laser.xyCounts(AxisPosition_Y, laser.Y_Reversed)) + ","
                               + std::to_string(laser.zCounts(AxisPosition_Z)) + "," + std::to_string(w);
        laser.DMCCmd("DP " + at);
        laser.DMCCmd("DE " + at);
        laser.DMCCmd(laser.InvertSystem ? "CB3" : "SB3");
        laser.SystemIsOn = systemOnMs == 0;
        laser.TimerSystemOn->Start(systemOnMs);
        if (enableOn) {
            laser.DMCCmd(laser.InvertShutter ? "CB2" : "SB2");
            laser.EnableIsOn = true;
        }
        laser.CloseGate();
        sim->clearMarks();

        // What the next Engrave marks: the glyphs not marked yet, or all once all are.
        if (allDone)
            for (const GlyphState& g : glyphs)
                g.glyph->ResetMarking();
        m_tree.setSelected(nullptr);
        m_controls.down = TSpeedButton::Mark;

        const std::int64_t startUs = clock.nowUs();
        // Each glyph waits for its last contour before the next begins, so the marks made
        // since the previous glyph are this one's.
        m_afterGlyphMarked = [this, &result, &sim, &clock, startUs](TTreeNode* node) {
            const std::size_t first = result.glyphs.empty() ? 0 : result.glyphs.back().first + result.glyphs.back().count;
            result.glyphs.push_back({node, first, sim->markCount() - first, m_progress.glyphStartMs - startUs / 1000,
                                     clock.tickMs() - startUs / 1000});
        };
        runMarkingSequence(laser);
        m_afterGlyphMarked = nullptr;
        result.seconds = double(clock.nowUs() - startUs) / 1e6;
        result.marks = sim->marks();
        result.markable = true;
        // The rehearsal's machine goes before the lent services are given back: its shutdown
        // talks to its own controller only.
    }

    m_tree.setSelected(selected);
    for (const GlyphState& g : glyphs) {
        g.glyph->Processed = g.processed;
        g.glyph->MarkingState = g.state;
    }
    m_tree.Touch();
    m_controls = controls;
    m_progress = progress;
    m_markingTreeNode = nullptr;
    Curvature_Interval = interval;
    Curvature_Span = span;
    Curvature_Start = start;
    return result;
}

} // namespace lapido
