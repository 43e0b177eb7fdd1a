#include "Controls.h"

#include <QAccessible>
#include <QFontDatabase>
#include <QLabel>
#include <QWidget>

namespace {

// Debian's fonts-wine ships a Tahoma-compatible face in its own folder,
// outside fontconfig's; it is added once for this program.
bool TahomaAvailable() {
    static const bool available = [] {
        if (QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive))
            return true;
        QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
        QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahomabd.ttf"));
        return QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive);
    }();
    return available;
}

}  // namespace

QFont DesignFont(int pixelSize) {
    QFont font;
    if (TahomaAvailable()) {
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
