// The rules of the settings window without its widgets: live edits of the boxes, the checks of
// OK, service mode with its protected controls, and the lists of the label-rule combos.
#pragma once

#include "settings/settingsrecord.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>

namespace lapido {

// When a protected control is enabled.
enum class ControlNeeds {
    Service,         // service mode
    ServiceAndZ,     // service mode and a motorised Z-axis
    ServiceAndA,     // service mode and a motorised A-axis (never, the A-axis is never enabled)
    ZAxis,           // a motorised Z-axis, whatever the mode (the Z boxes of the positions)
    Never,
};

struct ProtectedControl {
    const char* name; // object name of the control in the window
    ControlNeeds needs;
};

// The state the settings window keeps besides the record: which boxes hold a refused text and
// whether service mode is on. Every rule works on the record it was given.
class SettingsEditor {
public:
    explicit SettingsEditor(TSettings& record, bool service = false);

    TSettings& record() { return m_record; }
    const TSettings& record() const { return m_record; }

    // --- live edits of the float and integer edit boxes (EditFloatChange)
    // Keys of the record fields that have an edit box with the live-edit rule, and the Y
    // resolution box ("Y_CountsPerMM"), which has no rule of its own: it follows X.
    static std::span<const char* const> floatEditKeys();
    static bool isFloatEditKey(const QString& key);
    // The text of box `key` changed: trimmed and read with a point whatever the locale;
    // refused (false, the record keeps its value) when it does not convert or lies below what
    // the box allows; otherwise stored by the box's rule. The red state of the marking-speed
    // and photo-speed boxes is recomputed after every call.
    bool EditFloatChange(const QString& key, const QString& text);
    bool isRefused(const QString& key) const { return m_refused.contains(key); }
    // The boxes whose text is refused, in the order of the pages; a refused box never reaches
    // the store, since the record still holds what was there before (or a prefix of the text).
    QStringList refusedKeys() const;
    // A value the box took but the machine would refuse (the controller's ranges): the box
    // turns red with the reason until its text changes.
    void refuseValue(const QString& key, const QString& reason);
    // Why the box is refused: the machine's reason, or that the text is no number the box takes.
    QString refusalReason(const QString& key) const;
    // The record's value behind box `key` (the Y resolution box shows the X resolution);
    // nullopt for a key without a box.
    static std::optional<double> boxValue(const TSettings& record, const QString& key);
    // Whether the box shows red: a refused text, or for the two speed boxes a speed the
    // laser cannot follow with one pulse per pulse distance (or photo dot).
    bool isRed(const QString& key) const;
    bool markingSpeedRed() const { return m_markingSpeedRed; }
    bool photoSpeedRed() const { return m_photoSpeedRed; }
    // Forgets refused texts (the window is filled from the record again).
    void clearRefused();

    // --- spin boxes (SpinEditChange)
    enum class SpinOutcome { Ignored, Stored, StoredVideo };
    static std::span<const char* const> spinEditKeys();
    // A spin box's text changed: an empty or non-numeric text is ignored; otherwise the value
    // goes to the record (ContourResolution in radians). StoredVideo when the camera overlay
    // must follow at once (cross hair, scale, aspect).
    SpinOutcome SpinEditChange(const QString& key, const QString& text);

    // --- OK
    // The error OK shows when the laser's highest pulse frequency cannot deliver one pulse per
    // pulse distance at the marking speed (or one per photo dot at the photo speed);
    // nullopt when the settings may be saved.
    std::optional<QString> frequencyCheck() const;

    // --- service mode
    bool ST_Service = false;
    // The password box's text, trimmed, equals the stored password (case-sensitive).
    bool passwordMatches(const QString& text) const;
    // Every control whose enabled state depends on service mode or the axes, by object name.
    static std::span<const ProtectedControl> protectedControls();
    bool isEnabled(ControlNeeds needs) const;

private:
    void updateSpeedStates();

    TSettings& m_record;
    QStringList m_refused;
    QHash<QString, QString> m_reasons;
    bool m_markingSpeedRed = false;
    bool m_photoSpeedRed = false;
};

// Items of the label-rule combos, in order (the trailing blanks belong to the values).
QStringList labelTextLengthModes();
QStringList labelTextTypes();
// Index of the stored text among a combo's items; -1 (no selection) when it is not there.
int comboIndexOfStoredText(const QStringList& items, const QString& stored);

// Items of the motor current combos; the stored value is the item index.
QStringList motorCurrentItems();

// The ring light's port name from the page: a device path when one is typed (a USB device such
// as /dev/ttyACM0 that no COM number reaches), otherwise "COM" + the spin value.
QString ringLightPortName(int comNumber, const QString& devicePath);
// The page's fields for a stored port name: the COM number (8 when the name has another form)
// and the device path (empty for a "COMn" name).
struct RingLightPortFields {
    int comNumber = 8;
    QString devicePath;
    bool operator==(const RingLightPortFields&) const = default;
};
RingLightPortFields ringLightPortFields(const QString& stored);

} // namespace lapido
