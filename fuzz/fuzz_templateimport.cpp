// Fuzz target: a template file found in the templates folder, imported (byte-wise ASCII) and
// selected, which loads it as the current label.
#include "fuzzsupport.h"

#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "workflow/station.h"
#include "workflow/templatelist.h"

#include <QDir>

using namespace lapido;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fuzz::Environment& env = fuzz::environment();
    fuzz::resetBetweenInputs();
    TStation station;
    TTemplateList& templates = station.Templates();
    const QString folder = templates.filesDir();
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    fuzz::check(folder.startsWith(env.folder), "the templates folder is outside the private folder");
    QFile file(folder + QStringLiteral("imported.xml"));
    const QByteArray content = fuzz::bytes(data, size);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        fuzz::fail("cannot write the template file");
    file.close();

    const int before = templates.Count();
    station.BitBtnLoadTemplateClick({QStringLiteral("imported")});
    fuzz::check(templates.Count() == before + 1, "a readable template file was not imported");
    const QString text = templates.GetTemplate(before);
    fuzz::check(text.size() == content.size(), "the imported text is not one character per byte");
    for (qsizetype i = 0; i < text.size(); ++i)
        fuzz::check(text[i].unicode() < 128, "the imported text holds a character above ASCII");
    station.ComboBoxTemplatesChange(before);
    return 0;
}
