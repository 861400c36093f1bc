// TStation: teaching the girdle's curvature, the focus height along the label, moves to the
// label's ends and standby positions, go to start, reset and free holder, F10 to F12, and the
// circle-centre tool.
#include "workflow/station.h"

#include "glyphs/glyph.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/glyphphoto.h"
#include "glyphs/richstring.h"
#include "machine/laser.h"
#include "platform/debuglog.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"
#include "platform/stationglobals.h"
#include "records/loggingproxy.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "workflow/stationtexts.h"

#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <vector>

namespace lapido {

namespace {

bool resetAndFreeEnabled()
{
    return keys::read(keys::ResetAndFreeEnable) == 1;
}

} // namespace

// --- teaching -----------------------------------------------------------------------------------

void TStation::updateSetFocusEnabled()
{
    m_controls.setFocus = AIMState == TAIMState::aimsInspecting && Settings().UseZaxis
                          && std::abs(AxisPosition_X - MarkingReference_X) > GirdleHeight();
}

bool TStation::BitBtnFocusClick()
{
    if (AIMState == TAIMState::aimsMarking)
        return false;
    const double X = AxisPosition_X;
    const double Z = AxisPosition_Z;
    const double Xr = MarkingReference_X;
    const double Zr = MarkingReference_Z;
    LogDebug(QStringLiteral("Teach - focus clicked: axis position x [") + FloatToStr(X)
             + QStringLiteral("] marking reference x [") + FloatToStr(Xr) + QStringLiteral("]"));
    // A point the axes cannot reach describes no girdle: the curve through it would send the
    // focus far from the stone across the label.
    const TSettings& s = Settings();
    const auto within = [](double v, double low, double high) { return std::isfinite(v) && v >= low && v <= high; };
    if (!within(X, s.X_MinPos, s.X_MaxPos) || !within(Z, s.Z_MinPos, s.Z_MaxPos)) {
        const QString text = QStringLiteral("The focus point X %1 mm, Z %2 mm lies outside the travel of the axes "
                                            "(X %3 to %4 mm, Z %5 to %6 mm); it is not taught.")
                                 .arg(X)
                                 .arg(Z)
                                 .arg(s.X_MinPos)
                                 .arg(s.X_MaxPos)
                                 .arg(s.Z_MinPos)
                                 .arg(s.Z_MaxPos);
        LogDebug(text);
        operatorDialogs().error(text);
        return false;
    }
    if (X < Xr) {
        CuvatureLeft_X = X - Xr;
        CuvatureLeft_Z = Z - Zr;
        LogDebug(QStringLiteral("Teach - axis position x < marking reference x. Curvature left x [")
                 + FloatToStr(CuvatureLeft_X) + QStringLiteral("] curvature left z [") + FloatToStr(CuvatureLeft_Z)
                 + QStringLiteral("]"));
    } else if (X > Xr) {
        CuvatureRight_X = X - Xr;
        CuvatureRight_Z = Z - Zr;
        LogDebug(QStringLiteral("Teach - axis position x > marking reference x. Curvature right x [")
                 + FloatToStr(CuvatureRight_X) + QStringLiteral("] curvature right z [")
                 + FloatToStr(CuvatureRight_Z) + QStringLiteral("]"));
    }
    LogDebug("Teach focus clicked and computing focus curvature.");
    SetFocusCurvature();
    return true;
}

void TStation::SetFocusCurvature()
{
    const double Xr = MarkingReference_X;
    const double Zr = MarkingReference_Z;
    const double xl = CuvatureLeft_X, zl = CuvatureLeft_Z;
    const double xr = CuvatureRight_X, zr = CuvatureRight_Z;
    if (xl == 0 && xr == 0) {
        m_curvatureA = 0;
        m_curvatureB = 0;
        m_curvatureC = Zr;
    } else if (xl == 0) {
        m_curvatureA = 0;
        m_curvatureB = zr / xr;
        m_curvatureC = Zr - m_curvatureB * Xr;
    } else if (xr == 0) {
        m_curvatureA = 0;
        m_curvatureB = zl / xl;
        m_curvatureC = Zr - m_curvatureB * Xr;
    } else {
        // The parabola through the reference and both points, written in absolute X.
        const double e = xl * xr * (xr - xl);
        m_curvatureA = (xl * zr - xr * zl) / e;
        m_curvatureB = (zl * xr * xr - zr * xl * xl) / e - 2 * Xr * m_curvatureA;
        m_curvatureC = (Zr - m_curvatureA * Xr * Xr) - Xr * m_curvatureB;
    }
    LogDebug(QStringLiteral("Teach curvature: A ") + FloatToStr(m_curvatureA));
    LogDebug(QStringLiteral("Teach curvature: B ") + FloatToStr(m_curvatureB));
    LogDebug(QStringLiteral("Teach curvature: C ") + FloatToStr(m_curvatureC));
}

double TStation::GetFocusHeight(double X) const
{
    return m_curvatureA * X * X + m_curvatureB * X + m_curvatureC;
}

// --- positioning --------------------------------------------------------------------------------

void TStation::BitBtnGotoLabelLeftCenterOrRightClick(TLabelEnd which)
{
    if (!m_controls.focusLeftCenterRight)
        return;
    TLaser* laser = Laser();
    if (!laser)
        return;
    laser->Stop();
    TXYTransform XYTF;
    buildLabelTransform(XYTF);
    TCoord Pmin, PMax;
    GetMarkingExtends(XYTF, Pmin, PMax);
    const double Xr = MarkingReference_X;
    double x = Xr;
    switch (which) {
    case TLabelEnd::Left:
        LogDebug("Teach - left was clicked");
        LogDebug(QStringLiteral("Teach - curvature left x: ") + FloatToStr(CuvatureLeft_X));
        x = CuvatureLeft_X != 0 ? Xr + CuvatureLeft_X : std::min(Xr, Pmin.X);
        LogDebug(QStringLiteral("Teach - marking reference x + curvature left x: ") + FloatToStr(x));
        break;
    case TLabelEnd::Right:
        LogDebug("Teach - right was clicked. Note behavior might change in the future: right = mirror of left.");
        LogDebug(QStringLiteral("Teach - curvature rigth x: ") + FloatToStr(CuvatureRight_X));
        x = CuvatureRight_X != 0 ? Xr + CuvatureRight_X : std::max(Xr, PMax.X);
        LogDebug(QStringLiteral("Teach - marking reference x + curvature left x: ") + FloatToStr(x));
        break;
    case TLabelEnd::Center:
        LogDebug(QStringLiteral("Teach - marking reference x : ") + FloatToStr(x));
        break;
    }
    laser->WaitOnMotionComplete();
    const double z = GetFocusHeight(x);
    laser->MoveTo(x, MarkingReference_Y, z);
    LogDebug(QStringLiteral("Teach - laser moved to [") + FloatToStr(x) + QStringLiteral("] marking reference y [")
             + FloatToStr(MarkingReference_Y) + QStringLiteral("] focus height [") + FloatToStr(z) + QStringLiteral("]"));
}

void TStation::BitBtnGotoClick(int standby)
{
    if (!m_controls.gotoStandby || standby < 1 || standby > 3)
        return;
    TLaser* laser = Laser();
    if (!laser)
        return;
    const TSettings& s = Settings();
    struct Pos {
        double X, Y, Z, A;
    };
    const Pos positions[3] = {{s.Goto1_X, s.Goto1_Y, s.Goto1_Z, s.Goto1_A},
                              {s.Goto2_X, s.Goto2_Y, s.Goto2_Z, s.Goto2_A},
                              {s.Goto3_X, s.Goto3_Y, s.Goto3_Z, s.Goto3_A}};
    const Pos& p = positions[standby - 1];
    laser->Stop();
    laser->WaitOnMotionComplete();
    laser->MoveTo(p.X, p.Y, p.Z, p.A);
}

void TStation::BitBtnGoToStartClick()
{
    if (AIMState == TAIMState::aimsMarking)
        return;
    m_controls.gotoStandby = false;
    if (TLaser* laser = Laser())
        laser->MoveToBeforeMarkingPosition();
    m_controls.gotoStandby = true;
    m_controls.bitBtn3Visible = false;
    m_controls.bitBtnResetVisible = true;
    m_controls.speedButtonMark = true;
    GrabBarCodeFromRegistry();
    RemoveBarCodeFromRegistry();
    StartTFApplication();
    if (m_services.lightTemplate)
        m_services.lightTemplate(QStringLiteral("inspection"));
}

void TStation::BitBtnResetClick()
{
    if (AIMState == TAIMState::aimsMarking || !holderMayBeFreed())
        return;
    TTreeNode* selected = m_tree.Selected();
    if (m_controls.autoIncChecked && m_controls.autoIncEnabled && m_controls.bitBtnResetVisible && selected
        && selected->Data()) {
        selected->Data()->Increment();
        TreeViewGlyphsChange(selected);
    }
    const bool freeHolder = resetAndFreeEnabled();
    m_controls.bitBtn3Visible = freeHolder;
    m_controls.bitBtnResetVisible = !freeHolder;

    EditFloatChange(TEditBox::EditSlant, QStringLiteral("0.0"));
    SetAIMSState(TAIMState::aimsAligning);
    CuvatureLeft_X = CuvatureLeft_Z = CuvatureRight_X = CuvatureRight_Z = 0;

    DelMarking();

    m_controls.down = TSpeedButton::Align;
    SpeedButtonAIMClick(TSpeedButton::Align);
    m_controls.speedButtonMark = !freeHolder;

    if (TLaser* laser = Laser())
        laser->MoveToAfterMarkingPosition();
    MarkingAborted() = false;

    if (Settings().TargetLabelAfterF10) {
        for (TTreeNode* node : m_tree.Items())
            if (dynamic_cast<TGlyphRichString*>(node->Data())) {
                m_tree.setSelected(node);
                TreeViewGlyphsChange(node);
                QTextCursor cursor(&m_richEdit->document());
                cursor.select(QTextCursor::Document);
                m_richEdit->setTextCursor(cursor);
                break;
            }
    }

    if (m_services.lightTemplate)
        m_services.lightTemplate(QStringLiteral("holderfree"));
    TLoggingProxy::GetInstance().InsertTotalMachinePulses(QStringLiteral("TotalMachinePulses"),
                                                         QString::number(Settings().TotalPulseCount));
}

void TStation::DelMarking()
{
    const TSettings& s = Settings();
    std::vector<TGlyphRichString*> labels;
    for (TTreeNode* node : m_tree.Items()) {
        TGlyph* glyph = node->Data();
        if (!glyph)
            continue;
        glyph->ResetMarking();
        if (auto* label = dynamic_cast<TGlyphRichString*>(glyph))
            labels.push_back(label);
    }
    // Emptying a label rebuilds its run nodes, so the labels are collected first.
    if (s.DeleteLabelAfterF10)
        for (TGlyphRichString* label : labels) {
            if (m_glyphAutoInc == label)
                m_glyphAutoInc = nullptr;
            ClearRichEditDocument(m_richEdit->document());
            label->UpDate(m_richEdit.get(), label->RelativeSize, label->Offset, label->Spacing);
        }
    // Photos, then logos, then spaces, each kind only when its setting asks for it.
    const auto removeNodes = [this](bool enabled, auto isKind) {
        if (!enabled)
            return;
        std::vector<TTreeNode*> doomed;
        for (TTreeNode* node : m_tree.Items())
            if (node->Data() && isKind(node))
                doomed.push_back(node);
        for (TTreeNode* node : doomed) {
            if (m_glyphAutoInc == node->Data())
                m_glyphAutoInc = nullptr;
            m_tree.Delete(node);
        }
    };
    removeNodes(s.DeletePictureAfterF10, [](TTreeNode* n) { return dynamic_cast<TGlyphPhoto*>(n->Data()) != nullptr; });
    removeNodes(s.DeleteLogoAfterF10, [](TTreeNode* n) { return dynamic_cast<TGlyphLogo*>(n->Data()) != nullptr; });
    removeNodes(s.DeleteSpaceAfterF10, [](TTreeNode* n) { return dynamic_cast<TGlyphSpace*>(n->Data()) != nullptr; });
}

void TStation::F12Command()
{
    SetAIMSState(TAIMState::aimsAligning);
    m_controls.down = TSpeedButton::Align;
    SpeedButtonAIMClick(TSpeedButton::Align);
    if (Settings().DeleteZAZBZCAfterF12)
        CuvatureLeft_X = CuvatureLeft_Z = CuvatureRight_X = CuvatureRight_Z = 0;
}

void TStation::KeyF10()
{
    if (!m_controls.bitBtnReset)
        return;
    LogDebug("F10 clicked start");
    BitBtnResetClick();
    LogDebug("F10 clicked end");
}

void TStation::KeyF11()
{
    LogDebug("F11 clicked start");
    if (resetAndFreeEnabled())
        BitBtnGoToStartClick();
    LogDebug("F11 clicked end");
}

void TStation::KeyF12()
{
    LogDebug("F12 clicked start");
    if (m_controls.bitBtnReset)
        F12Command();
    LogDebug("F12 clicked end");
}

// --- circle-centre tool -------------------------------------------------------------------------

// The coordinate a circle button stands for, the centre included; null for none.
TCircleCoord* TStation::circleCoord(TCirclePoint point)
{
    switch (point) {
    case TCirclePoint::Left: return &m_circleLeft;
    case TCirclePoint::Right: return &m_circleRight;
    case TCirclePoint::Top: return &m_circleTop;
    case TCirclePoint::Bottom: return &m_circleBottom;
    case TCirclePoint::Center: return &m_circleCenter;
    case TCirclePoint::None: break;
    }
    return nullptr;
}

const TCircleCoord* TStation::circleCoord(TCirclePoint point) const
{
    return const_cast<TStation*>(this)->circleCoord(point);
}

void TStation::updateCircleTool()
{
    m_circleCenter.XIsSet = m_circleLeft.XIsSet && m_circleRight.XIsSet;
    m_circleCenter.X = m_circleCenter.XIsSet ? (m_circleLeft.X + m_circleRight.X) / 2 : 0;
    m_circleCenter.YIsSet = m_circleTop.YIsSet && m_circleBottom.YIsSet;
    m_circleCenter.Y = m_circleCenter.YIsSet ? (m_circleTop.Y + m_circleBottom.Y) / 2 : 0;

    const bool live = AIMState != TAIMState::aimsHoming && AIMState != TAIMState::aimsMarking;
    const TCirclePoint p = m_circleChecked;
    const TCircleCoord* target = circleCoord(p);
    const bool side = target && p != TCirclePoint::Center;
    const bool targetSet = target && (side ? target->XIsSet : target->XIsSet || target->YIsSet);
    m_controls.circleSet = side && live;
    m_controls.circleGoto = targetSet && live;
    m_controls.circleClear = p != TCirclePoint::None || m_circleLeft.XIsSet || m_circleRight.XIsSet
                             || m_circleTop.YIsSet || m_circleBottom.YIsSet;
}

void TStation::RadioButton_CircleClick(TCirclePoint point)
{
    m_circleChecked = point;
    updateCircleTool();
}

void TStation::ButtonSetCenterClick()
{
    // The centre is computed, never set.
    TCircleCoord* target = circleCoord(m_circleChecked);
    if (target && m_circleChecked != TCirclePoint::Center)
        *target = TCircleCoord{AxisPosition_X, AxisPosition_Y, true, true};
    updateCircleTool();
}

void TStation::BitBtn_CircleGotoClick()
{
    if (AIMState == TAIMState::aimsMarking)
        return;
    const TCircleCoord* point = circleCoord(m_circleChecked);
    double X = AxisPosition_X, Y = AxisPosition_Y;
    if (point) {
        if (point->XIsSet)
            X = point->X;
        if (point->YIsSet)
            Y = point->Y;
    }
    if (TLaser* laser = Laser())
        laser->MoveTo(X, Y);
}

void TStation::BitBtn_CircleClearClick()
{
    for (TCircleCoord* c : {&m_circleLeft, &m_circleRight, &m_circleTop, &m_circleBottom, &m_circleCenter})
        c->XIsSet = c->YIsSet = false;
    m_circleChecked = TCirclePoint::None;
    updateCircleTool();
}

QString TStation::circlePointText(TCirclePoint point) const
{
    const TCircleCoord* c = circleCoord(point);
    if (!c || point == TCirclePoint::Center)
        return {};
    if (!c->XIsSet && !c->YIsSet)
        return QStringLiteral("not set");
    const auto rounded = [](double v) { return FloatToStr(static_cast<double>(RoundHalfEven(v * 1000)) / 1000); };
    return rounded(c->X) + QStringLiteral(" , ") + rounded(c->Y);
}

QString TStation::circleCenterXText() const
{
    return m_circleCenter.XIsSet ? threeDecimals(m_circleCenter.X) : QString();
}

QString TStation::circleCenterYText() const
{
    return m_circleCenter.YIsSet ? threeDecimals(m_circleCenter.Y) : QString();
}

} // namespace lapido
