// Fuzz target: a label file's bytes read into the label tree, as "Open" and the headless
// marking do. A label that was read is written out and read again: the second reading must
// give the same label (nothing of it lost or changed on the way).
#include "fuzzsupport.h"

#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "workflow/station.h"

using namespace lapido;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::environment();
    fuzz::resetBetweenInputs();
    TStation station;
    QString error;
    if (!station.XML2TreeFromBytes(fuzz::bytes(data, size), &error)) {
        fuzz::check(!error.isEmpty(), "a refused label gives no reason");
        return 0;
    }
    const QString written = station.Tree2XML();
    TStation again;
    fuzz::check(again.XML2Tree(written, &error), "a label written by the station is refused");
    fuzz::check(again.Tree2XML() == written, "a label changed on its way through its own text");
    return 0;
}
