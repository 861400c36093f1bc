// TCustomFonts: fonts made of one drawing per digit, one folder per font under the working folder.
#include "glyphs/customfonts.h"

#include "geometry/cadonpaintbox.h"
#include "geometry/contours.h"
#include "platform/debuglog.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace lapido {

namespace {

const QString kCustomFontsFolder = QStringLiteral("CustomFontsFolder");

QString workingDir()
{
    const QString w = keys::read(keys::WorkingDir);
    if (!w.isEmpty())
        return w;
    // The folder the station takes when none is stored.
    return DefaultWorkingDir();
}

QString customFontsFolder()
{
    return workingDir() + kCustomFontsFolder;
}

QStringList listSubfolders(const QString& dir)
{
    QStringList names;
    QDirIterator it(dir, QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        names << it.fileName();
    }
    return names;
}

} // namespace

TCustomFonts::TCustomFonts()
    : m_workingDir(workingDir())
{
    const QString dir = folder();
    if (!QFileInfo(dir).isDir() && !QDir().mkpath(dir))
        LogDebug(QStringLiteral("Custom fonts folder cannot be created: %1").arg(dir));
}

QString TCustomFonts::folder() const
{
    return m_workingDir + kCustomFontsFolder;
}

void TCustomFonts::GetCustomFontNames(QStringList& listOfCustomFonts)
{
    listOfCustomFonts << listSubfolders(folder());
}

bool isCustomFont(const QString& fontName)
{
    return !customFontFolder(fontName).isEmpty();
}

// The folder name as the file system spells it (names compare without regard to case). The
// folder is listed at each look, so a font folder made a moment ago is found, and a look
// creates nothing.
QString customFontFolder(const QString& fontName)
{
    if (fontName.isEmpty())
        return {};
    const QString fonts = customFontsFolder();
    for (const QString& n : listSubfolders(fonts))
        if (n.compare(fontName, Qt::CaseInsensitive) == 0)
            return fonts + QLatin1Char('/') + n;
    return {};
}

std::unique_ptr<TContourList> customDigitOutline(const QString& fontFolder, char16_t digit, double& CellIncX)
{
    const QString file = fontFolder + QLatin1Char('/') + QChar(digit) + QStringLiteral(".lal");
    TCADOnPaintBox drawing;
    if (!drawing.LoadFromFile(file))
        LogDebug(QStringLiteral("Custom font drawing cannot be read: %1").arg(file));
    // An empty drawing has no width: the advance stays as it was.
    double width = CellIncX;
    auto contours = std::make_unique<TContourList>(drawing.GetOutLine(width));
    if (!contours->isEmpty())
        CellIncX = width;
    return contours;
}

} // namespace lapido
