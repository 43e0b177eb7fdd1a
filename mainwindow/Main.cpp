#include "Main.h"

#include "About.h"
#include "Application.h"
#include "BitmapImage.h"
#include "Controls.h"
#include "Convert_func.h"
#include "Exception.h"
#include "GloxenResources.h"
#include "ImageCodec.h"
#include "Libfunc.h"

#include <QBitmap>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QShortcut>

#include <algorithm>
#include <utility>

Tfmain* fmain = nullptr;

namespace {

// The character Qt's short time format puts between hours and minutes.
QString TimeSeparator(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::ShortFormat);
    qsizetype i = 0;
    while (i < format.size() && format[i] != u'h' && format[i] != u'H')
        ++i;
    while (i < format.size() && (format[i] == u'h' || format[i] == u'H'))
        ++i;
    for (; i < format.size() && format[i] != u'm'; ++i)
        if (format[i] != u'\'')
            return QString(format[i]);
    return QStringLiteral(":");
}

// A glyph picture with its background (the bottom-left pixel's colour) left
// out, as speed buttons draw their glyphs.
QIcon GlyphIcon(const QString& resource) {
    QImage image = QImage(resource).convertToFormat(QImage::Format_ARGB32);
    if (image.isNull())
        return QIcon();
    const QRgb background = image.pixel(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (line[x] == background)
                line[x] = qRgba(0, 0, 0, 0);
    }
    return QIcon(QPixmap::fromImage(image));
}

}  // namespace

