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

namespace {

// The digit of Key_1 .. Key_9, else 0 (Ctrl+0 and Alt+0 are not the station's).
int digitOf(int key)
{
    return key >= Qt::Key_1 && key <= Qt::Key_9 ? key - Qt::Key_0 : 0;
}

} // namespace

bool TStation::KeyDown(int key, Qt::KeyboardModifiers modifiers)
{
    const bool ctrl = modifiers.testFlag(Qt::ControlModifier);
    const bool alt = modifiers.testFlag(Qt::AltModifier);
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
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

    // While marking, the label, the stone and the templates stay as they are: only Abort and
    // the view keys act.
    const bool marking = AIMState == TAIMState::aimsMarking;
    if (marking && key != Qt::Key_Escape && key != Qt::Key_F2 && key != Qt::Key_F3 && key != Qt::Key_F4)
        return key == Qt::Key_F9;

    // F2-F4, F9 and Esc are the station's alone; the other keys act and still reach the
    // focused control.
    switch (key) {
    case Qt::Key_F2:
        ShowOverlay = !ShowOverlay;
        return true;
    case Qt::Key_F3:
        ZoomOut = !ZoomOut;
        return true;
    case Qt::Key_F4:
        ShowGrid = !ShowGrid;
        return true;
    case Qt::Key_F9:
        KeyF9();
        return true;
    case Qt::Key_Escape:
        KeyEsc();
        return true;
    case Qt::Key_F10:
        KeyF10();
        return false;
    case Qt::Key_F11:
        KeyF11();
        return false;
    case Qt::Key_F12:
        KeyF12();
        return false;
    case Qt::Key_Home:
    case Qt::Key_End:
        if (!ctrl)
            return false;
        if (alt)
            key == Qt::Key_Home ? SpinButtonSlantUpClick() : SpinButtonSlantDownClick();
        else
            key == Qt::Key_Home ? SpinButtonSizeUpClick() : SpinButtonSizeDownClick();
        return false;
    default:
        break;
    }

    if (const int digit = digitOf(key); digit != 0 && (ctrl || alt) && !keypad) {
        if (ctrl && alt)
            BindTemplatePermanent(digit);
        else if (ctrl)
            BindTemplateTemporary(digit);
        else
            UseTemplateBinding(digit);
        return false;
    }

    struct Jog {
        char axis;
        int direction;
    };
    std::optional<Jog> jog;
    switch (key) {
    case Qt::Key_Left: jog = Jog{'X', -1}; break;
    case Qt::Key_Right: jog = Jog{'X', +1}; break;
    case Qt::Key_Down: jog = Jog{'Y', -1}; break;
    case Qt::Key_Up: jog = Jog{'Y', +1}; break;
    case Qt::Key_PageDown: jog = Jog{'Z', -1}; break;
    case Qt::Key_PageUp: jog = Jog{'Z', +1}; break;
    default: break;
    }
    if (!jog && alt) {
        switch (key) {
        case Qt::Key_I: jog = Jog{'X', +1}; break;
        case Qt::Key_J: jog = Jog{'X', -1}; break;
        case Qt::Key_K: jog = Jog{'Y', +1}; break;
        case Qt::Key_L: jog = Jog{'Y', -1}; break;
        case Qt::Key_M: jog = Jog{'Z', +1}; break;
        case Qt::Key_N: jog = Jog{'Z', -1}; break;
        default: break;
        }
    }
    if (!jog)
        return false;
    const int k = ctrl ? (shift ? 4 : 2) : 1;
    KeyJog(jog->axis, jog->direction, k);
    return false;
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
