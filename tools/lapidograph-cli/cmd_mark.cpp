// lapidograph-cli mark: the station's whole marking sequence without a window, on the simulated
// machine or a real controller, leaving the trace, the command and dialog logs and the marks.
#include "cliio.h"
#include "commands.h"
#include "controllerlink.h"

#include "camera/inspectionpicture.h"
#include "glyphs/glyph.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/glyphphoto.h"
#include "machine/applysettings.h"
#include "machine/galil.h"
#include "machine/laser.h"
#include "machine/lasersource.h"
#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"
#include "platform/savefile.h"
#include "platform/stationglobals.h"
#include "records/stlogfile.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "sim/lasermarkfaults.h"
#include "sim/simfromsettings.h"
#include "workflow/markingpreview.h"
#include "workflow/station.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

namespace lapido::cli {

namespace {

const QString kUsage = QStringLiteral(
    "usage: mark LABEL.xml [--address sim|HOST] [--out DIR] [--answer yes|no|continue|restart ...]\n"
    "            [--reference X,Y,Z] [--teach-left X,Z] [--teach-right X,Z] [--abort-after N]\n"
    "            [--link-lost-after LINES] [--fault silent|garbage|link-lost|underrun|limit-switch]\n"
    "            [--inspect] [--sim-misfire RATE] [--sim-skip-glyph N] [--sim-defocus F] [--sim-drift UM]\n"
    "       mark --preview LABEL.xml [--out DIR] [--reference X,Y,Z] [--teach-left X,Z]\n"
    "            [--teach-right X,Z] [--round-trip MS]\n"
    "  Starts the machine as the station does, loads the label, takes the marking reference (the\n"
    "  start-up position unless given), teaches the girdle points given, runs Engrave and leaves\n"
    "  LATrace, commands.log and dialogs.log in DIR (default: the current folder), and on the\n"
    "  simulator marks.csv and marks.png. --answer gives the operator's answers to the questions\n"
    "  in order (unanswered questions take their default button). --abort-after presses Abort\n"
    "  once N glyphs are marked; --link-lost-after makes the simulator fall silent that many\n"
    "  command lines after the first laser mark. --fault gives the simulator that fault at the first\n"
    "  laser mark: it falls silent, answers garbage, drops the link, lets its buffer run empty, or\n"
    "  trips the X forward limit switch.\n"
    "  After the run the simulated camera's picture at the marking reference is inspected against\n"
    "  the planned marks (\"Inspection: ...\" in the trace, LAInspection.log beside it); --inspect\n"
    "  prints one line per glyph and the text read back. The simulated laser and camera misbehave\n"
    "  with --sim-misfire (a share of pulses, 0 to 1, leave no mark), --sim-skip-glyph (the N-th\n"
    "  glyph, from 1, leaves no mark), --sim-defocus (marks F times wider and fainter) and\n"
    "  --sim-drift (the table drifts UM micrometres in X over the label).\n"
    "  Operator messages go to standard error as they come.\n"
    "  Exit code: 0 the whole label marked, 3 the marking was refused, stopped or incomplete, 4 (with\n"
    "  --inspect) marked but the inspection failed, 1 machine or file error (a log or trace write\n"
    "  that failed included), 2 usage.\n"
    "  --preview connects to no controller: it runs the label through the same marking sequence on a\n"
    "  simulated machine standing where a run would (the reference, or the last point taught),\n"
    "  prints \"estimate: SECONDS s\" (with MS\n"
    "  milliseconds per controller command, 0 unless given) and writes marks.csv and marks.png to\n"
    "  DIR. Exit code 3 when the label would be refused.");


QString escapeLineEnds(QString text)
{
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    text.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    return text;
}

// A text log written line by line and flushed at once, so it is complete whatever happens. A
// write that fails (a full disk) is reported once and remembered for the exit code.
class LineLog {
public:
    bool open(const QString& path, QString* error)
    {
        if (const QString reason = unwritableFileReason(path); !reason.isEmpty()) {
            *error = cannotWrite(path, reason);
            return false;
        }
        m_file.setFileName(path);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            *error = cannotWrite(path, m_file.errorString());
            return false;
        }
        return true;
    }
    void write(const QString& line)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
        if (m_failed)
            return;
        if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
            m_failed = true;
            err(QStringLiteral("lapidograph-cli: ") + cannotWrite(m_file.fileName(), m_file.errorString()));
        }
    }
    bool failed() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_failed;
    }

