#pragma once
// A status bar of text panels side by side, the last one stretching to the
// bar's right end. Panels are addressed by index from the left.

#include <QStatusBar>

#include <initializer_list>
#include <vector>

class QLabel;

class TStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit TStatusBar(QWidget* parent = nullptr);

    // Replaces the panels by ones of these widths in pixels, side by side
    // from the bar's left edge with no gaps; the last one takes at least its
    // width and stretches over the rest of the bar.
    void SetPanelWidths(std::initializer_list<int> widths);

    int PanelCount() const { return int(panels_.size()); }
    QLabel* Panel(int index) const;
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void LayoutPanels();

    std::vector<QLabel*> panels_;
    std::vector<int> widths_;
};
