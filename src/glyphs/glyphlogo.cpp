// Logos: outline glyphs whose outline comes from a drawing file.
#include "glyphs/glyphoutline.h"

#include "geometry/cadonpaintbox.h"

#include <QFileInfo>

namespace lapido {

// --- TGlyphLogo ---------------------------------------------------------------------------

TGlyphLogo::TGlyphLogo(TLabelTree* ATreeView, TTreeNode* ATreeNode, const QString& AFileName, double AHeight,
                       double AOffset)
    : TGlyphOutLine(ATreeView, ATreeNode)
{
    UpDate(AFileName, AHeight, AOffset);
}

void TGlyphLogo::UpDate(const QString& AFileName, double AHeight, double AOffset)
{
    RelativeSize = AHeight;
    Offset = AOffset;
    touch();
    if (AFileName == FileName)
        return;
    ResetMarking();
    FileName = AFileName;
    const QString base = QFileInfo(FileName).completeBaseName();
    setCaption(base.isEmpty() ? QStringLiteral("Logo") : QStringLiteral("Logo \"") + base + QStringLiteral("\""));
    TCADOnPaintBox drawing;
    double width = 0;
    LoadError.clear();
    if (FileName.isEmpty())
        LoadError = QStringLiteral("it names no drawing file");
    if (LoadError.isEmpty() && drawing.LoadFromFile(FileName, &LoadError)) {
        ContourList = std::make_shared<TContourList>(drawing.GetOutLine(width));
    } else {
        // A missing or unreadable drawing leaves an empty logo that takes no room; the label
        // stays usable for editing but is not marked.
        ContourList = std::make_shared<TContourList>();
    }
    UnitWidth = width;
}

QString TGlyphLogo::MarkingProblem() const
{
    if (!LoadError.isEmpty())
        return LoadError;
    // A drawing without a line or arc to mark (none at all, or only objects the marking skips)
    // would leave nothing of the logo on the stone.
    if (!ContourList || ContourList->isEmpty())
        return QStringLiteral("its drawing \"%1\" holds nothing to mark").arg(QFileInfo(FileName).fileName());
    if (QString problem = heightProblem(RelativeSize); !problem.isEmpty())
        return problem;
    return resolutionProblem(RelativeSize);
}

} // namespace lapido