private:
    mutable std::mutex m_mutex;
    QFile m_file;
    bool m_failed = false;
};

// A message box's text on one line of standard error.
QString oneLine(const QString& text)
{
    QStringList parts;
    for (const QString& part : text.split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts))
        if (!part.trimmed().isEmpty())
            parts << part.trimmed();
    return parts.join(QLatin1Char(' '));
}

// The controller link at the chosen address, writing every command and its reply to
// commands.log in the order sent (status reads of the trace sampler included).
class LoggedLink final : public GalilTransport {
public:
    explicit LoggedLink(LineLog& log) : m_log(log) {}
    std::string address() const override { return m_link.address(); }
    void setAddress(std::string_view address) override { m_link.setAddress(address); }
    bool connect() override { return m_link.connect(); }
    void disconnect() override { m_link.disconnect(); }
    std::string connection() const override { return m_link.connection(); }
    bool isRemote() const override { return m_link.isRemote(); }
    GalilReply command(std::string_view text, std::string_view terminator, std::string_view ack, bool trim) override
    {
        GalilReply reply = m_link.command(text, terminator, ack, trim);
        m_log.write(escapeLineEnds(QString::fromLatin1(text.data(), qsizetype(text.size()))) + QLatin1Char('\t')
                    + escapeLineEnds(QString::fromLatin1(reply.text.data(), qsizetype(reply.text.size()))));
        return reply;
    }

private:
    TGalil m_link;
    LineLog& m_log;
};

// The operator of a headless run: each question takes the next --answer word; messages with a
// single button are acknowledged without using one.
class AnsweringDialogs final : public OperatorDialogs {
public:
    AnsweringDialogs(ScriptedDialogs& inner, QStringList answers) : m_inner(inner), m_answers(std::move(answers)) {}

    DialogResult message(DialogKind kind, const QString& title, const QString& text,
                         std::span<const DialogButton> buttons) override
    {
        if (buttons.size() >= 2 && !m_answers.isEmpty()) {
            const QString word = m_answers.takeFirst().toLower();
            m_inner.queueCaption(captionFor(word, buttons));
        }
        return m_inner.message(kind, title, text, buttons);
    }
    void notice(const QString& title, const QString& text) override { m_inner.notice(title, text); }
    std::optional<QString> input(const QString& title, const QString& prompt, const QString& initial) override
    {
        return m_inner.input(title, prompt, initial);
    }
    std::optional<QString> chooseOpenFile(const QString& t, const QString& f, const QString& x) override
    {
        return m_inner.chooseOpenFile(t, f, x);
    }
    std::optional<QString> chooseSaveFile(const QString& t, const QString& f, const QString& x) override
    {
        return m_inner.chooseSaveFile(t, f, x);
    }
    std::optional<QString> chooseFolder(const QString& t, const QString& f) override { return m_inner.chooseFolder(t, f); }
    std::unique_ptr<WaitDialog> beginWait(const QString& t, const QString& x, const QString& d) override
    {
        return m_inner.beginWait(t, x, d);
    }

private:
    // The caption of the button the word names: by caption first, then "yes" is OK and "no"
    // is Cancel where a box has no Yes or No.
    static QString captionFor(const QString& word, std::span<const DialogButton> buttons)
    {
        for (const DialogButton& b : buttons) {
            const QString caption = b.caption.isEmpty() ? standardCaption(b.result) : b.caption;
            if (caption.compare(word, Qt::CaseInsensitive) == 0)
                return caption;
        }
        const DialogResult fallback = word == QLatin1String("yes") ? DialogResult::Ok
                                      : word == QLatin1String("no") ? DialogResult::Cancel
                                                                    : DialogResult::None;
        for (const DialogButton& b : buttons)
            if (b.result == fallback)
                return b.caption.isEmpty() ? standardCaption(b.result) : b.caption;
        return word;
    }

