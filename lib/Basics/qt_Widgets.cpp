#include "lib/Basics/qt_Widgets.h"

#include <QAction>
#include <QFont>
#include <QFontDatabase>
#include <QPushButton>

namespace brenvo {

QPushButton* ActionButton(QAction* action, const QString& caption) {
    auto* button = new QPushButton(caption.isEmpty() ? action->text() : caption);
    button->setObjectName(QStringLiteral("btn") + action->objectName().mid(3));   // "actProzessStart" -> "btnProzessStart"
    auto follow = [action, button, own = !caption.isEmpty()] {
        if (!own) button->setText(action->text());
        button->setToolTip(action->toolTip());
        button->setEnabled(action->isEnabled());
    };
    follow();
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    QObject::connect(action, &QAction::changed, button, follow);
    return button;
}

QFont TextViewFont() {
    QFont mono = QFontDatabase::hasFamily(QStringLiteral("Liberation Mono")) ? QFont(QStringLiteral("Liberation Mono"))
                                                                            : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setStyleHint(QFont::TypeWriter);
    mono.setPointSize(9);
    return mono;
}

} // namespace brenvo
