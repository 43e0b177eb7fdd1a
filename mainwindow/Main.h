#pragma once
// The main window: the picture area, the output options, the status bar with
// hint, image status and clock, and the drop target for picture files.
//
// The controls come from the stored layout resources/ui/Main.ui and are
// public members under their layout names (cmbsize, btnconvert, sb, ...).

#include <QTimer>
#include <QWidget>

#include <cstdint>

#include "ConvertOptions.h"
#include "Dialogs.h"
#include "Graphics.h"
#include "SkinManager.h"
#include "ui_Main.h"

class QDateTime;
class QLocale;
class QMimeData;

// The maker's web address, shown and opened by the link label `wlb`.
extern const char* const kMakerAddress;

// The clock text of the status bar: full weekday name, ", ", full month name,
// " ", day without leading zero, ",  " (two blanks), four-digit year, " ",
// the hour of the 12-hour clock as two digits (0 shows as 12), the locale's
// time separator, two-digit minutes, " ", then "AM" or "PM" (always these
// letters, whatever the locale). Names are the locale's stand-alone forms.
QString FormatStatusClock(const QDateTime& when, const QLocale& locale);

// Lets a window message through the desktop's message filter. There is no
// such filter here (drops arrive through Qt's drag and drop), so nothing is
// changed and the result is always 0, "not accepted".
int AllowMessage(std::uint32_t message, bool allow);

class Tfmain : public QWidget, public Ui::Tfmain {
    Q_OBJECT
public:
    // Builds the controls from the layout, sets the state fields and runs
    // FormCreate. An exception from FormCreate is shown by the application's
    // exception display and the window is still made. A TApplication must
    // exist.
    explicit Tfmain(QWidget* owner = nullptr);
    ~Tfmain() override;

    // The non-visual components.
    TOpenPictureDialog od{this};
    TSavePictureDialog sd{this};
    TsSkinManager sm;
    QTimer sbtimer;
    TColorDialog cd{this};

    void btnconvertClick();
    void FormCreate();
    void sbtimerTimer();
    void btnpickClick();
    void FormDestroy();
    void imgselectcolorClick();
    void sButton1Click();
    void imgbakMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void imgbakDblClick();

protected:
    // Loads the named picture file into the window. Virtual so that the drop
    // target can be exercised on its own.
    // Picks the decoder by the path's lower-cased extension, decodes the file
    // and shows it. An unsupported extension shows "Sorry, unsupported image
    // format." and changes nothing; a decoder's error leaves the function
    // before anything has changed.
    virtual void LoadSourceImage(const QString& path);
    // Replaces the preview control by a new one showing `bitmap` within 256
    // pixels on its longer side, centred in plimg.
    void ShowPreview(const TBitmap& bitmap);
    // The size of the preview of a width x height picture (both above 0).
    static QSize PreviewSize(int width, int height);
    void ShowSourceSize(std::int32_t width, std::int32_t height);
    // Makes `color` the chosen transparent colour: the swatch bitmap's brush
    // takes it and the whole swatch is filled with it.
    void SetTransparentColor(TColor color);
    // Shows the pipette cursor over the whole application, made afresh from
    // imgcursor's picture. Without a picture the default cursor stays.
    void BeginColorPick();
    // Leaves pick mode: every control shows its own cursor again. Does
    // nothing unless btnpick's tag is 1; the cursor is released once only.
    void EndColorPick();
    // The icon size of the output options. The custom edits are read as
    // integers (EConvertError when they are not), width first.
    TIconSize GetOutputSize();
    // The pixel format of the depth list (pf24bit when nothing is chosen).
    TPixelFormat GetOutputPixelFormat();
    void SetImageStatus(const QString& text);

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

    bool FLoaded;
    std::int32_t FSourceWidth;
    std::int32_t FSourceHeight;
    TImage* FPreview;

private:
    // Whether the pipette cursor is on the application's cursor stack.
    bool FPickCursorShown = false;

    // The layout is measured for Tahoma. Where another face stands in and is
    // wider, the labels, the check box and the prompt grow to show their
    // whole text, as auto-sized labels would; positions stay.
    void FitTexts();
    // Puts the window's frame (not just its client area) in the middle of the
    // screen's available area.
    void CentreOnScreen();
    bool centred_ = false;
    void AppHint();
    void WMDropFiles(const QMimeData& data);
};

// The one main window, filled by the start routine.
extern Tfmain* fmain;
