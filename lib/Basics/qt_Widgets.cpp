#include "lib/Basics/qt_Widgets.h"

#include <QAction>
#include <QPushButton>

namespace brenvo {

QPushButton* ActionButton(QAction* action) {
    auto* button = new QPushButton(action->text());
    button->setObjectName(QStringLiteral("btn") + action->objectName().mid(3));   // "actProzessStart" -> "btnProzessStart"
    auto follow = [action, button] {
        button->setText(action->text());
        button->setToolTip(action->toolTip());
        button->setEnabled(action->isEnabled());
    };
    follow();
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    QObject::connect(action, &QAction::changed, button, follow);
    return button;
}

} // namespace brenvo
