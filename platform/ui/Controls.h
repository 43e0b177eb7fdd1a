#pragma once
// Small helpers shared by the windows: the fonts they are designed for and the
// integer tag a control can carry for its window's own use.

#include <QFont>

class QLabel;
class QWidget;

// Tahoma at `pixelSize` when the machine has it (installed, or the
// compatible face of Debian's fonts-wine), otherwise the system's sans-serif
// face at that size.
QFont DesignFont(int pixelSize);

// A control's tag: the dynamic property "tag", 0 when unset.
int Tag(const QWidget* widget);
void SetTag(QWidget* widget, int tag);

// Gives a control its hint (the dynamic property "hint", which the status
// bar shows). A hint may hold a short and a long part as "short|long": the
// tool tip shows the short part, the status bar the long one. Tool tips are
// shown only for controls that have, or sit inside a control that has, the
// dynamic property "showHint" set to true; elsewhere the tool tip is cleared.
void SetHint(QWidget* control, const QString& hint);

// Shows `text` in `label` and, when the label has no fixed accessible name
// (so that its name is the text it shows), tells assistive technology that
// the name changed.
void SetLabelText(QLabel* label, const QString& text);
