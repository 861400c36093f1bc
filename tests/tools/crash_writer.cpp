// crash_writer KIND FOLDER FIRST [--step]: saves one kind of the station's files in FOLDER over
// and over, through the station's own code, so that the crash-consistency test can kill it at
// any moment. Save n writes version n; saves are numbered from FIRST. "ready" is printed once
// everything is set up and nothing has been written yet, then each save's number once it is
// done. With --step the saves wait for a line on standard input, a count of saves to make (an
// empty line: one; the end of input ends the program), so that the test can take the versions
// of a clean run it needs.
//
// Versions depend only on the folder's content and n (fixed dates and pictures), so that a
// clean run from a copy of the folder writes exactly what the killed run was writing.
#include "geometry/cadonpaintbox.h"
#include "glyphs/fontoutlines.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/richstring.h"
#include "platform/clock.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "records/pulsecounters.h"
#include "records/stlogfile.h"
#include "settings/settingsexport.h"
#include "settings/settingsrecord.h"
#include "workflow/logoeditor.h"
#include "workflow/station.h"
#include "workflow/templatelist.h"

#include "testsupport.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

namespace lapido {
namespace {

const QDateTime kFixedTime(QDate(2026, 3, 14), QTime(9, 26, 53));

// One kind of file: set up once, then save version n on demand. A save that fails ends the
// program with its reason: a folder left unusable by an earlier kill shows up that way.
struct Writer {
    virtual ~Writer() = default;
    virtual void save(long n) = 0;
};

[[noreturn]] void fail(const QString& why)
{
    std::fprintf(stderr, "crash_writer: %s\n", qPrintable(why));
    std::_Exit(2);
}

// A template saved from the main window: the template file, then the camera snapshot beside it.
class TemplateWriter final : public Writer {
public:
    explicit TemplateWriter(ScriptedDialogs& dialogs) : m_dialogs(dialogs)
    {
        TStationServices services;
        services.snapshot = [this] { return picture(); };
        m_station = std::make_unique<TStation>(std::move(services));
        m_station->FormCreate();
        m_station->FormShow();
    }
    void save(long n) override
    {
        m_n = n;
        TRichString rich;
        rich.Add(QStringLiteral("V%1").arg(n), QStringLiteral("ROMANS"), TFontStyles());
        rich.SetToRichEdit(m_station->RichEditGlyphLabel());
        m_station->BitBtnAddRichEditClick();
        m_dialogs.clear();
        // The first save of a run names a new template (over the file of the earlier run);
        // later ones replace it.
        if (m_first)
            m_dialogs.queueText(QStringLiteral("Crash"));
        else
            m_dialogs.queueAnswer(DialogResult::Yes);
        m_first = false;
        m_station->BitBtnSaveTemplateClick();
        for (const auto& entry : m_dialogs.transcript())
            if (entry.kind == DialogKind::Error)
                fail(entry.text);
    }

private:
    QImage picture() const
    {
        QImage image(320, 240, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(int((x + m_n * 7) % 256), int((y * 3 + m_n) % 256), int((x ^ y) % 256)));
        return image;
    }