QString FormatStatusClock(const QDateTime& when, const QLocale& locale) {
    const QDate date = when.date();
    const QTime time = when.time();
    const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    return QStringLiteral("%1, %2 %3,  %4 %5%6%7 %8")
        .arg(locale.standaloneDayName(date.dayOfWeek(), QLocale::LongFormat),
             locale.standaloneMonthName(date.month(), QLocale::LongFormat), QString::number(date.day()),
             QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0')),
             QStringLiteral("%1").arg(hour12, 2, 10, QLatin1Char('0')), TimeSeparator(locale),
             QStringLiteral("%1").arg(time.minute(), 2, 10, QLatin1Char('0')),
             time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

int AllowMessage(std::uint32_t, bool) { return 0; }

Tfmain::Tfmain(QWidget* owner) : QWidget(owner) {
    setupUi(this);
    InitGloxenResources();

    // The window: fixed 570 x 315 client area, minimise box only, centred.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(570, 315);
    setFont(DesignFont(11));
    FitTexts();
    setWindowIcon(QIcon(QStringLiteral(":/pictures/gloxen48.png")));
    CentreOnScreen();

    QPalette panelColours = plimg->palette();
    panelColours.setColor(QPalette::Window, QColor(128, 128, 128));
    plimg->setPalette(panelColours);

    for (QLabel* label : {sLabel1, sLabel2, sLabel4, sLabel5, lbsource, lbimg}) {
        QPalette colours = label->palette();
        colours.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(colours);
    }

    btnpick->setIcon(GlyphIcon(QStringLiteral(":/pictures/eyedropper.png")));
    imgcursor->SetAutoSize(true);
    imgcursor->SetTransparent(true);
    imgcursor->SetBitmap(QImageToBitmap(QImage(QStringLiteral(":/pictures/eyedropper-cursor.png"))));
    imgselectcolor->SetStretch(true);
    imgselectcolor->SetTransparent(true);
    imgselectcolor->SetBitmap(QImageToBitmap(QImage(QStringLiteral(":/pictures/palette.png"))));
    imgbak->SetAutoSize(true);
    // Double clicks on the picture area, the hidden source image and the
    // prompt all open a picture; each new preview gets the same handler.
    imgbak->OnDblClick = [this] { imgbakDblClick(); };
    plimg->installEventFilter(this);
    // The picture area takes no focus, so the keyboard opens a picture with
    // the desktop's Open keys (Ctrl+O) instead.
    auto* open = new QShortcut(QKeySequence::Open, this);
    connect(open, &QShortcut::activated, this, Guarded([this] { imgbakDblClick(); }));
    // Releases over the picture pick a colour in pick mode; each new preview
    // gets the same handler.
    imgbak->OnMouseUp = [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
        imgbakMouseUp(button, shift, x, y);
    };
    imgselectcolor->OnClick = [this] { imgselectcolorClick(); };
    connect(btnpick, &QToolButton::clicked, this, Guarded([this] { btnpickClick(); }));
    connect(btnconvert, &QPushButton::clicked, this, Guarded([this] { btnconvertClick(); }));
    connect(sButton1, &QPushButton::clicked, this, Guarded([this] { sButton1Click(); }));
    lbimg->installEventFilter(this);

    wlb->setText(QString::fromLatin1(kMakerAddress));
    wlb->SetURL(QString::fromLatin1(kMakerAddress));

    sb->SetPanelWidths({180, 140, 50});
    // The panels' accessible names are the texts they show (a label without
    // a fixed name exposes its text and announces changes); what each panel
    // is for goes into its description.
    sb->Panel(0)->setAccessibleDescription(QStringLiteral("Hint"));
    sb->Panel(1)->setAccessibleDescription(QStringLiteral("Image status"));
    sb->Panel(2)->setAccessibleDescription(QStringLiteral("Clock"));

    sbtimer.setInterval(1000);
    connect(&sbtimer, &QTimer::timeout, this, Guarded([this] { sbtimerTimer(); }));
    sbtimer.start();

    FLoaded = false;
    FSourceWidth = -1;
    FSourceHeight = -1;
    FPreview = nullptr;

    try {
        FormCreate();
    } catch (...) {
        Application()->HandleException();
    }
}

Tfmain::~Tfmain() {
    try {
        FormDestroy();
    } catch (...) {
        if (TApplication* application = Application())
            application->HandleException();
    }
}

void Tfmain::FormCreate() {
    sm.SetActive(false);
    sm.SetSkinDirectory(QFileInfo(Application()->ExeName()).absolutePath() + QDir::separator());
    sm.SetSkinName(QStringLiteral("DUI"));
    sm.SetActive(true);

    connect(Application(), &TApplication::OnHint, this, Guarded([this] { AppHint(); }));
    SetImageStatus(QStringLiteral("No image loaded"));
    SetLabelText(lbsource, QString());
    imgcolor->Bitmap().SetSize(imgcolor->width(), imgcolor->height());
    SetTransparentColor(clTeal);
    Application()->SetTitle(windowTitle());
    setAcceptDrops(true);
    AllowMessage(73, true);
    AllowMessage(563, true);

    const std::string version = GetShortVersion(Application()->ExeName().toLocal8Bit().toStdString());
    setWindowTitle(windowTitle() + QStringLiteral(" ( v") + QString::fromLocal8Bit(version) +
                   QStringLiteral(" )"));
}

void Tfmain::CentreOnScreen() {
    const QScreen* display = screen();
    if (display == nullptr)
        return;
    // move() places the frame's corner. Before the window manager has framed
    // the window, the frame is the client area; afterwards its margins count.
    const QRect frame = frameGeometry();
    move(display->availableGeometry().center() - (frame.center() - frame.topLeft()));
}

void Tfmain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    // Centred again once the window manager has framed the window. It tells
    // the frame's size only some time after the window is mapped, so look a
    // few times during the first half second; without a window manager the
    // frame never comes and the first placement stands.
    auto* watch = new QTimer(this);
    watch->setInterval(20);
    connect(watch, &QTimer::timeout, this, [this, watch, ticks = 0]() mutable {
        if (frameGeometry().size() != size()) {
            CentreOnScreen();
            watch->deleteLater();
        } else if (++ticks >= 25) {
            watch->deleteLater();
        }
    });
    watch->start();
}

void Tfmain::FitTexts() {
    for (QWidget* control : std::initializer_list<QWidget*>{sLabel1, sLabel2, sLabel4, sLabel5, ckbtrans}) {
        const int needed = control->sizeHint().width();
        if (needed > control->width())
            control->resize(needed, control->height());
    }
    // The prompt is centred: it grows evenly on both sides, within the panel.
    const QSize needed = lbimg->sizeHint();
    QRect area = lbimg->geometry();
    const int wider = std::max(0, needed.width() - area.width());
    const int taller = std::max(0, needed.height() - area.height());
    area.adjust(-(wider + 1) / 2, -(taller + 1) / 2, wider / 2, taller / 2);
    lbimg->setGeometry(area.intersected(plimg->rect()));
}

void Tfmain::FormDestroy() { EndColorPick(); }

void Tfmain::sbtimerTimer() {
    sb->SetPanelText(2, FormatStatusClock(QDateTime::currentDateTime(), QLocale()));
}

void Tfmain::AppHint() {
    const QString hint = Application()->Hint();
    sb->SetPanelText(0, hint.isEmpty() ? QStringLiteral("Ready") : hint);
}

void Tfmain::SetImageStatus(const QString& text) { sb->SetPanelText(1, text); }

void Tfmain::SetTransparentColor(TColor color) {
    TBitmap& swatch = imgcolor->Bitmap();
    swatch.Canvas().Brush.Color = color;
    swatch.Canvas().FillRect(TRect{0, 0, imgcolor->width(), imgcolor->height()});
}

void Tfmain::btnpickClick() {
    if (Tag(btnpick) != 0) {
        EndColorPick();
        SetTag(btnpick, 0);
    } else {
        BeginColorPick();
        SetTag(btnpick, 1);
    }
}

void Tfmain::BeginColorPick() {
    // A cursor left over is released before the new one is shown, so that
    // the stack holds at most one of ours.
    if (FPickCursorShown) {
        FPickCursorShown = false;
        QGuiApplication::restoreOverrideCursor();
    }
    const TBitmap& picture = std::as_const(*imgcursor).Bitmap();
    if (picture.Empty())
        return;

    // The picture's background, read at (1, 1), is the see-through part. The
    // bitmap mask marks it with 1 (the icon convention); Qt's masks mark
    // the opaque pixels with 1, so the bits are turned round on the way.
    const TColor key = picture.Canvas().Pixel(1, 1);
    TBitmap mask = picture;
    mask.Mask(key);
    QImage colour = BitmapToQImage(picture).convertToFormat(QImage::Format_RGB32);
    QImage opaque(picture.Width(), picture.Height(), QImage::Format_MonoLSB);
    // Index 0 (white) is Qt's see-through colour, index 1 (black) its opaque one.
    opaque.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            const bool seeThrough = mask.Canvas().Pixel(x, y) == clWhite;
            opaque.setPixel(x, y, seeThrough ? 0 : 1);
            if (seeThrough)
                colour.setPixel(x, y, qRgb(0, 0, 0));
        }
    QPixmap pixmap = QPixmap::fromImage(colour);
    pixmap.setMask(QBitmap::fromImage(opaque));

    // The hot spot is the pipette's tip. The cursor goes over every control,
    // whatever cursor the control has of its own, until pick mode ends.
    QGuiApplication::setOverrideCursor(QCursor(pixmap, 3, 16));
    FPickCursorShown = true;
}

