#include "TStatusBar.h"

#include "Controls.h"

#include <QLabel>

#include <algorithm>

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
}

void TStatusBar::SetPanelWidths(std::initializer_list<int> widths) {
    for (QLabel* panel : panels_)
        delete panel;
    panels_.clear();
    widths_.assign(widths.begin(), widths.end());
    for (std::size_t index = 0; index < widths_.size(); ++index) {
        // The panels are placed by hand (LayoutPanels): QStatusBar's own
        // layout would put margins and gaps between them.
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("panel%1").arg(index));
        panel->setProperty("skinSection", QStringLiteral("STATUSBAR"));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->show();
        panels_.push_back(panel);
    }
    LayoutPanels();
}

void TStatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    LayoutPanels();
}

void TStatusBar::LayoutPanels() {
    int left = 0;
    for (std::size_t index = 0; index < panels_.size(); ++index) {
        const bool last = index + 1 == panels_.size();
        const int width = last ? std::max(widths_[index], this->width() - left) : widths_[index];
        panels_[index]->setGeometry(left, 0, width, height());
        left += width;
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
