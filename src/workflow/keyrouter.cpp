// RouteKey: the key table of the main window.
#include "workflow/keyrouter.h"

namespace lapido {

namespace {

// The digit of Key_1 .. Key_9, else 0 (Ctrl+0 and Alt+0 are not the station's).
int digitOf(int key)
{
    return key >= Qt::Key_1 && key <= Qt::Key_9 ? key - Qt::Key_0 : 0;
}

TKeyCommand jog(char axis, int direction, Qt::KeyboardModifiers modifiers)
{
    const bool ctrl = modifiers.testFlag(Qt::ControlModifier);
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    TKeyCommand c;
    c.action = TKeyAction::Jog;
    c.axis = axis;
    c.direction = direction;
    c.factor = ctrl ? (shift ? 4 : 2) : 1;
    return c;
}

TKeyCommand command(TKeyAction action, int digit = 0)
{
    TKeyCommand c;
    c.action = action;
    c.digit = digit;
    return c;
}

} // namespace

TKeyCommand RouteKey(int key, Qt::KeyboardModifiers modifiers, TKeyFocus focus)
{
    const bool ctrl = modifiers.testFlag(Qt::ControlModifier);
    const bool alt = modifiers.testFlag(Qt::AltModifier);
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    // Text boxes and lists keep their caret, selection and value keys.
    const bool controlKeepsKeys = focus != TKeyFocus::Jog;

    switch (key) {
    case Qt::Key_F2: return command(TKeyAction::Overlay);
    case Qt::Key_F3: return command(TKeyAction::Zoom);
    case Qt::Key_F4: return command(TKeyAction::Grid);
    case Qt::Key_F9: return command(TKeyAction::Engrave);
    case Qt::Key_Escape: return command(TKeyAction::Abort);
    case Qt::Key_F10: return command(TKeyAction::NextLabel);
    case Qt::Key_F11: return command(TKeyAction::GoToStart);
    case Qt::Key_F12: return command(TKeyAction::F12Command);
    case Qt::Key_Home:
    case Qt::Key_End:
        if (!ctrl || controlKeepsKeys)
            return {};
        if (alt)
            return command(key == Qt::Key_Home ? TKeyAction::SlantUp : TKeyAction::SlantDown);
        return command(key == Qt::Key_Home ? TKeyAction::GirdleUp : TKeyAction::GirdleDown);
    case Qt::Key_Z:
        // A plain text box undoes its own typing; the label's history is the station's.
        if (!ctrl || alt || focus == TKeyFocus::Text)
            return {};
        return command(shift ? TKeyAction::Redo : TKeyAction::Undo);
    case Qt::Key_Left: return controlKeepsKeys ? TKeyCommand{} : jog('X', -1, modifiers);
    case Qt::Key_Right: return controlKeepsKeys ? TKeyCommand{} : jog('X', +1, modifiers);
    case Qt::Key_Down: return controlKeepsKeys ? TKeyCommand{} : jog('Y', -1, modifiers);
    case Qt::Key_Up: return controlKeepsKeys ? TKeyCommand{} : jog('Y', +1, modifiers);
    case Qt::Key_PageDown: return controlKeepsKeys ? TKeyCommand{} : jog('Z', -1, modifiers);
    case Qt::Key_PageUp: return controlKeepsKeys ? TKeyCommand{} : jog('Z', +1, modifiers);
    default: break;
    }

    if (const int digit = digitOf(key); digit != 0 && (ctrl || alt) && !keypad) {
        if (ctrl && alt)
            return command(TKeyAction::BindTemplatePermanent, digit);
        return command(ctrl ? TKeyAction::BindTemplateTemporary : TKeyAction::UseTemplateBinding, digit);
    }

    // Alt+I..N jog wherever the focus is: they are never typed.
    if (alt) {
        switch (key) {
        case Qt::Key_I: return jog('X', +1, modifiers);
        case Qt::Key_J: return jog('X', -1, modifiers);
        case Qt::Key_K: return jog('Y', +1, modifiers);
        case Qt::Key_L: return jog('Y', -1, modifiers);
        case Qt::Key_M: return jog('Z', +1, modifiers);
        case Qt::Key_N: return jog('Z', -1, modifiers);
        default: break;
        }
    }
    return {};
}

} // namespace lapido
