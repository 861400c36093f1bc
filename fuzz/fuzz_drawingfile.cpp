// Fuzz target: the drawing-file reader on arbitrary text, then outline and painting.
#include "geometry/cadonpaintbox.h"
#include "platform/inifile.h"

#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    lapido::IniFile ini;
    ini.loadFromText(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    lapido::TCADOnPaintBox drawing;
    if (!drawing.loadFromIni(ini))
        return 0;
    double width = 0;
    drawing.GetOutLine(width);
    drawing.renderImage(QSize(64, 48));
    return 0;
}
