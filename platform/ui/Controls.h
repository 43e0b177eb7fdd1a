#pragma once
// Small helpers shared by the windows: the fonts they are designed for and the
// integer tag a control can carry for its window's own use.

#include <QFont>

class QWidget;

// Tahoma at `pixelSize` when the machine has it, otherwise the system's
// sans-serif face at that size.
QFont DesignFont(int pixelSize);

// A control's tag: the dynamic property "tag", 0 when unset.
int Tag(const QWidget* widget);
void SetTag(QWidget* widget, int tag);