    ScriptedDialogs& m_inner;
    QStringList m_answers;
};

QString kindName(DialogKind kind)
{
    switch (kind) {
    case DialogKind::Error: return QStringLiteral("error");
    case DialogKind::Information: return QStringLiteral("information");
    case DialogKind::Warning: return QStringLiteral("warning");
    case DialogKind::Confirmation: return QStringLiteral("confirmation");
    case DialogKind::Custom: return QStringLiteral("custom");
    }
    return {};
}

bool putsMarks(const TGlyph* g)
{
    return dynamic_cast<const TGlyphOutLine*>(g) || dynamic_cast<const TGlyphPhoto*>(g);
}

// Glyphs that put marks on the stone (characters, logos, photos), finished so far.
int markedGlyphs(TStation& station)
{
    int n = 0;
    for (TTreeNode* node : station.TreeViewGlyphs().Items()) {
        TGlyph* g = node->Data();
        if (g && g->Processed && putsMarks(g))
            ++n;
    }
    return n;
}

// Glyphs that put marks on the stone, finished or not.
int markingGlyphs(TStation& station)
{
    int n = 0;
    for (TTreeNode* node : station.TreeViewGlyphs().Items())
        if (putsMarks(node->Data()))
            ++n;
    return n;
}

// Runs inside the machine's waits while the label is marked, as the window's event loop does.
class RunPump final : public EventPump {
public:
    std::function<void()> onPump;
    void pump() override
    {
        if (onPump)
            onPump();
    }
};

// The marks as a picture about a thousand pixels across the label, whatever its size; false
// after an error line when it cannot be written. Without marks there is no picture.
bool writeMarksPicture(std::span<const LaserMark> marks, const QString& png)
{
    if (marks.empty()) {
        QFile::remove(png);
        out(QStringLiteral("picture: none (nothing was marked)"));
        return true;
    }
    const auto [mn, mx] = std::minmax_element(marks.begin(), marks.end(),
                                              [](const LaserMark& a, const LaserMark& b) { return a.xMm < b.xMm; });
    const double pixelsPerMm = std::clamp(1000.0 / std::max(mx->xMm - mn->xMm, 1e-3), 20.0, 800.0);
    QString error;
    if (!writeMarksPng(marks, png, pixelsPerMm, &error)) {
        err(QStringLiteral("lapidograph-cli: ") + error);
        return false;
    }
    out(QStringLiteral("picture: %1").arg(QFileInfo(png).absoluteFilePath()));
    return true;
}

// The output folder made, and the marks of an earlier run in it removed: what is there
// afterwards is this run's. False after an error line.
bool prepareOutFolder(const QString& outDir)
{
    if (!QDir().mkpath(outDir)) {
        err(QStringLiteral("lapidograph-cli: cannot create the folder \"%1\"").arg(outDir));
        return false;
    }
    const QDir outFolder(QDir(outDir).absolutePath());
    for (const char* name : {"marks.csv", "marks.png"}) {
        const QString stale = outFolder.filePath(QString::fromLatin1(name));
        if (QFileInfo(stale).isFile() && !QFile::remove(stale)) {
            err(QStringLiteral("lapidograph-cli: cannot remove the earlier \"%1\"").arg(stale));
            return false;
        }
    }
    return true;
}

struct PreviewRequest {
    QString labelPath;
    QByteArray labelBytes;
    QString outDir;
    std::optional<std::vector<double>> reference, teachLeft, teachRight;
    double roundTripMs = 0;
};

