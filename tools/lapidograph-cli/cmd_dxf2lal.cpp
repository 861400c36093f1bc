// lapidograph-cli dxf2lal: import the lines and arcs of an ASCII DXF file into a drawing file.
#include "cliio.h"
#include "commands.h"

#include "geometry/cadonpaintbox.h"

namespace lapido::cli {

int cmdDxf2Lal(const QStringList& args)
{
    if (args.size() != 2 || args.at(0).startsWith(QLatin1String("-")))
        return usageError(QStringLiteral("usage: dxf2lal IN.dxf OUT.lal"));
    TCADOnPaintBox drawing;
    const DxfImportResult result = drawing.LoadDXF(args.at(0));
    if (!result.ok) {
        // Nothing is written from a file that could not be read to its end.
        err(QStringLiteral("lapidograph-cli: %1 (%2 objects read before the error; nothing written)")
                .arg(result.error)
                .arg(result.objectsAdded));
        return 1;
    }
    // A drawing without objects would make a logo that marks nothing.
    if (result.objectsAdded == 0) {
        err(QStringLiteral("lapidograph-cli: \"%1\" holds no lines or arcs to import; nothing written").arg(args.at(0)));
        return 1;
    }
    QString error;
    if (!drawing.SaveToFile(args.at(1), &error)) {
        err(QStringLiteral("lapidograph-cli: cannot write \"%1\": %2").arg(args.at(1), error));
        return 1;
    }
    out(QStringLiteral("%1 objects written to %2").arg(result.objectsAdded).arg(args.at(1)));
    return 0;
}

} // namespace lapido::cli
