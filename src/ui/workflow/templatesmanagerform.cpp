// The templates manager window: a check list of template files, the snapshot of the one
// clicked, and Import / Close / Delete through the manager model.
#include "ui/workflow/templatesmanagerform.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace lapido {

TFTemplatesManagerForm::TFTemplatesManagerForm(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Templates Manager"));
    setModal(true);
    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    CheckListBoxTemplates = new QListWidget(this);
    left->addWidget(CheckListBoxTemplates, 1);
    auto* buttons = new QHBoxLayout;
    BitBtnImport = new QPushButton(QStringLiteral("Import"), this);
    BitBtnClose = new QPushButton(QStringLiteral("Close"), this);
    BitBtnDelete = new QPushButton(QStringLiteral("Delete"), this);
    for (QPushButton* b : {BitBtnImport, BitBtnClose, BitBtnDelete}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    left->addLayout(buttons);
    layout->addLayout(left);

    GroupBoxPreview = new QGroupBox(QStringLiteral("Template Veiw"), this);
    auto* previewLayout = new QVBoxLayout(GroupBoxPreview);
    ImagePreview = new QLabel(GroupBoxPreview);
    ImagePreview->setMinimumSize(320, 240);
    ImagePreview->setAlignment(Qt::AlignCenter);
    previewLayout->addWidget(ImagePreview);
    layout->addWidget(GroupBoxPreview, 1);

    TimerChecks = new QTimer(this);
    TimerChecks->setInterval(200);

    connect(CheckListBoxTemplates, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        m_manager.setChecked(CheckListBoxTemplates->row(item), item->checkState() == Qt::Checked);
    });
    connect(CheckListBoxTemplates, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { showPreview(CheckListBoxTemplates->row(item)); });
    connect(TimerChecks, &QTimer::timeout, this, [this] {
        const bool any = m_manager.actionsEnabled();
        BitBtnDelete->setEnabled(any);
        BitBtnImport->setEnabled(any);
    });
    connect(BitBtnImport, &QPushButton::clicked, this, &TFTemplatesManagerForm::BitBtnImportClick);
    connect(BitBtnClose, &QPushButton::clicked, this, &TFTemplatesManagerForm::BitBtnCloseClick);
    connect(BitBtnDelete, &QPushButton::clicked, this, &TFTemplatesManagerForm::BitBtnDeleteClick);
}

QStringList TFTemplatesManagerForm::ShowManager(const QString& WorkingDirPath, const QStringList& templateFiles)
{
    m_manager.SetTemplatesList(templateFiles);
    m_manager.ShowManager(WorkingDirPath);
    fillList();
    BitBtnDelete->setEnabled(false);
    BitBtnImport->setEnabled(false);
    ImagePreview->clear();
    TimerChecks->start();
    exec();
    TimerChecks->stop();
    return m_manager.GetOpenTemplatesNames();
}

void TFTemplatesManagerForm::fillList()
{
    const QSignalBlocker block(CheckListBoxTemplates);
    CheckListBoxTemplates->clear();
    const QStringList names = m_manager.items();
    for (int i = 0; i < names.size(); ++i) {
        auto* item = new QListWidgetItem(names[i], CheckListBoxTemplates);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(m_manager.isChecked(i) ? Qt::Checked : Qt::Unchecked);
    }
}

void TFTemplatesManagerForm::showPreview(int row)
{
    // A missing or unreadable snapshot leaves the preview empty.
    const QImage image(m_manager.previewPath(row));
    if (image.isNull()) {
        ImagePreview->clear();
        return;
    }
    ImagePreview->setPixmap(QPixmap::fromImage(
        image.scaled(ImagePreview->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void TFTemplatesManagerForm::BitBtnImportClick()
{
    m_manager.Import();
    accept();
}

void TFTemplatesManagerForm::BitBtnCloseClick()
{
    m_manager.Close();
    CheckListBoxTemplates->clear();
    reject();
}

void TFTemplatesManagerForm::BitBtnDeleteClick()
{
    if (!m_manager.Delete())
        return;
    fillList();
    ImagePreview->clear();
}

void TFTemplatesManagerForm::reject()
{
    // Closing by the frame (or Escape) imports the checked names, as "Import" does; after
    // "Close" the list is already empty.
    if (m_manager.isActivated())
        m_manager.Import();
    QDialog::reject();
}

} // namespace lapido
