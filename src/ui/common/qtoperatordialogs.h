// QtOperatorDialogs: the operator's questions, messages, file choices and waits as Qt windows.
#pragma once

#include "platform/operatordialogs.h"

#include <QPointer>

#include <memory>
#include <span>
#include <vector>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace lapido {

class TfrmMessage;
class TfrmWait;

// Message boxes of the four kinds (the custom kind has no icon) with the buttons the caller
// names, captions relabelled where given; the input box; file and folder dialogs; the wait
// window; the non-modal "Marking problem" window. The program installs one with
// setOperatorDialogs() once its windows exist.
class QtOperatorDialogs final : public OperatorDialogs {
public:
    explicit QtOperatorDialogs(QWidget* parent = nullptr);
    ~QtOperatorDialogs() override;

    // The windows of the program that show waits and marking problems; without them the
    // dialogs make their own.
    void setWaitWindow(TfrmWait* wait);
    void setMessageWindow(TfrmMessage* message);
    // Parent of the boxes (the main window once it exists).
    void setParent(QWidget* parent) { m_parent = parent; }

    DialogResult message(DialogKind kind, const QString& title, const QString& text,
                         std::span<const DialogButton> buttons) override;
    void notice(const QString& title, const QString& text) override;
    std::optional<QString> input(const QString& title, const QString& prompt,
                                 const QString& initial) override;
    std::optional<QString> chooseOpenFile(const QString& title, const QString& folder,
                                          const QString& filter) override;
    std::optional<QString> chooseSaveFile(const QString& title, const QString& folder,
                                          const QString& filter) override;
    std::optional<QString> chooseSaveFileAskedByCaller(const QString& title, const QString& folder,
                                                       const QString& filter) override;
    std::optional<QString> chooseFolder(const QString& title, const QString& folder) override;
    std::unique_ptr<WaitDialog> beginWait(const QString& title, const QString& text,
                                          const QString& detail) override;

    // The box message() runs, with the result of each of its buttons (tests look at it).
    struct Box {
        std::unique_ptr<QMessageBox> box;
        std::vector<std::pair<QObject*, DialogResult>> results;
    };
    static Box buildMessageBox(DialogKind kind, const QString& title, const QString& text,
                               std::span<const DialogButton> buttons, QWidget* parent);
    // A filter as the station writes it ("Bitmaps|*.bmp|All|*.*") in Qt's form
    // ("Bitmaps (*.bmp);;All (*.*)"); a filter already in Qt's form is kept.
    static QString qtFilter(const QString& filter);
    // The file dialog every choice runs: Qt's own, naming files by their names only (it never
    // opens a file it lists, so that browsing the settings store's folder leaves the store's
    // locks alone). Tests look at it.
    enum class FileChoice { Open, Save, SaveAskedByCaller, Folder };
    static std::unique_ptr<QFileDialog> fileDialog(QWidget* parent, FileChoice choice, const QString& title,
                                                   const QString& folder, const QString& filter);

private:
    std::optional<QString> runFileDialog(FileChoice choice, const QString& title, const QString& folder,
                                         const QString& filter);

    QPointer<QWidget> m_parent;
    QPointer<TfrmWait> m_wait;
    QPointer<TfrmMessage> m_message;
    std::unique_ptr<TfrmMessage> m_ownMessage;
};

} // namespace lapido