void Tfmain::EndColorPick() {
    if (Tag(btnpick) != 1)
        return;
    if (FPickCursorShown) {
        FPickCursorShown = false;
        QGuiApplication::restoreOverrideCursor();
    }
}

void Tfmain::imgbakMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
    if (Tag(btnpick) != 1 || !FLoaded || FPreview == nullptr)
        return;
    // Strictly inside the preview: its first column and row are never picked.
    if (x <= 0 || x >= FPreview->width() || y <= 0 || y >= FPreview->height())
        return;
    // The preview holds the full picture; (x, y) is taken as it is, not
    // scaled to the picture shown reduced, and lies inside the picture since
    // the preview is never larger than it.
    const TBitmap& picture = std::as_const(*FPreview).Bitmap();
    if (x >= picture.Width() || y >= picture.Height())
        return;
    SetTransparentColor(picture.Canvas().Pixel(x, y) & 0x00FFFFFF);
}

void Tfmain::imgselectcolorClick() {
    // The dialog opens with its own last confirmed colour, not the swatch's.
    if (!cd.Execute())
        return;
    SetTransparentColor(cd.Color());
}

TIconSize Tfmain::GetOutputSize() {
    return OutputSize(cmbsize->currentIndex(), FSourceWidth, FSourceHeight, edtwidth->text().toStdString(),
                      edtheight->text().toStdString());
}

TPixelFormat Tfmain::GetOutputPixelFormat() { return OutputPixelFormat(cmbcolor->currentIndex()); }

void Tfmain::btnconvertClick() {
    // Errors are not caught here: they end the command before "Done" and
    // reach the application's error display.
    if (!FLoaded) {
        Application()->ShowMessage(QStringLiteral("No source image loaded."));
        return;
    }
    const TIconSize size = GetOutputSize();
    if (NeedsSizeConfirmation(size)) {
        const int answer = Dialogs().Confirm(
            this, QStringLiteral("Confirm"),
            QStringLiteral("Output icon size is too big, maximun size of icon is 256 * 256, do you want to "
                           "continue? "),
            TMsgIcon::Question, {QStringLiteral("&Yes"), QStringLiteral("Cancel")}, 0);
        if (answer != 0)
            return;
    }

    sd.SetFileName(QFile::decodeName(IconFileName(QFile::encodeName(lbsource->text()).toStdString()).c_str()));
    if (!sd.Execute())
        return;
    // Whatever was typed or chosen in the type list, the file is an icon.
    const std::string fileName = IconFileName(QFile::encodeName(sd.FileName()).toStdString());

    const TPixelFormat format = GetOutputPixelFormat();
    const bool useTransparent = ckbtrans->isChecked();
    const TColor corner = std::as_const(*FPreview).Bitmap().Canvas().Pixel(0, 0);
    const TColor colour =
        ConvertColor(useTransparent, std::as_const(*imgcolor).Bitmap().Canvas().Brush.Color, corner);
    SaveBmpAsIconEx(std::as_const(*imgbak).Bitmap(), fileName, size.Width, size.Height, useTransparent, colour,
                    format);
    Application()->ShowMessage(QStringLiteral("Done"));
}

