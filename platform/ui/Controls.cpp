#include "Controls.h"

#include <QAccessible>
#include <QFontDatabase>
#include <QLabel>
#include <QWidget>

QFont DesignFont(int pixelSize) {
    QFont font;
    if (QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive)) {
        font.setFamily(QStringLiteral("Tahoma"));
    } else {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setStyleHint(QFont::SansSerif);
    }
    font.setPixelSize(pixelSize);
    return font;
}

int Tag(const QWidget* widget) { return widget->property("tag").toInt(); }

void SetTag(QWidget* widget, int tag) { widget->setProperty("tag", tag); }

void SetHint(QWidget* control, const QString& hint) {
    control->setProperty("hint", hint);
    bool showHint = false;
    for (const QWidget* w = control; w && !showHint; w = w->parentWidget())
        showHint = w->property("showHint").toBool();
    control->setToolTip(showHint ? hint.section(u'|', 0, 0) : QString());
}

void SetLabelText(QLabel* label, const QString& text) {
    if (label->text() == text)
        return;
    label->setText(text);
    if (label->accessibleName().isEmpty()) {
        QAccessibleEvent changed(label, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
    }
}
