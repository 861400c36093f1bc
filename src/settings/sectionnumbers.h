// The stored numbers of sections "Inspection" and "Simulator" as the settings window edits
// them: which keys, their captions and units, the range each reader of them takes, and whether
// a text typed for one is taken.
#pragma once

#include "settings/settingskeys.h"

#include <QString>

#include <optional>
#include <vector>

namespace lapido {

// A decimal number stored as text (with a point).
struct SectionNumber {
    keys::TextKey key;
    const char* caption;
    const char* unit;
    double low;
    double high;
};

// A whole number.
struct SectionCount {
    keys::IntKey key;
    const char* caption;
    int low;
    int high;
};

struct SectionFlag {
    keys::BoolKey key;
    const char* caption;
};

struct SectionFields {
    const char* section;
    std::vector<SectionNumber> numbers;
    std::vector<SectionCount> counts;
    std::vector<SectionFlag> flags;
};

// The thresholds of the inspection after every run.
const SectionFields& inspectionSectionFields();
// The simulated machine's faults, for the window's simulated runs.
const SectionFields& simulatorSectionFields();

// The number a text gives for the field, or why it is refused: a number written with a point
// (a comma is refused, as in every box of the settings), within the field's range.
struct SectionNumberCheck {
    std::optional<double> value;
    QString refusal;
};
SectionNumberCheck checkSectionNumber(const SectionNumber& field, const QString& text);

} // namespace lapido
