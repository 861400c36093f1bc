// Fuzz target: the ring light's replies. The input is what the light sends, handed over in
// pieces as a serial port does; the station identifies it, reads, rotates, sets and keeps
// the colours as with a real light. The end of the input is the device going away.
#include "fuzzsupport.h"

#include "peripherals/ledsrgb.h"

#include <algorithm>

using namespace lapido;

namespace {

class InputLink final : public SerialLink {
public:
    InputLink(QByteArray stream, int piece) : m_stream(std::move(stream)), m_piece(piece) {}
    bool open(const QString&, QString*) override { return m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool write(const QByteArray&, int) override { return m_open; }
    std::optional<QByteArray> read(int maxBytes, int) override
    {
        if (!m_open || m_at >= m_stream.size())
            return std::nullopt;
        const qsizetype n = std::min<qsizetype>({qsizetype(maxBytes), qsizetype(m_piece), m_stream.size() - m_at});
        const QByteArray piece = m_stream.mid(m_at, n);
        m_at += n;
        return piece;
    }
    // The light's answers follow one another in the input: nothing is dropped.
    void discardInput() override {}

private:
    QByteArray m_stream;
    int m_piece;
    qsizetype m_at = 0;
    bool m_open = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::environment();
    fuzz::resetBetweenInputs();
    if (size == 0)
        return 0;
    const int piece = 1 + data[0] % TLedsRGB::kReadPieceChars;
    const QByteArray stream = fuzz::bytes(data + 1, size - 1);

    TLedsRGB light([&] { return std::make_unique<InputLink>(stream, piece); });
    light.setPortOverride(QStringLiteral("COM1"));
    light.setReplyTimeoutMs(50);
    light.InitLedsLight();
    for (const QString& entry : light.GetLedsColor())
        parseLedEntry(entry);
    light.RotatePlus();
    light.RotateMoins();
    light.LoadLedsColor();
    light.ChangeLedColor(0, 255, 128, 0);
    light.ApplyLedsColor();

    // A colour list kept as a template comes back unchanged.
    const QStringList kept = light.GetLedsColor();
    if (!kept.isEmpty()) {
        light.SaveLedsTemplate(QStringLiteral("fuzz"));
        light.setLedsColors({});
        light.LoadLedsTemplate(QStringLiteral("fuzz"));
        fuzz::check(light.GetLedsColor() == kept, "a colour template did not come back as kept");
    }
    return 0;
}