// The preview of a label: no controller is opened, nothing is stored, no trace is written.
int previewMark(const PreviewRequest& r)
{
    if (!prepareOutFolder(r.outDir))
        return 1;
    const QDir outFolder(QDir(r.outDir).absolutePath());
    LoadSettingsFromRegistery();
    const TSettings& settings = Settings();

    ScriptedDialogs dialogs;
    dialogs.onEntry = [](const ScriptedDialogs::Entry& e) {
        err(QStringLiteral("lapidograph-cli: %1: %2").arg(kindName(e.kind), oneLine(e.text)));
    };
    OperatorDialogs* previousDialogs = setOperatorDialogs(&dialogs);
    struct RestoreDialogs {
        OperatorDialogs* previous;
        ~RestoreDialogs() { setOperatorDialogs(previous); }
    } restoreDialogs{previousDialogs};

    takeLogoFolder(QFileInfo(r.labelPath).absoluteDir());
    TStationServices services;
    services.countShots = false;
    services.roundTripMs = r.roundTripMs;
    TStation station(std::move(services));
    if (const LabelLoad load = loadLabel(station, r.labelPath, r.labelBytes); load != LabelLoad::Loaded) {
        if (load == LabelLoad::Unreadable)
            return 1;
        out(QStringLiteral("marking refused before the machine moved"));
        return 3;
    }

    // The machine stands where a run would have it when Engrave is pressed: at the reference
    // (the start-up position unless given), or at the last girdle point taught.
    const double refX = r.reference ? (*r.reference)[0] : settings.StartUp_X;
    const double refY = r.reference ? (*r.reference)[1] : settings.StartUp_Y;
    const double refZ = r.reference ? (*r.reference)[2] : settings.StartUp_Z;
    station.MarkingReference_X = refX;
    station.MarkingReference_Y = refY;
    station.MarkingReference_Z = refZ;
    for (const auto& point : {r.teachLeft, r.teachRight}) {
        if (!point)
            continue;
        station.AxisPosition_X = (*point)[0];
        station.AxisPosition_Y = refY;
        station.AxisPosition_Z = (*point)[1];
        if (!station.BitBtnFocusClick()) {
            out(QStringLiteral("marking refused before the machine moved"));
            return 3;
        }
    }
    if (!r.teachLeft && !r.teachRight) {
        station.AxisPosition_X = refX;
        station.AxisPosition_Y = refY;
        station.AxisPosition_Z = refZ;
    }

    const TMarkingPreview preview = station.PreviewMarking();
    if (!preview.markable) {
        err(QStringLiteral("lapidograph-cli: ") + oneLine(preview.problem));
        out(QStringLiteral("marking refused before the machine moved"));
        return 3;
    }
    out(estimateLine(preview));
    QString error;
    const QString csv = outFolder.filePath(QStringLiteral("marks.csv"));
    if (!writeMarksCsv(preview.marks, csv, &error)) {
        err(QStringLiteral("lapidograph-cli: ") + error);
        return 1;
    }
    out(QStringLiteral("marks: %1 in %2").arg(preview.marks.size()).arg(csv));
    return writeMarksPicture(preview.marks, outFolder.filePath(QStringLiteral("marks.png"))) ? 0 : 1;
}

bool moveAndWait(TLaser& laser, double x, double y, double z)
{
    laser.MoveTo(x, y, z);
    if (laser.WaitOnMotionComplete())
        return true;
    err(QStringLiteral("lapidograph-cli: ") + laser.lastError());
    return false;
}

// The controller faults a run can be given on the simulated machine, by name.
std::function<void(DmcSimulator&)> simulatorFault(const QString& name)
{
    if (name == QLatin1String("silent"))
        return [](DmcSimulator& s) { s.setNoReply(true); };
    if (name == QLatin1String("garbage"))
        return [](DmcSimulator& s) { s.setGarbageReply(true); };
    if (name == QLatin1String("link-lost"))
        return [](DmcSimulator& s) { s.setLinkLostAfter(3); };
    if (name == QLatin1String("underrun"))
        return [](DmcSimulator& s) { s.forceBufferUnderrun(); };
    // Labels run along X, so the forward switch trips while the vector sequence moves.
    if (name == QLatin1String("limit-switch"))
        return [](DmcSimulator& s) { s.setLimitSwitch('X', 1); };
    return {};
}

} // namespace

