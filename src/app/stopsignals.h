// StopSignals: SIGTERM, SIGINT and SIGHUP end the station through its own safe shutdown.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace lapido {

// A signal handler may do almost nothing, so it only writes a byte to a pipe; the event
// loop reads it and emits stopRequested(), where the program switches the laser off and ends.
class StopSignals : public QObject {
    Q_OBJECT

public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested(int signalNumber);

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace lapido
