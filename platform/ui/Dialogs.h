#pragma once
// Every modal question the program asks goes through one seam, TDialogs: the
// production implementation opens Qt's dialogs and message boxes, the scripted
// one answers from a queue and records what was asked, so that tests never
// enter a real modal loop. Opening a web address goes through it too.
//
// The seam-backed dialog objects below (TOpenPictureDialog,
// TSavePictureDialog, TColorDialog) keep their own state between uses the way
// the platform's dialog components do, and ask the seam when executed.

#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "Graphics.h"

class QWidget;

enum class TMsgIcon { None, Error, Warning, Information, Question };

class TDialogs {
public:
    virtual ~TDialogs();

    // A picture file to read, or nothing when cancelled. `fileName` is the
    // name proposed (the dialog's last one; may be empty).
    virtual std::optional<QString> OpenPicture(QWidget* parent, const QString& fileName) = 0;
    // A file name to write, or nothing when cancelled. `fileName` is proposed.
    virtual std::optional<QString> SavePicture(QWidget* parent, const QString& fileName) = 0;
    // A colour, or nothing when cancelled; the dialog opens on `initial`.
    virtual std::optional<TColor> PickColor(QWidget* parent, TColor initial) = 0;
    // A box with `buttons` (texts with "&" mnemonics), `defaultButton` the
    // index of the default one. Gives the index of the pressed button, or -1
    // when the box was closed without one.
    virtual int Confirm(QWidget* parent, const QString& caption, const QString& text, TMsgIcon icon,
                        const QStringList& buttons, int defaultButton) = 0;
    // A box with one OK button and the given icon.
    virtual void Message(QWidget* parent, const QString& caption, const QString& text, TMsgIcon icon) = 0;
    // Hands a web address to the desktop.
    virtual void OpenUrl(const QUrl& url) = 0;
};

// The type list of the picture dialogs, from the decoders' format table:
// "All (*.bmp *.jpg ...)" first, then one entry per format.
QString PictureFilter();

// The seam in use. Unless something else was installed, the production one.
TDialogs& Dialogs();
// Makes `dialogs` the seam in use (null restores the production one) and
// gives back the one it replaces.
std::unique_ptr<TDialogs> InstallDialogs(std::unique_ptr<TDialogs> dialogs);

// Qt's dialogs, each shown modally over `parent`.
class TQtDialogs : public TDialogs {
public:
    std::optional<QString> OpenPicture(QWidget* parent, const QString& fileName) override;
    std::optional<QString> SavePicture(QWidget* parent, const QString& fileName) override;
    std::optional<TColor> PickColor(QWidget* parent, TColor initial) override;
    int Confirm(QWidget* parent, const QString& caption, const QString& text, TMsgIcon icon,
                const QStringList& buttons, int defaultButton) override;
    void Message(QWidget* parent, const QString& caption, const QString& text, TMsgIcon icon) override;
    void OpenUrl(const QUrl& url) override;
};

// Answers from a script and records every request, for tests.
class TScriptedDialogs : public TDialogs {
public:
    enum class TKind { OpenPicture, SavePicture, PickColor, Confirm, Message, OpenUrl };

    struct TRequest {
        TKind Kind = TKind::Message;
        QString Caption;
        QString Text;
        TMsgIcon Icon = TMsgIcon::None;
        QStringList Buttons;
        int DefaultButton = -1;
        QString FileName;      // proposed file name (open and save)
        TColor Color = 0;      // initial colour (colour dialog)
        QUrl Url;              // opened address
    };

    // One scripted answer. An unset field means "cancelled" (for the file
    // and colour dialogs); Button -1 means "closed without a button".
    struct TAnswer {
        std::optional<QString> FileName;
        std::optional<TColor> Color;
        int Button = -1;

        static TAnswer File(const QString& name) { return {name, std::nullopt, -1}; }
        static TAnswer Colour(TColor color) { return {std::nullopt, color, -1}; }
        static TAnswer Press(int button) { return {std::nullopt, std::nullopt, button}; }
        static TAnswer Cancel() { return {std::nullopt, std::nullopt, -1}; }
    };

    // Answers are used in order; with the script empty every file or colour
    // dialog is cancelled and every question closed without an answer.
    void Script(TAnswer answer) { answers_.push_back(std::move(answer)); }
    const std::vector<TRequest>& Requests() const { return requests_; }
    std::size_t PendingAnswers() const { return answers_.size(); }
    void Clear() { requests_.clear(); answers_.clear(); }

    std::optional<QString> OpenPicture(QWidget* parent, const QString& fileName) override;
    std::optional<QString> SavePicture(QWidget* parent, const QString& fileName) override;
    std::optional<TColor> PickColor(QWidget* parent, TColor initial) override;
    int Confirm(QWidget* parent, const QString& caption, const QString& text, TMsgIcon icon,
                const QStringList& buttons, int defaultButton) override;
    void Message(QWidget* parent, const QString& caption, const QString& text, TMsgIcon icon) override;
    void OpenUrl(const QUrl& url) override;

private:
    TAnswer Next();
    std::vector<TRequest> requests_;
    std::deque<TAnswer> answers_;
};

// A picture file dialog component: proposes FileName and keeps the chosen
// name between uses, as the platform's dialog components do.
class TPictureFileDialog {
public:
    bool Execute();
    QString FileName() const { return fileName_; }
    void SetFileName(const QString& name) { fileName_ = name; }

protected:
    using TAsk = std::optional<QString> (TDialogs::*)(QWidget*, const QString&);
    TPictureFileDialog(QWidget* owner, TAsk ask) : owner_(owner), ask_(ask) {}

private:
    QWidget* owner_;
    TAsk ask_;
    QString fileName_;
};

// The picture-open dialog component.
class TOpenPictureDialog : public TPictureFileDialog {
public:
    explicit TOpenPictureDialog(QWidget* owner) : TPictureFileDialog(owner, &TDialogs::OpenPicture) {}
};

// The picture-save dialog component.
class TSavePictureDialog : public TPictureFileDialog {
public:
    explicit TSavePictureDialog(QWidget* owner) : TPictureFileDialog(owner, &TDialogs::SavePicture) {}
};

// The colour dialog component: black at first, then the last confirmed colour.
class TColorDialog {
public:
    explicit TColorDialog(QWidget* owner) : owner_(owner) {}
    bool Execute();
    TColor Color() const { return color_; }
    void SetColor(TColor color) { color_ = color; }

private:
    QWidget* owner_;
    TColor color_ = clBlack;
};
