#include "TStatusBar.h"

#include "Controls.h"

#include <QLabel>

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
}

void TStatusBar::SetPanelWidths(std::initializer_list<int> widths) {
    for (QLabel* panel : panels_) {
        removeWidget(panel);
        delete panel;
    }
    panels_.clear();
    std::size_t index = 0;
    for (const int width : widths) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("panel%1").arg(index));
        panel->setProperty("skinSection", QStringLiteral("STATUSBAR"));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        const bool last = ++index == widths.size();
        if (last) {
            panel->setMinimumWidth(width);
            addWidget(panel, 1);
        } else {
            panel->setFixedWidth(width);
            addWidget(panel);
        }
        panels_.push_back(panel);
    }
}

QLabel* TStatusBar::Panel(int index) const {
    return index >= 0 && index < PanelCount() ? panels_[std::size_t(index)] : nullptr;
}

QString TStatusBar::PanelText(int index) const {
    const QLabel* panel = Panel(index);
    return panel ? panel->text() : QString();
}

void TStatusBar::SetPanelText(int index, const QString& text) {
    if (QLabel* panel = Panel(index))
        SetLabelText(panel, text);
}
