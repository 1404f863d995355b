#pragma once

// Small widget helpers every window uses.

#include <QString>

class QAction;
class QFont;
class QPushButton;

namespace brenvo {

// A push button that shows an action: its caption (with the accelerator),
// hint and enabled state follow the action, a click triggers it. With a
// caption of its own the button keeps that caption.
QPushButton* ActionButton(QAction* action, const QString& caption = {});

// The fixed-pitch font of texts laid out in columns (logs, slips, reports):
// Liberation Mono, 9 pt.
QFont TextViewFont();

} // namespace brenvo
