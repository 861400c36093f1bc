// RouteKey: what one key press of the main window does. A key either belongs to the station
// (it jogs, toggles a view, steps the girdle, undoes, ...) and never reaches the focused
// control, or belongs to the focused control and moves nothing. Which way depends on the kind
// of control that has the keyboard focus: a text box or a list keeps its editing and moving
// keys, everything else (the picture, the position display, buttons, the label tree) jogs.
#pragma once

#include <Qt>

namespace lapido {

// The kind of control that has the keyboard focus, as far as keys care.
enum class TKeyFocus {
    Jog,         // picture, position display, buttons, the label tree, nothing focused
    LabelEditor, // the formatted label editor
    Text,        // any other text or number box
    List,        // a drop-down list, a slider: its arrows change its value
};

enum class TKeyAction {
    None, // the focused control's key
    Overlay,
    Zoom,
    Grid,
    Engrave,
    Abort,
    NextLabel,  // F10
    GoToStart,  // F11
    F12Command, // F12
    GirdleUp,
    GirdleDown,
    SlantUp,
    SlantDown,
    BindTemplateTemporary, // Ctrl+digit
    BindTemplatePermanent, // Ctrl+Alt+digit
    UseTemplateBinding,    // Alt+digit
    Jog,
    Undo,
    Redo,
};

struct TKeyCommand {
    TKeyAction action = TKeyAction::None;
    char axis = 0;     // Jog: 'X', 'Y' or 'Z'
    int direction = 0; // Jog: +1 or -1
    int factor = 1;    // Jog: 1, 2 (Ctrl) or 4 (Ctrl+Shift)
    int digit = 0;     // template keys: 1..9
    bool operator==(const TKeyCommand&) const = default;
};

// The one thing a key press does with the given focus.
TKeyCommand RouteKey(int key, Qt::KeyboardModifiers modifiers, TKeyFocus focus);

} // namespace lapido
