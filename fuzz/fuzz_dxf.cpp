// Fuzz target: the DXF entities reader on arbitrary bytes.
#include "geometry/cadonpaintbox.h"
#include "platform/inifile.h"

#include <QBuffer>
#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QBuffer buffer;
    buffer.setData(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    buffer.open(QIODevice::ReadOnly);
    lapido::TCADOnPaintBox drawing;
    const lapido::DxfImportResult result = drawing.loadDxf(buffer);
    // Whatever was read must be usable: bounds, outline and the file writer.
    double width = 0;
    drawing.GetOutLine(width);
    lapido::IniFile ini;
    drawing.saveToIni(ini);
    (void)result;
    return 0;
}
