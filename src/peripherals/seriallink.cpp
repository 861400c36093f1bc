// QSerialPort implementation of the serial link and the port-name mapping.
#include "peripherals/seriallink.h"

#include <QRegularExpression>
#include <QSerialPort>

namespace lapido {

namespace {

class QtSerialLink final : public SerialLink {
public:
    bool open(const QString& device, QString* error) override
    {
        close();
        m_port.setPortName(device);
        m_port.setBaudRate(QSerialPort::Baud9600);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        m_port.setFlowControl(QSerialPort::HardwareControl);
        if (!m_port.open(QIODevice::ReadWrite)) {
            if (error)
                *error = m_port.errorString();
            return false;
        }
        return true;
    }

    void close() override
    {
        if (m_port.isOpen())
            m_port.close();
        m_port.clearError();
    }

    bool isOpen() const override { return m_port.isOpen(); }

    bool write(const QByteArray& bytes, int timeoutMs) override
    {
        if (!m_port.isOpen())
            return false;
        if (m_port.write(bytes) != bytes.size())
            return false;
        // Without an event loop the bytes only leave Qt's buffer inside this wait.
        while (m_port.bytesToWrite() > 0)
            if (!m_port.waitForBytesWritten(timeoutMs))
                return false;
        return true;
    }

    std::optional<QByteArray> read(int maxBytes, int timeoutMs) override
    {
        if (!m_port.isOpen())
            return std::nullopt;
        if (m_port.bytesAvailable() == 0 && !m_port.waitForReadyRead(timeoutMs)) {
            if (m_port.error() == QSerialPort::TimeoutError) {
                m_port.clearError();
                return QByteArray();
            }
            if (m_port.error() != QSerialPort::NoError)
                return std::nullopt;
            return QByteArray();
        }
        const QByteArray piece = m_port.read(maxBytes);
        if (m_port.error() != QSerialPort::NoError && m_port.error() != QSerialPort::TimeoutError)
            return std::nullopt;
        return piece;
    }

    void discardInput() override
    {
        if (!m_port.isOpen())
            return;
        // Bytes still in the kernel's queue are fetched first so that clear() drops them too;
        // bounded, because a device that never stops talking would keep this loop going.
        for (int i = 0; i < 16 && m_port.waitForReadyRead(0); ++i) {
        }
        m_port.clearError();
        m_port.clear(QSerialPort::Input);
        m_port.readAll();
    }

private:
    QSerialPort m_port;
};

const QRegularExpression& comPattern()
{
    static const QRegularExpression re(QStringLiteral("^COM(\\d{1,3})$"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}

} // namespace

std::unique_ptr<SerialLink> makeLightSerialLink()
{
    return std::make_unique<QtSerialLink>();
}

std::optional<int> comPortNumber(const QString& portName)
{
    const auto m = comPattern().match(portName.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    return m.captured(1).toInt();
}

QString serialDevicePath(const QString& portName)
{
    const QString name = portName.trimmed();
    if (const auto n = comPortNumber(name); n && *n >= 1)
        return QStringLiteral("/dev/ttyUSB%1").arg(*n - 1);
    return name;
}

} // namespace lapido