    ScriptedDialogs& m_dialogs;
    std::unique_ptr<TStation> m_station;
    long m_n = 0;
    bool m_first = true;
};

// A drawing saved from the logo editor over the file of the previous save.
class DrawingWriter final : public Writer {
public:
    DrawingWriter(ScriptedDialogs& dialogs, const QString& folder)
        : m_dialogs(dialogs), m_path(folder + QStringLiteral("/logo.lal"))
    {
        if (!m_editor.importDxf(test::testDataDir() + QStringLiteral("/geometry/logo_r2000.dxf"))
            || m_editor.layers().empty())
            fail(QStringLiteral("the drawing to save cannot be imported"));
    }
    void save(long n) override
    {
        // Each version shows a different choice of layers.
        const auto& layers = m_editor.layers();
        for (std::size_t i = 0; i < layers.size(); ++i)
            m_editor.CheckListBoxLayersClick(int(i), ((n >> i) & 1) != 0);
        m_dialogs.clear();
        m_dialogs.queueText(m_path);
        if (QFileInfo::exists(m_path))
            m_dialogs.queueAnswer(DialogResult::Ok);
        if (!m_editor.butSaveClick())
            fail(m_dialogs.texts().join(QStringLiteral(" / ")));
    }

private:
    ScriptedDialogs& m_dialogs;
    QString m_path;
    TLogoEditor m_editor;
};

// The outline file of one character, a different character each version.
class OutlineWriter final : public Writer {
public:
    explicit OutlineWriter(const QString& folder) : m_path(folder + QStringLiteral("/glyph.kol")) {}
    void save(long n) override
    {
        static const QString chars = QStringLiteral("agemwBQ&8%");
        TGlyphOutLine glyph(nullptr, nullptr);
        double cellIncX = 0, blackBoxX = 0, originX = 0;
        glyph.ContourList = GetCharOutline(QStringLiteral("Liberation Sans"), TFontStyles(),
                                           chars.at(int(n % chars.size())).unicode(), cellIncX, blackBoxX, originX);
        if (!glyph.ContourList || glyph.ContourList->Count() == 0)
            fail(QStringLiteral("no outline for the character"));
        glyph.UnitWidth = cellIncX + double(n) / 1000.0;
        QString error;
        if (!glyph.SaveToFile(m_path, &error))
            fail(error);
    }

private:
    QString m_path;
};

// The whole settings record, as the settings window's OK saves it.
class StoreWriter final : public Writer {
public:
    void save(long n) override
    {
        TSettings record;
        record.VideoScale = 300 + int(n % 97);
        record.CrossHairX = int(n % 640);
        record.CrossHairY = int((n * 7) % 480);
        record.LaserName = QStringLiteral("Laser %1").arg(n);
        record.EnableOnDelay = double(n % 50) / 10.0;
        SaveSettingsToRegistery(AppRegistry(), record);
    }
};

// The export of the store, after a value of it changed.
class ExportWriter final : public Writer {
public:
    explicit ExportWriter(const QString& folder) : m_path(folder + QStringLiteral("/export.txt")) {}
    void save(long n) override
    {
        AppRegistry().WriteString(QStringLiteral("Crash"), QStringLiteral("Version"), QString::number(n));
        AppRegistry().WriteString(QStringLiteral("Crash"), QStringLiteral("Text%1").arg(n % 64),
                                  QString(int(n % 200) + 1, QChar('x')));
        if (const QString why = exportSettingsFile(AppRegistry(), m_path); !why.isEmpty())
            fail(why);
    }

private:
    QString m_path;
};

// The register of laser units: each save enters one more unit.
class CountersWriter final : public Writer {
public:
    explicit CountersWriter(const QString& folder) : m_counters(folder + QStringLiteral("/counters")) {}
    void save(long n) override
    {
        if (!m_counters.AppendLaserUnitPulses(QStringLiteral("PN-%1").arg(n), n * 1000, kFixedTime))
            fail(m_counters.lastError());
    }

private:
    TPulseCounters m_counters;
};

// The trace: the first save of a run opens it (the session line), later saves append short
// dated entries and, every second, a long undated entry like a marking's XY samples.
class TraceWriter final : public Writer {
public:
    explicit TraceWriter(const QString& folder) : m_folder(folder)
    {
        for (int i = 0; i < 16000; ++i)
            m_samples += QStringLiteral("%1:%2\r\n").arg(i * 0.001, 0, 'f', 3).arg(i * 0.002, 0, 'f', 3);
    }
    void save(long n) override
    {
        bool ok = true;
        if (!m_logger) {
            m_logger = std::make_unique<FileLogger>(m_folder, [] { return kFixedTime; });
            ok = m_logger->lastError().isEmpty();
        } else if (n % 2 == 0) {
            ok = m_logger->AppendLogWD(QStringLiteral("%1:0\r\n").arg(n) + m_samples);
        } else {
            ok = m_logger->AppendLog(QStringLiteral("Im:record %1").arg(n));
        }
        if (!ok)
            fail(m_logger->lastError());
    }

private:
    QString m_folder;
    QString m_samples;
    std::unique_ptr<FileLogger> m_logger;
};

std::unique_ptr<Writer> makeWriter(const QString& kind, const QString& folder, ScriptedDialogs& dialogs)
{
    if (kind == QLatin1String("template"))
        return std::make_unique<TemplateWriter>(dialogs);
    if (kind == QLatin1String("drawing"))
        return std::make_unique<DrawingWriter>(dialogs, folder);
    if (kind == QLatin1String("outline"))
        return std::make_unique<OutlineWriter>(folder);
    if (kind == QLatin1String("store"))
        return std::make_unique<StoreWriter>();
    if (kind == QLatin1String("export"))
        return std::make_unique<ExportWriter>(folder);
    if (kind == QLatin1String("counters"))
        return std::make_unique<CountersWriter>(folder);
    if (kind == QLatin1String("trace"))
        return std::make_unique<TraceWriter>(folder);
    return nullptr;
}

int run(const QStringList& args)
{
    if (args.size() < 3 || args.size() > 4 || (args.size() == 4 && args.at(3) != QLatin1String("--step"))) {
        std::fprintf(stderr, "usage: crash_writer KIND FOLDER FIRST [--step]\n");
        return 1;
    }
    const QString folder = QDir(args.at(1)).absolutePath();
    bool numeric = false;
    const long first = args.at(2).toLong(&numeric);
    if (!numeric)
        fail(QStringLiteral("FIRST is not a number"));
    const bool step = args.size() == 4;

    ScriptedDialogs dialogs;
    setOperatorDialogs(&dialogs);
    VirtualClock clock;
    setSystemClock(&clock);
    setAppRegistry(SettingsStore::open(folder + QStringLiteral("/settings.db")));
    // The working folder is the run's own, never the store's: the store (and its export) must
    // be the same in a run on a copy of the folder.
    setWorkingDir(folder + QLatin1Char('/'));

    const std::unique_ptr<Writer> writer = makeWriter(args.at(0), folder, dialogs);
    if (!writer)
        fail(QStringLiteral("unknown kind \"%1\"").arg(args.at(0)));
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    long allowed = 0;
    for (long n = first;; ++n) {
        if (step && allowed == 0) {
            if (!std::getline(std::cin, line))
                return 0;
            allowed = std::max(1L, std::atol(line.c_str()));
        }
        --allowed;
        writer->save(n);
        std::printf("%ld\n", n);
        std::fflush(stdout);
    }
}

} // namespace
} // namespace lapido

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    try {
        return lapido::run(args);
    } catch (const std::exception& e) {
        lapido::fail(QString::fromUtf8(e.what()));
    }
}
