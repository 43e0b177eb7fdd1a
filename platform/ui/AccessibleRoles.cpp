#include "AccessibleRoles.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFrame>

namespace {

QAccessibleInterface* RoleFactory(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr)
        return nullptr;
    // Only the exact classes: subclasses of QFrame (labels, lists, ...) are
    // asked for under their own class names first and keep Qt's roles.
    if (className == QLatin1String("TImage"))
        return new QAccessibleWidget(widget, QAccessible::Graphic);
    if (className == QLatin1String("QFrame")) {
        const auto* frame = static_cast<QFrame*>(widget);
        const bool line = frame->frameShape() == QFrame::HLine || frame->frameShape() == QFrame::VLine;
        return new QAccessibleWidget(widget, line ? QAccessible::Separator : QAccessible::Grouping);
    }
    return nullptr;
}

}  // namespace

void InstallAccessibleRoles() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(RoleFactory);
}
