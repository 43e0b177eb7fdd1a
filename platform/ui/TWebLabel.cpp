#include "TWebLabel.h"

#include "Application.h"
#include "Dialogs.h"

#include <QApplication>
#include <QMouseEvent>
#include <QUrl>

TWebLabel::TWebLabel(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    ShowHover(false);
}

void TWebLabel::ShowHover(bool hovered) {
    hovered_ = hovered;
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText,
                     hovered ? QApplication::palette(this).color(QPalette::WindowText) : QColor(Qt::blue));
    setPalette(colours);
}

void TWebLabel::enterEvent(QEnterEvent* event) {
    ShowHover(true);
    QLabel::enterEvent(event);
}

void TWebLabel::leaveEvent(QEvent* event) {
    ShowHover(false);
    QLabel::leaveEvent(event);
}

void TWebLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !url_.isEmpty()) {
        event->accept();
        Guarded([this] { Dialogs().OpenUrl(QUrl::fromUserInput(url_)); })();
        return;
    }
    QLabel::mousePressEvent(event);
}
