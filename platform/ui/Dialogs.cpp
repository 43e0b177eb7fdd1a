#include "Dialogs.h"

#include "ImageCodec.h"

#include <QColorDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

TDialogs::~TDialogs() = default;

namespace {

std::unique_ptr<TDialogs>& Installed() {
    static std::unique_ptr<TDialogs> dialogs;
    return dialogs;
}


QMessageBox::Icon ToQt(TMsgIcon icon) {
    switch (icon) {
    case TMsgIcon::Error: return QMessageBox::Critical;
    case TMsgIcon::Warning: return QMessageBox::Warning;
    case TMsgIcon::Information: return QMessageBox::Information;
    case TMsgIcon::Question: return QMessageBox::Question;
    case TMsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

QString PictureFilter() {
    QStringList all, kinds;
    for (const TImageFormat& format : ImageFormats()) {
        QStringList patterns;
        for (std::string_view extension : format.Extensions)
            patterns << u'*' + QString::fromLatin1(extension.data(), qsizetype(extension.size()));
        all << patterns;
        kinds << QStringLiteral("%1 (%2)").arg(QString::fromLatin1(format.Description), patterns.join(u' '));
    }
    return QStringLiteral("All (%1);;").arg(all.join(u' ')) + kinds.join(QStringLiteral(";;"));
}

TDialogs& Dialogs() {
    auto& dialogs = Installed();
    if (!dialogs)
        dialogs = std::make_unique<TQtDialogs>();
    return *dialogs;
}

std::unique_ptr<TDialogs> InstallDialogs(std::unique_ptr<TDialogs> dialogs) {
    std::unique_ptr<TDialogs> previous = std::move(Installed());
    Installed() = std::move(dialogs);
    return previous;
}

// ---- Qt's dialogs -----------------------------------------------------------

std::optional<QString> TQtDialogs::OpenPicture(QWidget* parent, const QString& fileName) {
    const QString name = QFileDialog::getOpenFileName(parent, QString(), fileName, PictureFilter());
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::optional<QString> TQtDialogs::SavePicture(QWidget* parent, const QString& fileName) {
    // The caller decides about replacing files: no overwrite question here.
    const QString name = QFileDialog::getSaveFileName(parent, QString(), fileName, PictureFilter(), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::optional<TColor> TQtDialogs::PickColor(QWidget* parent, TColor initial) {
    const QColor chosen =
        QColorDialog::getColor(QColor(GetRValue(initial), GetGValue(initial), GetBValue(initial)), parent);
    if (!chosen.isValid())
        return std::nullopt;
    return RGBColor(std::uint8_t(chosen.red()), std::uint8_t(chosen.green()), std::uint8_t(chosen.blue()));
}

int TQtDialogs::Confirm(QWidget* parent, const QString& caption, const QString& text, TMsgIcon icon,
                        const QStringList& buttons, int defaultButton) {
    QMessageBox box(ToQt(icon), caption, text, QMessageBox::NoButton, parent);
    std::vector<QPushButton*> pushButtons;
    for (const QString& label : buttons)
        pushButtons.push_back(box.addButton(label, QMessageBox::AcceptRole));
    if (defaultButton >= 0 && defaultButton < int(pushButtons.size()))
        box.setDefaultButton(pushButtons[std::size_t(defaultButton)]);
    // Escape and the window's close box answer with the last button, the
    // "Cancel" of a question box.
    if (pushButtons.size() > 1)
        box.setEscapeButton(pushButtons.back());
    box.exec();
    for (std::size_t i = 0; i < pushButtons.size(); ++i)
        if (box.clickedButton() == pushButtons[i])
            return int(i);
    return -1;
}

void TQtDialogs::Message(QWidget* parent, const QString& caption, const QString& text, TMsgIcon icon) {
    QMessageBox box(ToQt(icon), caption, text, QMessageBox::Ok, parent);
    box.exec();
}

void TQtDialogs::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

// ---- Scripted answers -------------------------------------------------------

TScriptedDialogs::TAnswer TScriptedDialogs::Next() {
    if (answers_.empty())
        return TAnswer::Cancel();
    const TAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::optional<QString> TScriptedDialogs::OpenPicture(QWidget*, const QString& fileName) {
    TRequest request;
    request.Kind = TKind::OpenPicture;
    request.FileName = fileName;
    requests_.push_back(request);
    return Next().FileName;
}

std::optional<QString> TScriptedDialogs::SavePicture(QWidget*, const QString& fileName) {
    TRequest request;
    request.Kind = TKind::SavePicture;
    request.FileName = fileName;
    requests_.push_back(request);
    return Next().FileName;
}

std::optional<TColor> TScriptedDialogs::PickColor(QWidget*, TColor initial) {
    TRequest request;
    request.Kind = TKind::PickColor;
    request.Color = initial;
    requests_.push_back(request);
    return Next().Color;
}

int TScriptedDialogs::Confirm(QWidget*, const QString& caption, const QString& text, TMsgIcon icon,
                              const QStringList& buttons, int defaultButton) {
    TRequest request;
    request.Kind = TKind::Confirm;
    request.Caption = caption;
    request.Text = text;
    request.Icon = icon;
    request.Buttons = buttons;
    request.DefaultButton = defaultButton;
    requests_.push_back(request);
    const int button = Next().Button;
    return button >= 0 && button < buttons.size() ? button : -1;
}

void TScriptedDialogs::Message(QWidget*, const QString& caption, const QString& text, TMsgIcon icon) {
    TRequest request;
    request.Kind = TKind::Message;
    request.Caption = caption;
    request.Text = text;
    request.Icon = icon;
    request.Buttons = QStringList{QStringLiteral("OK")};
    request.DefaultButton = 0;
    requests_.push_back(request);
}

void TScriptedDialogs::OpenUrl(const QUrl& url) {
    TRequest request;
    request.Kind = TKind::OpenUrl;
    request.Url = url;
    requests_.push_back(request);
}

// ---- Dialog components ------------------------------------------------------

bool TPictureFileDialog::Execute() {
    const std::optional<QString> name = (Dialogs().*ask_)(owner_, fileName_);
    if (!name)
        return false;
    fileName_ = *name;
    return true;
}

bool TColorDialog::Execute() {
    const std::optional<TColor> color = Dialogs().PickColor(owner_, color_);
    if (!color)
        return false;
    color_ = *color;
    return true;
}
