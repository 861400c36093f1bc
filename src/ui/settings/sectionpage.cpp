// A settings page over one section of the store: number boxes checked as they are typed.
#include "ui/settings/sectionpage.h"

#include "platform/settingsstore.h"

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace lapido {

namespace {

void setRed(QWidget* w, bool red)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Text, red ? QColor(Qt::red) : QApplication::palette(w).color(QPalette::Text));
    w->setPalette(p);
}

} // namespace

SectionPage::SectionPage(const SectionFields& fields, QWidget* parent) : QWidget(parent), m_fields(fields)
{
    setObjectName(QStringLiteral("Page") + QString::fromLatin1(fields.section));
    auto* form = new QFormLayout(this);
    // Boxes at their own width, as on the other pages.
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    for (const SectionNumber& f : fields.numbers) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("Edit") + QString::fromLatin1(f.key.section) + QString::fromLatin1(f.key.name));
        edit->setMaximumWidth(90);
        edit->setToolTip(tr("From %1 to %2").arg(f.low).arg(f.high));
        connect(edit, &QLineEdit::textChanged, this, [this, edit, &f] { recheck(edit, f); });
        auto* row = new QHBoxLayout;
        row->addWidget(edit);
        row->addWidget(new QLabel(tr(f.unit), this));
        row->addStretch(1);
        form->addRow(tr(f.caption), row);
        m_numbers.push_back(edit);
    }
    for (const SectionCount& f : fields.counts) {
        auto* spin = new QSpinBox(this);
        spin->setObjectName(QStringLiteral("SpinEdit") + QString::fromLatin1(f.key.section) + QString::fromLatin1(f.key.name));
        spin->setRange(f.low, f.high);
        form->addRow(tr(f.caption), spin);
        m_counts.push_back(spin);
    }
    for (const SectionFlag& f : fields.flags) {
        auto* check = new QCheckBox(tr(f.caption), this);
        check->setObjectName(QStringLiteral("CheckBox") + QString::fromLatin1(f.key.section) + QString::fromLatin1(f.key.name));
        form->addRow(check);
        m_flags.push_back(check);
    }
    load();
}

void SectionPage::recheck(QLineEdit* edit, const SectionNumber& field)
{
    const SectionNumberCheck c = checkSectionNumber(field, edit->text());
    setRed(edit, !c.value);
    edit->setToolTip(c.value ? tr("From %1 to %2").arg(field.low).arg(field.high) : c.refusal);
}

void SectionPage::load()
{
    for (size_t i = 0; i < m_numbers.size(); ++i) {
        QString text;
        try {
            text = keys::read(m_fields.numbers[i].key);
        } catch (const SettingsStoreError&) {
            text = QString::fromLatin1(m_fields.numbers[i].key.defaultValue);
        }
        m_numbers[i]->setText(text);
    }
    for (size_t i = 0; i < m_counts.size(); ++i) {
        try {
            m_counts[i]->setValue(keys::read(m_fields.counts[i].key));
        } catch (const SettingsStoreError&) {
            m_counts[i]->setValue(m_fields.counts[i].key.defaultValue);
        }
    }
    for (size_t i = 0; i < m_flags.size(); ++i) {
        try {
            m_flags[i]->setChecked(keys::read(m_fields.flags[i].key));
        } catch (const SettingsStoreError&) {
            m_flags[i]->setChecked(m_fields.flags[i].key.defaultValue);
        }
    }
}

QStringList SectionPage::refusals() const
{
    QStringList lines;
    for (size_t i = 0; i < m_numbers.size(); ++i) {
        const SectionNumber& f = m_fields.numbers[i];
        const SectionNumberCheck c = checkSectionNumber(f, m_numbers[i]->text());
        if (!c.value)
            lines << QStringLiteral("%1 \"%2\": %3").arg(QString::fromLatin1(f.key.name), m_numbers[i]->text(), c.refusal);
    }
    return lines;
}

QLineEdit* SectionPage::firstRefused() const
{
    for (size_t i = 0; i < m_numbers.size(); ++i)
        if (!checkSectionNumber(m_fields.numbers[i], m_numbers[i]->text()).value)
            return m_numbers[i];
    return nullptr;
}

void SectionPage::store() const
{
    for (size_t i = 0; i < m_numbers.size(); ++i)
        keys::write(m_fields.numbers[i].key, m_numbers[i]->text().trimmed());
    for (size_t i = 0; i < m_counts.size(); ++i)
        keys::write(m_fields.counts[i].key, m_counts[i]->value());
    for (size_t i = 0; i < m_flags.size(); ++i)
        keys::write(m_fields.flags[i].key, m_flags[i]->isChecked());
}

} // namespace lapido