void Tfmain::sButton1Click() { ShowAbout(this); }

bool Tfmain::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == plimg || watched == lbimg) && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Guarded([this] { imgbakDblClick(); })();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Tfmain::imgbakDblClick() {
    if (!od.Execute())
        return;
    LoadSourceImage(od.FileName());
}

void Tfmain::LoadSourceImage(const QString& path) {
    // The extension is taken from a fully lower-cased copy; the file is read
    // under the name exactly as given.
    const QByteArray lowered = path.toLower().toUtf8();
    const TImageFormat* format =
        FormatForExtension(ExtensionOf(std::string_view(lowered.constData(), std::size_t(lowered.size()))));
    if (format == nullptr) {
        Application()->ShowMessage(QStringLiteral("Sorry, unsupported image format."));
        return;
    }
    // Decoded into a bitmap of its own first: a failure leaves the window as
    // it was. The decoders refuse empty pictures; this guards the preview's
    // arithmetic all the same.
    const TBitmap picture = LoadPicture(QFile::encodeName(path).toStdString(), *format);
    if (picture.Empty())
        throw EInvalidImage("The picture has no pixels");

    imgbak->SetBitmap(picture);
    const TBitmap& source = std::as_const(*imgbak).Bitmap();
    ShowPreview(source);
    lbimg->hide();
    SetImageStatus(QString::asprintf("Image loaded : %d * %d ", imgbak->width(), imgbak->height()));
    const TColor corner = source.Canvas().Pixel(0, 0);
    SetTransparentColor(corner);
    if (corner == clBlack)
        ckbtrans->setChecked(true);
    ShowSourceSize(imgbak->width(), imgbak->height());
    SetLabelText(lbsource, path);
    lbsource->adjustSize();
    FLoaded = true;
    FSourceWidth = source.Width();
    FSourceHeight = source.Height();
}

QSize Tfmain::PreviewSize(int width, int height) {
    constexpr int kBox = 256;
    if (width <= kBox && height <= kBox)
        return QSize(width, height);  // never enlarged
    if (width == height)
        return QSize(kBox, kBox);
    // The ratio is kept only as a 32-bit float, rounded from the exact
    // quotient; the side computed from it is truncated. So 1024 x 768 gives
    // 256 x 191, not 192.
    const float ratio = float(static_cast<long double>(width) / static_cast<long double>(height));
    if (height < width)
        return QSize(kBox, int(double(kBox) / double(ratio)));
    return QSize(int(double(kBox) * double(ratio)), kBox);
}

void Tfmain::ShowPreview(const TBitmap& bitmap) {
    if (bitmap.Empty())
        throw EInvalidGraphic("The picture has no pixels to show");
    const QSize size = PreviewSize(bitmap.Width(), bitmap.Height());

    // The old preview may be the very control whose double click started
    // this load, so it leaves the panel now and is deleted once its event is
    // over.
    if (FPreview != nullptr) {
        FPreview->hide();
        FPreview->setParent(nullptr);
        FPreview->deleteLater();
        FPreview = nullptr;
    }
    auto* preview = new TImage(plimg);
    preview->setObjectName(QStringLiteral("preview"));
    preview->setAccessibleName(QStringLiteral("Preview"));
    FPreview = preview;
    preview->raise();
    preview->OnMouseUp = imgbak->OnMouseUp;
    preview->OnDblClick = imgbak->OnDblClick;
    SetHint(preview, QStringLiteral("Double clicks to load source image"));
    preview->resize(size);
    // The preview shares the source's pixels (no copy) and is drawn from a
    // smooth reduction made once; a picture with opacity is drawn
    // premultiplied over the panel's grey.
    preview->SetBitmap(bitmap);
    preview->SetAutoSize(false);
    preview->SetStretch(true);
    preview->move((plimg->width() - size.width()) / 2, (plimg->height() - size.height()) / 2);
    preview->show();
}

void Tfmain::ShowSourceSize(std::int32_t width, std::int32_t height) {
    edtwidth->setText(QString::number(width));
    edtheight->setText(QString::number(height));
}

void Tfmain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void Tfmain::dropEvent(QDropEvent* event) {
    event->acceptProposedAction();
    Guarded([&] { WMDropFiles(*event->mimeData()); })();
}

void Tfmain::WMDropFiles(const QMimeData& data) {
    // The first local name of a drop goes to the loader whether or not the
    // file opens, so that the user learns why nothing loaded; names that are
    // not local files (web addresses) are passed over. The load is queued:
    // the drop is finished first, so the program the file came from is not
    // kept waiting behind a message box.
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (path.isEmpty())
            continue;
        QMetaObject::invokeMethod(this, Guarded([this, path] { LoadSourceImage(path); }), Qt::QueuedConnection);
        return;
    }
}
