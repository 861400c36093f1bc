// The controller a command talks to: the address of one run and the channel opened at it.
#pragma once

#include "machine/galildmc.h"
#include "machine/galiltransport.h"
#include "machine/lasersource.h"
#include "platform/operatordialogs.h"

#include <QString>

#include <memory>

namespace lapido::cli {

// The address of this run: the one given with --address, else the stored "GalilIP" (read,
// never written). Empty means the link's own default.
QString controllerAddress(const QString& given);
// True when the address names the in-process simulated machine.
bool isSimulatorAddress(const QString& address);
// The address as the messages show it (the link's default spelt out).
QString addressText(const QString& address);
// The channel to the controller at the address, through the given link (the station's own link
// when none). A command-line run never changes the stored address.
std::unique_ptr<TDMC> openController(const QString& address, std::unique_ptr<GalilTransport> link = nullptr);

// The laser source the stored settings select, the station's one for as long as this lives.
class StoredLaserSource {
public:
    explicit StoredLaserSource(TSettings& settings);
    ~StoredLaserSource();
    StoredLaserSource(const StoredLaserSource&) = delete;
    StoredLaserSource& operator=(const StoredLaserSource&) = delete;

private:
    TLaserSource m_source;
};

// The machine's boxes and waits as lines on standard error ("[title] text"), questions taking
// their default, for as long as this lives.
class TerminalDialogs {
public:
    TerminalDialogs();
    ~TerminalDialogs();
    TerminalDialogs(const TerminalDialogs&) = delete;
    TerminalDialogs& operator=(const TerminalDialogs&) = delete;

private:
    ScriptedDialogs m_dialogs;
    OperatorDialogs* m_previous;
};

} // namespace lapido::cli
