#pragma once
// A link label: shows a web address in blue, switches to the window-text
// colour and the hand cursor while the mouse is over it, and opens its URL
// through the dialog seam when pressed with the left button.

#include <QLabel>

class TWebLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString URL READ URL WRITE SetURL)
public:
    explicit TWebLabel(QWidget* parent = nullptr);

    QString URL() const { return url_; }
    void SetURL(const QString& url) { url_ = url; }

    bool Hovered() const { return hovered_; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void ShowHover(bool hovered);
    QString url_;
    bool hovered_ = false;
};
