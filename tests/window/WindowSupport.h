#pragma once
// Shared pieces of the window tests: readable QString output, the scripted
// dialog seam, and a main window whose loads are recorded instead of done.

#include <gtest/gtest.h>

#include "Application.h"
#include "Dialogs.h"
#include "Main.h"

#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

inline TScriptedDialogs& Scripted() { return static_cast<TScriptedDialogs&>(Dialogs()); }

// The message boxes asked for so far, as "caption|text|icon" lines, icon
// given as a number of TMsgIcon.
inline QStringList Messages() {
    QStringList shown;
    for (const auto& request : Scripted().Requests())
        if (request.Kind == TScriptedDialogs::TKind::Message)
            shown << request.Caption + u'|' + request.Text + u'|' + QString::number(int(request.Icon));
    return shown;
}

// The window with its loader replaced by a recorder.
class TRecordingWindow : public Tfmain {
public:
    QStringList Loaded;
    using Tfmain::FLoaded;
    using Tfmain::FPreview;
    using Tfmain::FSourceHeight;
    using Tfmain::FSourceWidth;
    using Tfmain::EndColorPick;
    using Tfmain::SetTransparentColor;

protected:
    void LoadSourceImage(const QString& path) override { Loaded << path; }
};

// The window as it is, with its state and its protected steps reachable.
class TLoadingWindow : public Tfmain {
public:
    using Tfmain::FLoaded;
    using Tfmain::FPreview;
    using Tfmain::FSourceHeight;
    using Tfmain::FSourceWidth;
    using Tfmain::LoadSourceImage;
    using Tfmain::PreviewSize;
    using Tfmain::ShowPreview;
};

// Every test starts with no requests recorded and the standard look.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { Scripted().Clear(); }
    void TearDown() override {
        Scripted().Clear();
        Application()->SetExeName(QString());
        qApp->setStyleSheet(QString());
    }
};
