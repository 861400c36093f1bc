// A station on the simulated machine whose label is planned by the marking rehearsal, marked by
// the laser's fault model and filmed by the simulated camera with known optics, then inspected.
#pragma once

#include "markingfixture.h"

#include "camera/inspectionpicture.h"
#include "inspection/inspection.h"
#include "sim/lasermarkfaults.h"
#include "workflow/markingpreview.h"

namespace lapido::test {

struct InspectedShot {
    TMarkingPreview preview;
    InspectionPlan plan;
    std::vector<LaserMark> marks; // as the faulty laser left them
    QImage picture;
    InspectionResult result;
};

class InspectionFixture : public MarkingFixture {
protected:
    static constexpr double kRefX = 15, kRefY = 12.5;

    // A formatted label of one run in the font, its characters heightMm high.
    TTreeNode* addText(const QString& font, const QString& text, double heightMm)
    {
        setGirdleHeight(heightMm / 0.8);
        TLabelTree& tree = st().TreeViewGlyphs();
        TTreeNode* node = tree.Add(QStringLiteral("Label"));
        auto& rich = TGlyph::CreateFor<TGlyphRichString>(&tree, node, nullptr, 0.8, 0.0, 0.1);
        rich.RichString->Add(text, font, TFontStyles());
        rich.UpDate(nullptr, 0.8, 0.0, 0.1);
        return node;
    }

    // Teaches a curved girdle: the focus 50 µm lower 1 mm either side of the reference.
    void teachCurvedGirdle()
    {
        for (const double x : {kRefX - 1, kRefX + 1}) {
            st().AxisPosition_X = x;
            st().AxisPosition_Z = 12.45;
            st().BitBtnFocusClick();
        }
        st().AxisPosition_X = kRefX;
        st().AxisPosition_Z = 12.5;
    }

    InspectedShot shoot(const LaserMarkFaults& faults = {}, double defocus = 1, std::uint32_t seed = 1)
    {
        InspectedShot shot;
        shot.preview = st().PreviewMarking();
        shot.plan = st().InspectionPlanOf(shot.preview);
        LaserMarkFaultModel model(faults);
        shot.marks = model.apply(shot.preview.marks);
        SimulatedInspectionCamera camera;
        camera.sensor = camera.picture; // the frame is the station's picture: one filming less
        camera.defocus = defocus;
        camera.noiseSeed = seed;
        shot.picture = simulatedInspectionPicture(Settings(), TCoord{kRefX, kRefY}, kRefY, shot.marks, camera);
        const InspectionView view = InspectionView::fromSettings(Settings(), shot.picture.size(), TCoord{kRefX, kRefY});
        shot.result = m_inspector.inspect(shot.plan, shot.picture, view, InspectionLimits::fromStore(Settings()));
        return shot;
    }

    // The pulses of the n-th glyph that marks (from 1), as the plan numbers them.
    static LaserMarkFaults::Range glyphPulses(const TMarkingPreview& preview, int n)
    {
        int k = 0;
        for (const TMarkingPreview::Glyph& g : preview.glyphs)
            if (g.count > 0 && ++k == n)
                return {g.first, g.count};
        return {};
    }

    Inspector m_inspector;
};

} // namespace lapido::test
