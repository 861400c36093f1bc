// Fuzz target: a pulse-counter register (profile file) as the station finds it on disc: the
// overview, and a new laser unit entered into it without losing what was there.
#include "fuzzsupport.h"

#include "platform/inifile.h"
#include "records/pulsecounters.h"

#include <QDateTime>
#include <QDir>

using namespace lapido;

namespace {

struct Snapshot {
    QStringList sections;
    std::vector<QStringList> keys;
    std::vector<QStringList> values;
};

Snapshot snapshot(const IniFile& ini)
{
    Snapshot s;
    s.sections = ini.ReadSections();
    for (const QString& section : s.sections) {
        s.keys.push_back(ini.ReadSection(section));
        QStringList values;
        for (const QString& key : s.keys.back())
            values << ini.ReadString(section, key, QString());
        s.values.push_back(values);
    }
    return s;
}

bool same(const Snapshot& a, const Snapshot& b)
{
    return a.sections == b.sections && a.keys == b.keys && a.values == b.values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fuzz::Environment& env = fuzz::environment();
    fuzz::resetBetweenInputs();
    const QString folder = env.folder + QStringLiteral("/counters");
    QDir().mkpath(folder);
    const QByteArray input = fuzz::bytes(data, size);
    const QString path = folder + QLatin1Char('/') + QLatin1String(TPulseCounters::kLaserPulsesFile);
    fuzz::writeInput(QStringLiteral("counters/") + QLatin1String(TPulseCounters::kLaserPulsesFile), input);

    TPulseCounters counters(folder);
    counters.GetLaserPulseData();
    const Snapshot before = snapshot(IniFile(path));

    // The text form reads back as the same register.
    IniFile text;
    text.loadFromText(IniFile(path).toText());
    fuzz::check(same(snapshot(text), before), "the register's text form reads differently");

    const QDateTime installed(QDate(2024, 5, 17), QTime(8, 30, 0));
    const bool known = IniFile(path).SectionExists(QStringLiteral("LU-0001"));
    fuzz::check(counters.AppendLaserUnitPulses(QStringLiteral("LU-0001"), 123456789, installed),
                "a laser unit cannot be entered into a readable register");
    const IniFile after(path);
    const Snapshot now = snapshot(after);
    if (known) {
        fuzz::check(same(now, before), "entering a known unit changed the register");
        return 0;
    }
    // Every section and value that was there is still there, in the same order, and the new
    // unit follows them.
    fuzz::check(now.sections.size() == before.sections.size() + 1, "sections lost or made up by an entry");
    for (qsizetype i = 0; i < before.sections.size(); ++i)
        fuzz::check(now.sections[i] == before.sections[i] && now.keys[size_t(i)] == before.keys[size_t(i)]
                        && now.values[size_t(i)] == before.values[size_t(i)],
                    "an entry changed what the register held");
    fuzz::check(after.ReadInteger(QStringLiteral("LU-0001"), QStringLiteral("NumberOfPulses"), 0) == 123456789,
                "the new unit's pulses do not read back");
    return 0;
}
