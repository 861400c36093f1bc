// SingleInstance: one station per computer; a second start hands over to the first and ends.
#pragma once

#include <QObject>
#include <QSharedMemory>
#include <QString>

#include <cstdint>
#include <memory>

class QLocalServer;

namespace lapido {

// The block "LapidographLaserMarkingSystem" holds 8 bytes: the identity of the first
// instance (its process id, 32 bits) and the number of running instances (32 bits). The
// first instance listens on a local socket named after its identity; a later start finds the
// count at the limit, asks the first instance to come to the front and ends.
//
// A block left behind by a station that died without unregistering (the count still 1, no
// one listening) is taken over instead of locking the station out for good.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kBlockName = "LapidographLaserMarkingSystem";
    static constexpr int kAllowedInstances = 1;

    enum class Outcome {
        First,        // registered: go on and start the station
        HandedOver,   // another instance runs and was asked to come forward: end now
        BlockFailed,  // the block could not be created or opened: error() says why
    };

    // key: the block's name (tests use their own so that they never meet a running station).
    explicit SingleInstance(QString key = QString::fromLatin1(kBlockName), QObject* parent = nullptr);
    ~SingleInstance() override;

    Outcome claim();
    QString error() const { return m_error; }
    // Name of the local socket of the instance with that identity.
    QString serverName(std::uint32_t identity) const;

signals:
    // A later start asked this instance to come to the front.
    void raiseRequested();

private:
    struct Block {
        std::uint32_t identity;
        std::int32_t count;
    };
    bool listen();
    bool askFirstToRaise(std::uint32_t identity) const;
    void release();

    QString m_key;
    QSharedMemory m_memory;
    QLocalServer* m_server = nullptr;
    bool m_registered = false;
    QString m_error;
};

} // namespace lapido
