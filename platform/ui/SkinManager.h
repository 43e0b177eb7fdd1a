#pragma once
// The skin manager: gives every window of the application the look of a
// named skin found in a folder.
//
// A skin named N in folder F is looked for first as the packed file F/N.asz,
// then as the folder F/N holding "Options.dat"; the first one found is used.
// Both hold a Qt style sheet: "Options.dat" as UTF-8 text, "N.asz" the same
// text packed with qCompress (zlib data behind a 4-byte big-endian length of
// the unpacked text). Controls name their part of the skin in the dynamic
// property "skinSection" ("BUTTON", "COMBOBOX", "EDIT", ...), which the sheet
// selects with attribute selectors such as QPushButton[skinSection="BUTTON"].
//
// No skin found: the standard look, silently. A skin that is found but
// cannot be read, unpacked, decoded or parsed: one error box through the
// dialog seam, then the standard look.

#include <QString>

#include "Exception.h"

// A skin that was found could not be read, unpacked, decoded or parsed. The
// skin manager reports it in its own words and goes on with the standard look.
class ESkinError : public Exception {
public:
    using Exception::Exception;
};

class TsSkinManager {
public:
    bool Active() const { return active_; }
    // Switching on loads the skin and applies it to the whole application;
    // switching off restores the standard look.
    void SetActive(bool active);

    // The folder holding the skin, with or without a trailing separator.
    QString SkinDirectory() const { return skinDirectory_; }
    void SetSkinDirectory(const QString& folder) { skinDirectory_ = folder; }
    QString SkinName() const { return skinName_; }
    void SetSkinName(const QString& name) { skinName_ = name; }

    // Where the skin in use was read from; empty while none is applied.
    QString LoadedFrom() const { return loadedFrom_; }

private:
    void Load();
    bool active_ = false;
    QString skinDirectory_;
    QString skinName_;
    QString loadedFrom_;
};

// Checks a style sheet the way Qt will read it. Returns an empty text when Qt
// accepts it, otherwise why not.
QString StyleSheetProblem(const QString& sheet);
