#pragma once

// Small widget helpers every window uses.

class QAction;
class QPushButton;

namespace brenvo {

// A push button that shows an action: its caption (with the accelerator),
// hint and enabled state follow the action, a click triggers it.
QPushButton* ActionButton(QAction* action);

} // namespace brenvo
