// TStation: the window's keyboard and mouse wheel, the picture drag, the debug panel's
// commands and the progress of the run under way.
#include "workflow/station.h"

#include "glyphs/glyph.h"
#include "glyphs/labeltree.h"
#include "machine/laser.h"
#include "platform/clock.h"
#include "platform/debuglog.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace lapido {

bool TStation::KeyDown(int key, Qt::KeyboardModifiers modifiers, TKeyFocus focus)
{
    const bool ctrl = modifiers.testFlag(Qt::ControlModifier);
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);

    // Ring light: Ctrl held with R down, then "*" or "-" of the numeric pad.
    if (key == Qt::Key_R) {
        m_ringLightKeyDown = ctrl;
        return false;
    }
    if (ctrl && m_ringLightKeyDown && keypad && (key == Qt::Key_Asterisk || key == Qt::Key_Minus)) {
        if (m_services.lightRotate)
            m_services.lightRotate(key == Qt::Key_Minus);
        return true;
    }

    const TKeyCommand command = RouteKey(key, modifiers, focus);
    if (command.action == TKeyAction::None)
        return false;

    // While marking, the label, the stone and the templates stay as they are: only Abort and
    // the view keys act.
    const bool marking = AIMState == TAIMState::aimsMarking;
    if (marking && command.action != TKeyAction::Abort && command.action != TKeyAction::Overlay
        && command.action != TKeyAction::Zoom && command.action != TKeyAction::Grid)
        return true;

    m_statusMessage.clear();
    switch (command.action) {
    case TKeyAction::Overlay: ShowOverlay = !ShowOverlay; break;
    case TKeyAction::Zoom: ZoomOut = !ZoomOut; break;
    case TKeyAction::Grid: ShowGrid = !ShowGrid; break;
    case TKeyAction::Engrave: KeyF9(); break;
    case TKeyAction::Abort: KeyEsc(); break;
    case TKeyAction::NextLabel: KeyF10(); break;
    case TKeyAction::GoToStart: KeyF11(); break;
    case TKeyAction::F12Command: KeyF12(); break;
    case TKeyAction::GirdleUp: SpinButtonSizeUpClick(); break;
    case TKeyAction::GirdleDown: SpinButtonSizeDownClick(); break;
    case TKeyAction::SlantUp: SpinButtonSlantUpClick(); break;
    case TKeyAction::SlantDown: SpinButtonSlantDownClick(); break;
    case TKeyAction::BindTemplateTemporary: BindTemplateTemporary(command.digit); break;
    case TKeyAction::BindTemplatePermanent: BindTemplatePermanent(command.digit); break;
    case TKeyAction::UseTemplateBinding: UseTemplateBinding(command.digit); break;
    case TKeyAction::Jog: KeyJog(command.axis, command.direction, command.factor); break;
    case TKeyAction::Undo: LabelUndo(); break;
    case TKeyAction::Redo: LabelRedo(); break;
    case TKeyAction::None: break;
    }
    return true;
}

void TStation::KeyUp(int key)
{
    if (key == Qt::Key_R)
        m_ringLightKeyDown = false;
}

bool TStation::MouseWheel(TWheelControl control, int direction, Qt::KeyboardModifiers modifiers)
{
    if (direction == 0)
        return false;
    const bool up = direction > 0;
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    const bool ctrl = modifiers.testFlag(Qt::ControlModifier);
    switch (control) {
    case TWheelControl::Girdle:
        if (m_controls.girdleAndSlant)
            up ? SpinButtonSizeUpClick() : SpinButtonSizeDownClick();
        return true;
    case TWheelControl::Slant:
        if (m_controls.girdleAndSlant)
            up ? SpinButtonSlantUpClick() : SpinButtonSlantDownClick();
        return true;
    case TWheelControl::JogX:
    case TWheelControl::JogY:
    case TWheelControl::JogZ:
        if (m_controls.down == TSpeedButton::Mark)
            return false;
        WheelJog(control == TWheelControl::JogX ? 'X' : (control == TWheelControl::JogY ? 'Y' : 'Z'), up ? 1 : -1,
                 shift, ctrl);
        return true;
    case TWheelControl::Video:
        if (!ctrl)
            return false;
        ZoomOut = up;
        return true;
    case TWheelControl::JogA:
    case TWheelControl::None:
        break;
    }
    return false;
}

void TStation::DragPicture(double fromX, double fromY, double toX, double toY)
{
    if (AIMState != TAIMState::aimsAligning && AIMState != TAIMState::aimsInspecting)
        return;
    TLaser* laser = Laser();
    if (!laser)
        return;
    // The stone follows the pointer: the picture point under it stays under it.
    const double dx = fromX - toX;
    const double dy = fromY - toY;
    if (std::abs(dx) > 0.0001)
        laser->IncrementX(dx);
    if (std::abs(dy) > 0.0001)
        laser->IncrementY(dy);
}

int TStation::VideoTimerInterval(bool afterFirstTick)
{
    // A refresh of zero or less would spin the event loop without pause.
    return afterFirstTick ? std::max(1, Settings().VideoRefresh) : kFirstVideoTickMs;
}

// --- debug panel --------------------------------------------------------------------------------

void TStation::DebugEcamStopClick()
{
    if (TLaser* laser = Laser())
        laser->XZ_ECAM_Stop();
}

void TStation::DebugHomeClick()
{
    if (AIMState == TAIMState::aimsMarking)
        return;
    if (TLaser* laser = Laser())
        laser->Initialize();
}

void TStation::DebugStopClick()
{
    if (TLaser* laser = Laser())
        laser->Stop();
}

void TStation::DebugExitClick()
{
    if (TLaser* laser = Laser()) {
        laser->Reset();
        laser->HardwareFound = false;
    }
}

// --- progress -----------------------------------------------------------------------------------

std::int64_t TStation::markingElapsedMs() const
{
    if (m_progress.startMs == 0 && m_progress.glyphCount == 0)
        return 0;
    const std::int64_t end = m_progress.running ? systemClock().tickMs() : m_progress.endMs;
    return std::max<std::int64_t>(0, end - m_progress.startMs);
}

void TStation::moveFocus(TFocusTarget target)
{
    if (m_services.moveFocus)
        m_services.moveFocus(target);
}

} // namespace lapido
