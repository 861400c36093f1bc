// The serial line to the ring light: a small interface, its QSerialPort implementation and the
// mapping of stored port names to Linux devices.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace lapido {

// One serial line, used from the user-interface thread without an event loop. Reads and
// writes wait in real time: the device on the other end runs in real time whatever clock
// the station uses.
class SerialLink {
public:
    virtual ~SerialLink() = default;

    // Opens the device (a path or a name QSerialPort understands). On failure the link stays
    // closed and the error text says why.
    virtual bool open(const QString& device, QString* error) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Queues the bytes and waits until they left or timeoutMs passed; false on a write error.
    virtual bool write(const QByteArray& bytes, int timeoutMs) = 0;
    // Up to maxBytes of what has arrived, waiting at most timeoutMs for the first byte.
    // Empty when nothing came in time; nullopt on a read error (device gone, port closed).
    virtual std::optional<QByteArray> read(int maxBytes, int timeoutMs) = 0;
    // Drops whatever arrived and was not read yet.
    virtual void discardInput() = 0;
};

// Line settings of the ring light: 9600 baud, RTS/CTS hardware handshake, 8 data bits, no
// parity, 1 stop bit.
std::unique_ptr<SerialLink> makeLightSerialLink();

// The one place where a stored port name becomes a Linux device:
//   "COMn" (any case, n >= 1)  -> "/dev/ttyUSB<n-1>" (USB serial adapters count from 0, COM ports from 1)
//   a path starting with "/"    -> unchanged (a udev symlink, /dev/ttyACM0, a pseudo-terminal)
//   anything else               -> unchanged, so that QSerialPort resolves a bare name under /dev
// An empty name stays empty (not configured).
QString serialDevicePath(const QString& portName);

// The number part of a "COMn" name (the settings page shows it in its spin box); nullopt when
// the name has another form.
std::optional<int> comPortNumber(const QString& portName);

} // namespace lapido
