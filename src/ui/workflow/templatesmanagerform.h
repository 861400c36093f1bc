// The "Templates Manager" window over TFTemplatesManager: pick template files to import or delete.
#pragma once

#include "workflow/templatesmanager.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

namespace lapido {

class TFTemplatesManagerForm : public QDialog {
    Q_OBJECT
public:
    explicit TFTemplatesManagerForm(QWidget* parent = nullptr);

    TFTemplatesManager& manager() { return m_manager; }
    // Lists the template files, shows the window modally for the working folder and returns
    // the checked names to import (none after "Close").
    QStringList ShowManager(const QString& WorkingDirPath, const QStringList& templateFiles);
    QStringList GetOpenTemplatesNames() const { return m_manager.GetOpenTemplatesNames(); }
    bool isActivated() const { return m_manager.isActivated(); }

    QListWidget* CheckListBoxTemplates = nullptr;
    QGroupBox* GroupBoxPreview = nullptr;
    QLabel* ImagePreview = nullptr;
    QPushButton* BitBtnImport = nullptr;
    QPushButton* BitBtnClose = nullptr;
    QPushButton* BitBtnDelete = nullptr;
    QTimer* TimerChecks = nullptr;

    void reject() override;

private:
    void fillList();
    void showPreview(int row);
    void BitBtnImportClick();
    void BitBtnCloseClick();
    void BitBtnDeleteClick();

    TFTemplatesManager m_manager;
};

} // namespace lapido