int cmdMark(const QStringList& args)
{
    QString labelPath, address, outDir = QStringLiteral(".");
    QStringList answers;
    std::optional<std::vector<double>> reference, teachLeft, teachRight;
    int abortAfter = -1, linkLostAfter = -1;
    std::function<void(DmcSimulator&)> fault;
    bool preview = false, inspect = false;
    double misfireRate = 0, defocus = 1, driftUm = 0;
    int skipGlyph = 0;
    double roundTripMs = 0;
    bool roundTripGiven = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        auto intValue = [&](int& target) {
            bool ok = false;
            target = args.at(++i).toInt(&ok);
            return ok && target >= 0;
        };
        auto numberValue = [&](double& target, double low, double high) {
            bool ok = false;
            target = args.at(++i).toDouble(&ok);
            return ok && target >= low && target <= high;
        };
        if (a == QLatin1String("--preview")) {
            preview = true;
        } else if (a == QLatin1String("--inspect")) {
            inspect = true;
        } else if (a == QLatin1String("--sim-misfire") && hasValue) {
            if (!numberValue(misfireRate, 0, 1))
                return usageError(QStringLiteral("--sim-misfire needs a share of pulses from 0 to 1"));
        } else if (a == QLatin1String("--sim-skip-glyph") && hasValue) {
            if (!intValue(skipGlyph) || skipGlyph < 1)
                return usageError(QStringLiteral("--sim-skip-glyph needs the number of a glyph, from 1"));
        } else if (a == QLatin1String("--sim-defocus") && hasValue) {
            if (!numberValue(defocus, 1, 20))
                return usageError(QStringLiteral("--sim-defocus needs a factor from 1 to 20"));
        } else if (a == QLatin1String("--sim-drift") && hasValue) {
            if (!numberValue(driftUm, -1000, 1000))
                return usageError(QStringLiteral("--sim-drift needs micrometres from -1000 to 1000"));
        } else if (a == QLatin1String("--round-trip") && hasValue) {
            bool ok = false;
            roundTripMs = args.at(++i).toDouble(&ok);
            if (!ok || !(roundTripMs >= 0) || roundTripMs > 60000)
                return usageError(QStringLiteral("--round-trip needs milliseconds (0 to 60000)"));
            roundTripGiven = true;
        } else if (a == QLatin1String("--address") && hasValue) {
            address = args.at(++i);
        } else if (a == QLatin1String("--out") && hasValue) {
            outDir = args.at(++i);
        } else if (a == QLatin1String("--answer") && hasValue) {
            for (const QString& w : args.at(++i).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                static const QStringList kWords = {"yes", "no", "continue", "restart"};
                if (!kWords.contains(w.trimmed().toLower()))
                    return usageError(QStringLiteral("--answer takes yes, no, continue or restart, not \"%1\"").arg(w));
                answers << w.trimmed();
            }
        } else if (a == QLatin1String("--reference") && hasValue) {
            if (!(reference = pointNumbers(args.at(++i), 3)))
                return usageError(QStringLiteral("--reference needs X,Y,Z in mm"));
        } else if (a == QLatin1String("--teach-left") && hasValue) {
            if (!(teachLeft = pointNumbers(args.at(++i), 2)))
                return usageError(QStringLiteral("--teach-left needs X,Z in mm"));
        } else if (a == QLatin1String("--teach-right") && hasValue) {
            if (!(teachRight = pointNumbers(args.at(++i), 2)))
                return usageError(QStringLiteral("--teach-right needs X,Z in mm"));
        } else if (a == QLatin1String("--abort-after") && hasValue) {
            if (!intValue(abortAfter))
                return usageError(QStringLiteral("--abort-after needs a number of glyphs"));
        } else if (a == QLatin1String("--link-lost-after") && hasValue) {
            if (!intValue(linkLostAfter) || linkLostAfter < 1)
                return usageError(QStringLiteral("--link-lost-after needs a number of command lines"));
        } else if (a == QLatin1String("--fault") && hasValue) {
            if (!(fault = simulatorFault(args.at(++i))))
                return usageError(QStringLiteral("--fault takes silent, garbage, link-lost, underrun or limit-switch"));
        } else if (!a.startsWith(QLatin1String("--")) && labelPath.isEmpty()) {
            labelPath = a;
        } else {
            return usageError(QStringLiteral("unexpected \"%1\"\n").arg(a) + kUsage);
        }
    }
    if (labelPath.isEmpty())
        return usageError(kUsage);
    const bool markFaults = misfireRate > 0 || skipGlyph > 0 || defocus != 1 || driftUm != 0;
    if (preview && (!answers.isEmpty() || abortAfter >= 0 || linkLostAfter > 0 || fault || inspect || markFaults))
        return usageError(QStringLiteral("--preview runs no marking to answer, abort or cut off"));
    if (roundTripGiven && !preview)
        return usageError(QStringLiteral("--round-trip is for --preview; a run measures its own link"));

    // Label files larger than this are not labels.
    const auto labelFile = readLabelFile(labelPath);
    if (!labelFile)
        return 1;
    const QByteArray& labelBytes = *labelFile;

    if (preview)
        return previewMark({labelPath, labelBytes, outDir, reference, teachLeft, teachRight, roundTripMs});

    // The outputs of an earlier run in the same folder go (the trace file keeps its history).
    if (!prepareOutFolder(outDir))
        return 1;
    const QDir outFolder(QDir(outDir).absolutePath());
    QString error;
    LineLog commandsLog, dialogsLog;
    if (!commandsLog.open(outFolder.filePath(QStringLiteral("commands.log")), &error)
        || !dialogsLog.open(outFolder.filePath(QStringLiteral("dialogs.log")), &error)) {
        err(QStringLiteral("lapidograph-cli: ") + error);
        return 1;
    }

    LoadSettingsFromRegistery();
    TSettings& settings = Settings();
    const QString effectiveAddress = controllerAddress(address);
    const bool simulated = isSimulatorAddress(effectiveAddress);
    if ((linkLostAfter > 0 || fault || markFaults) && !simulated)
        return usageError(QStringLiteral("--link-lost-after, --fault and --sim-... need the simulated machine"));

    // The simulated machine runs on virtual time: a label marks in moments, the same each run.
    VirtualClock virtualClock;
    std::optional<ScopedClock> simulatedTime;
    std::shared_ptr<DmcSimulator> previousSim;
    std::shared_ptr<DmcSimulator> sim;
    if (simulated) {
        simulatedTime.emplace(virtualClock);
        sim = makeWiredSimulator(&virtualClock, settings);
        previousSim = currentDmcSimulator();
        setCurrentDmcSimulator(sim);
    }
    struct RestoreSim {
        bool active;
        std::shared_ptr<DmcSimulator> previous;
        ~RestoreSim()
        {
            if (active)
                setCurrentDmcSimulator(previous);
        }
    } restoreSim{simulated, previousSim};

    ScriptedDialogs scripted;
    scripted.onEntry = [&dialogsLog](const ScriptedDialogs::Entry& e) {
        // The operator of a headless run reads standard error.
        err(QStringLiteral("lapidograph-cli: %1: %2").arg(kindName(e.kind), oneLine(e.text)));
        dialogsLog.write(kindName(e.kind) + QLatin1Char('\t') + escapeLineEnds(e.title) + QLatin1Char('\t')
                         + escapeLineEnds(e.text) + QLatin1Char('\t') + e.buttons.join(QLatin1Char('|'))
                         + QLatin1Char('\t') + e.answer);
    };
    AnsweringDialogs dialogs(scripted, answers);
    OperatorDialogs* previousDialogs = setOperatorDialogs(&dialogs);
    struct RestoreDialogs {
        OperatorDialogs* previous;
        ~RestoreDialogs() { setOperatorDialogs(previous); }
    } restoreDialogs{previousDialogs};

    takeLogoFolder(QFileInfo(labelPath).absoluteDir());

    FileLogger trace(outFolder.absolutePath());
    TStationServices services;
    services.logger = &trace;
    services.countShots = !simulated;
    if (sim) {
        // The camera of the simulated machine, over the table at the reference after the run.
        services.inspectionPicture = [&sim, &settings, defocus, refY = reference ? (*reference)[1] : settings.StartUp_Y,
                                      refX = reference ? (*reference)[0] : settings.StartUp_X] {
            SimulatedInspectionCamera camera;
            camera.defocus = defocus;
            return simulatedInspectionPicture(settings, TCoord{refX, refY}, refY, sim->marks(), camera);
        };
        // The laser's faults are armed with the run's plan: the pulses of the skipped glyph and
        // the number of pulses the drift spreads over are the plan's.
        services.runPlanned = [&sim, misfireRate, skipGlyph, driftUm](const TMarkingPreview& plan) {
            LaserMarkFaults faults;
            faults.misfireRate = misfireRate;
            faults.driftUm = driftUm;
            faults.driftOverPulses = plan.marks.size();
            int n = 0;
            for (const TMarkingPreview::Glyph& g : plan.glyphs)
                if (g.count > 0 && ++n == skipGlyph)
                    faults.skipped.push_back({g.first, g.count});
            sim->setMarkFaults(faults);
        };
    }
    TStation station(std::move(services));
    if (const LabelLoad load = loadLabel(station, labelPath, labelBytes); load != LabelLoad::Loaded) {
        if (load == LabelLoad::Unreadable)
            return 1;
        out(QStringLiteral("glyphs marked: 0"));
        out(QStringLiteral("marking refused before the machine moved"));
        return 3;
    }

    // Everything that can refuse the label is asked before the machine is even connected: at the reference
    // and girdle points the run will take (the start-up position unless given).
    {
        const double refX = reference ? (*reference)[0] : settings.StartUp_X;
        const double refY = reference ? (*reference)[1] : settings.StartUp_Y;
        const double refZ = reference ? (*reference)[2] : settings.StartUp_Z;
        station.MarkingReference_X = refX;
        station.MarkingReference_Y = refY;
        station.MarkingReference_Z = refZ;
        for (const auto& point : {teachLeft, teachRight}) {
            if (!point)
                continue;
            station.AxisPosition_X = (*point)[0];
            station.AxisPosition_Y = refY;
            station.AxisPosition_Z = (*point)[1];
            if (!station.BitBtnFocusClick()) {
                out(QStringLiteral("glyphs marked: 0"));
                out(QStringLiteral("marking refused before the machine moved"));
                return 3;
            }
        }
        const bool markable = station.CheckLabelBeforeMarking();
        station.CuvatureLeft_X = station.CuvatureLeft_Z = 0;
        station.CuvatureRight_X = station.CuvatureRight_Z = 0;
        if (!markable) {
            out(QStringLiteral("glyphs marked: 0"));
            out(QStringLiteral("marking refused before the machine moved"));
            return 3;
        }
    }

    const StoredLaserSource source(settings);
    struct ResetLaser {
        ~ResetLaser() { setLaser(nullptr); }
    } resetLaser;

    TLaser laser(openController(effectiveAddress, std::make_unique<LoggedLink>(commandsLog)));
    if (!laser.HardwareFound) {
        err(QStringLiteral("lapidograph-cli: no controller at \"%1\"").arg(addressText(effectiveAddress)));
        return 1;
    }
    if (const auto refused = ApplyMotionSettings(settings, laser)) {
        err(QStringLiteral("lapidograph-cli: ") + *refused);
        laser.HardwareFound = false;
        return 1;
    }
    setLaser(&laser);
    // The link's round trip, once, for the estimate the trace records beside the run's time.
    station.services().roundTripMs = MeasureRoundTripMs(laser.channel());

    laser.Initialize();
    if (!laser.Initialized) {
        err(QStringLiteral("lapidograph-cli: the machine was not initialised. ") + laser.lastError());
        return 1;
    }

    // Aligning: the marking reference follows the axes until Inspect freezes it.
    station.SetAIMSState(TAIMState::aimsAligning);
    if (reference && !moveAndWait(laser, (*reference)[0], (*reference)[1], (*reference)[2]))
        return 1;
    station.TimerLaserTick();
    station.SpeedButtonAIMClick(TSpeedButton::Inspect);
    for (const auto& point : {teachLeft, teachRight}) {
        if (!point)
            continue;
        if (!moveAndWait(laser, (*point)[0], station.MarkingReference_Y, (*point)[1]))
            return 1;
        station.TimerLaserTick();
        station.BitBtnFocusClick();
    }
    station.BlowerEnableDisableMarking();

    RunPump pump;
    EventPump* previousPump = setEventPump(&pump);
    struct RestorePump {
        EventPump* previous;
        ~RestorePump() { setEventPump(previous); }
    } restorePump{previousPump};
    const int markedBefore = markedGlyphs(station);
    const std::size_t marksBefore = sim ? sim->markCount() : 0;
    bool abortPressed = false, linkArmed = false, faultInjected = false;
    pump.onPump = [&] {
        if (station.AIMState != TAIMState::aimsMarking)
            return;
        if (linkLostAfter > 0 && !linkArmed && sim->markCount() > marksBefore) {
            sim->setLinkLostAfter(linkLostAfter);
            linkArmed = true;
        }
        if (fault && !faultInjected && sim->markCount() > marksBefore) {
            fault(*sim);
            faultInjected = true;
        }
        if (abortAfter >= 0 && !abortPressed && markedGlyphs(station) - markedBefore >= abortAfter) {
            abortPressed = true;
            station.KeyEsc();
        }
    };

    station.KeyF9();
    pump.onPump = nullptr;
    // The window's output timer would switch a delayed enable off; here the run waits for it.
    while (laser.EnableIsOn && laser.TimerEnableOff->IsRunning() && laser.TimerEnableOff->Remaining() > 0)
        systemClock().sleepMs(std::min<std::int64_t>(100, laser.TimerEnableOff->Remaining()));
    laser.CheckTimers();
    const bool stopped = MarkingAborted() || laser.sequenceFaulted();
    // Success is the whole label on the stone: a glyph left out is a wrong inscription.
    const int toMark = markingGlyphs(station);
    const bool marked = toMark > 0 && markedGlyphs(station) == toMark && markedGlyphs(station) > markedBefore && !stopped;

    out(QStringLiteral("trace: %1").arg(QDir::toNativeSeparators(trace.filePath())));
    // What the controller reports, not what was sent to it: a controller that does not answer
    // may still have the laser on.
    if (const auto lines = laser.confirmedLaserLines())
        out(QStringLiteral("laser after marking: gate %1, enable %2")
                .arg(lines->gateOpen ? QStringLiteral("open") : QStringLiteral("closed"),
                     lines->enableOn ? QStringLiteral("on") : QStringLiteral("off")));
    else
        out(QStringLiteral("laser after marking: unknown (the controller does not answer); switch the laser off at "
                           "the machine"));
    out(QStringLiteral("glyphs marked: %1").arg(markedGlyphs(station) - markedBefore));
    if (stopped)
        out(QStringLiteral("marking stopped: %1")
                .arg(laser.lastError().isEmpty() ? QStringLiteral("aborted by the operator") : laser.lastError()));
    else if (!marked)
        out(QStringLiteral("marking incomplete: %1 of %2 glyphs marked").arg(markedGlyphs(station)).arg(toMark));
    if (sim) {
        const QString csv = outFolder.filePath(QStringLiteral("marks.csv"));
        const QString png = outFolder.filePath(QStringLiteral("marks.png"));
        if (!sim->writeMarksCsv(csv, &error)) {
            err(QStringLiteral("lapidograph-cli: ") + error);
            return 1;
        }
        out(QStringLiteral("marks: %1 in %2").arg(sim->markCount() - marksBefore).arg(csv));
        if (!writeMarksPicture(sim->marks(), png))
            return 1;
    }
    const std::optional<InspectionResult>& inspection = station.LastInspection();
    if (inspect) {
        if (!inspection) {
            out(QStringLiteral("inspection: none (%1)").arg(sim ? QStringLiteral("the run did not end normally")
                                                             : QStringLiteral("no camera on a real controller here")));
        } else {
            for (const QString& line : inspection->lines())
                out(line);
        }
    }
    // A log or trace with a gap is a failed run, however the marking went.
    if (commandsLog.failed() || dialogsLog.failed() || trace.anyWriteFailed())
        return 1;
    // The machine object shuts the machine down as it goes, as the station does at exit.
    if (!marked)
        return 3;
    return inspect && inspection && !inspection->ok() ? 4 : 0;
}

} // namespace lapido::cli
