// A page of the settings window over one section of the store that the settings record does not
// hold ("Inspection", "Simulator"): a box per number, red while its text is refused, stored
// when the window's OK goes through.
#pragma once

#include "settings/sectionnumbers.h"

#include <QWidget>

class QCheckBox;
class QDialog;
class QLineEdit;
class QSpinBox;

namespace lapido {

class SectionPage : public QWidget {
    Q_OBJECT
public:
    SectionPage(const SectionFields& fields, QWidget* parent);

    // Each refused box as "KEY \"TEXT\": REASON"; empty when all are taken.
    QStringList refusals() const;
    // The first refused box (null when none), for the operator to go on with.
    QLineEdit* firstRefused() const;
    // Stores every box; call only without refusals.
    void store() const;
    // Shows what the store holds.
    void load();

private:
    void recheck(QLineEdit* edit, const SectionNumber& field);

    const SectionFields& m_fields;
    std::vector<QLineEdit*> m_numbers;
    std::vector<QSpinBox*> m_counts;
    std::vector<QCheckBox*> m_flags;
};

} // namespace lapido
