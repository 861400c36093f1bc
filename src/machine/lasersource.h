// TLaserSource: the list of laser sources, the loaded plug-in and its entry points.
#pragma once

#include "machine/lasersourceabi.h"

#include <QLibrary>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace lapido {

struct TSettings;

// What the laser page of the settings window (and the main window's pulse boxes) shows for
// the selected source. A window reads it after each selection; nothing here paints.
struct LaserSourceView {
    QString caption;                    // window caption: the plug-in's model name, empty for built-ins
    bool showButtonEnabled = false;     // "Show..."
    bool maxPulseFrequencyVisible = false;
    bool pulseCounterVisible = false;
    bool pulseTrainVisible = false;     // also the main window's "Emit Pulse Train" box
    bool timedPulseVisible = false;     // also the main window's "Timed Pulse" box
    bool currentVisible = false, currentReadBackVisible = false, currentCommandVisible = false;
    bool powerVisible = false, powerReadBackVisible = false, powerCommandVisible = false;
    bool frequencyVisible = false, frequencyReadBackVisible = false, frequencyCommandVisible = false;
    bool reportVisible = false;
    bool groupVisible = false;          // the whole laser-control group
    bool operator==(const LaserSourceView&) const = default;
};

class TLaserSource {
public:
    static constexpr int kPulseTriggeredEntry = 0;
    static constexpr int kGatedEntry = 1;
    static constexpr int kFirstPluginEntry = 2;

    TLaserSource();
    ~TLaserSource();
    TLaserSource(const TLaserSource&) = delete;
    TLaserSource& operator=(const TLaserSource&) = delete;

    // Builds the source list: the two built-in entries, then every "DE60_*.so" in the
    // current folder, in the program's own folder and in the installed plug-in folder that
    // reports a model name.
    void LoadLaserSourcePackage();
    // The same over an explicit folder list (the first one takes the current folder's place).
    void LoadLaserSourcePackage(const QStringList& folders);

    // Picks an entry of the source list (the settings window's selection). The record's
    // LaserName follows the pick; MaxReprate takes over the plug-in's maximum pulse rate.
    // Returns false when the index is outside the list.
    bool ComboBoxSourceSelect(int index, TSettings& settings);
    // Index of the entry whose text is name, or 0 when none matches.
    int indexOf(const QString& name) const;

    void EmissionOn();
    void EmissionOff();
    bool DoesPulseTrain() const { return FDoesPulseTrain; }

    // Thin callers of the optional entry points: each does nothing (or returns nullopt) when
    // the loaded source lacks it.
    void setFrequency(int hertz);
    void setCurrent(double amperes);
    void setPower(double percent);
    std::optional<int> frequency() const;
    std::optional<double> current() const;
    std::optional<double> power() const;
    std::optional<QString> report() const;
    void showPanel(bool service);

    const QStringList& sourceNames() const { return m_sourceNames; }
    int selectedIndex() const { return m_selected; }
    bool isLoaded() const { return hLaser != nullptr; }
    const LaserSourceView& view() const { return m_view; }

    // The plug-in folder of this program: the folder of its executable.
    static QString programPluginFolder();
    // The folder an installed station keeps its plug-ins in: the library folder beside the
    // program's (/usr/lib/<triplet>/lapidograph for /usr/bin), found from where the program
    // lies so that a relocated installation finds its own.
    static QString installedPluginFolder();

    // The loaded plug-in, or none.
    std::unique_ptr<QLibrary> hLaser;
    // Plug-in file (full path) for each entry of the source list; empty for the built-ins.
    QStringList LaserPackageNames;
    bool FDoesPulseTrain = true;

    LaserShowPanelFn ShowPanel = nullptr;
    LaserGetModelFn GetLaserModel = nullptr;
    LaserVoidFn OpenLaser = nullptr;
    LaserVoidFn CloseLaser = nullptr;
    LaserVoidFn StartUpLaser = nullptr;
    LaserVoidFn ShutDownLaser = nullptr;
    LaserStateFn LaserState = nullptr;
    LaserSetFrequencyFn SetLaserFrequency = nullptr;
    LaserGetFrequencyFn GetLaserFrequency = nullptr;
    LaserSetFloatFn SetLaserCurrent = nullptr;
    LaserGetFloatFn GetLaserCurrent = nullptr;
    LaserSetFloatFn SetLaserPower = nullptr;
    LaserGetFloatFn GetLaserPower = nullptr;
    LaserVoidFn LaserEmissionOn = nullptr;
    LaserVoidFn LaserEmissionOff = nullptr;
    LaserIsEmittingFn LaserIsEmitting = nullptr;
    LaserReportFn LaserReport = nullptr;
    LaserGetMaxPulseRateFn GetMaxPulseRate = nullptr;

private:
    void unloadPlugin();
    void resolveEntryPoints(QLibrary& library);
    void clearEntryPoints();
    void updateView();

    QStringList m_sourceNames;
    int m_selected = -1;
    LaserSourceView m_view;
};

// The model name a plug-in reports, made safe: at most 255 characters, read as 8-bit text,
// control characters dropped, trimmed. Empty when the plug-in gave nothing usable.
QString laserModelName(LaserGetModelFn getModel);

// The one laser source of the station: created with the settings window, reset in tests.
// Null until installed; the machine then fires without a plug-in.
TLaserSource* laserSource();
void setLaserSource(TLaserSource* source);

} // namespace lapido
