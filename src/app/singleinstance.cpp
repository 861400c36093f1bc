// SingleInstance: the shared block, its count, and the local socket that raises the first window.
#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>

#include <algorithm>
#include <cstring>

namespace lapido {

namespace {

// How long a later start waits for the first instance to answer before it counts the block
// as left behind.
constexpr int kConnectTimeoutMs = 1000;
const QByteArray kRaise = QByteArrayLiteral("raise\n");

} // namespace

SingleInstance::SingleInstance(QString key, QObject* parent)
    : QObject(parent), m_key(std::move(key)), m_memory(m_key)
{
}

SingleInstance::~SingleInstance()
{
    release();
}

QString SingleInstance::serverName(std::uint32_t identity) const
{
    return m_key + QLatin1Char('-') + QString::number(identity);
}

SingleInstance::Outcome SingleInstance::claim()
{
    static_assert(sizeof(Block) == 8);
    if (!m_memory.create(sizeof(Block)) && !(m_memory.error() == QSharedMemory::AlreadyExists && m_memory.attach())) {
        m_error = m_memory.errorString();
        return Outcome::BlockFailed;
    }
    const auto me = static_cast<std::uint32_t>(QCoreApplication::applicationPid());
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!m_memory.lock()) {
            m_error = m_memory.errorString();
            return Outcome::BlockFailed;
        }
        Block block{};
        std::memcpy(&block, m_memory.constData(), sizeof block);
        if (block.count < kAllowedInstances) {
            block.identity = me;
            block.count = std::max(block.count, 0) + 1;
            std::memcpy(m_memory.data(), &block, sizeof block);
            m_memory.unlock();
            m_registered = true;
            listen();
            return Outcome::First;
        }
        m_memory.unlock();
        // Asked outside the lock: the first instance may be starting and need the block.
        if (askFirstToRaise(block.identity))
            return Outcome::HandedOver;
        // No one answers under that identity: the block outlived its station. Reset the
        // count (only if no one else changed the block meanwhile) and try once more.
        if (!m_memory.lock()) {
            m_error = m_memory.errorString();
            return Outcome::BlockFailed;
        }
        Block now{};
        std::memcpy(&now, m_memory.constData(), sizeof now);
        if (now.identity == block.identity && now.count == block.count) {
            now = Block{me, 0};
            std::memcpy(m_memory.data(), &now, sizeof now);
        }
        m_memory.unlock();
    }
    // Another start took the block over between our looks at it; it is the station now.
    const Block* block = static_cast<const Block*>(m_memory.constData());
    return askFirstToRaise(block->identity) ? Outcome::HandedOver : Outcome::BlockFailed;
}

bool SingleInstance::listen()
{
    const QString name = serverName(static_cast<std::uint32_t>(QCoreApplication::applicationPid()));
    m_server = new QLocalServer(this);
    // A socket file left by a crashed process of the same id would refuse the name.
    QLocalServer::removeServer(name);
    if (!m_server->listen(name))
        return false;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains(kRaise.trimmed()))
                    emit raiseRequested();
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}

bool SingleInstance::askFirstToRaise(std::uint32_t identity) const
{
    QLocalSocket socket;
    socket.connectToServer(serverName(identity));
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return false;
    socket.write(kRaise);
    socket.waitForBytesWritten(kConnectTimeoutMs);
    // The first instance closes the link once it has read the request.
    socket.waitForDisconnected(kConnectTimeoutMs);
    return true;
}

void SingleInstance::release()
{
    if (m_server) {
        m_server->close();
        m_server = nullptr;
    }
    if (m_registered && m_memory.lock()) {
        auto* block = static_cast<Block*>(m_memory.data());
        block->count = std::max(block->count - 1, 0);
        m_memory.unlock();
        m_registered = false;
    }
    if (m_memory.isAttached())
        m_memory.detach();
}

} // namespace lapido
