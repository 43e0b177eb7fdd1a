#pragma once
// The About window: the logo, the program's title with its short version, the
// rights notice, the maker's web address and the machine's total memory.
//
// The window is built from the stored layout resources/ui/About.ui; its
// controls are members under their layout names (Image1, lbversion, sLabel1,
// sLabel2, sBevel1, sWebLabel1, lbmemory, sButton1). It lives for one modal
// showing: ShowAbout() makes it, shows it and destroys it.

#include <QDialog>

#include <cstdint>
#include <functional>

#include "ui_About.h"

// The maker's web address, shown and opened by the link labels of both
// windows.
extern const char* const kMakerAddress;

// The total physical memory of the machine in bytes.
using TMemoryQuery = std::function<std::uint64_t()>;

// The system's figure: sysinfo's total RAM, times its unit, in 64 bits, so
// that machines with more than 4 GB are shown as they are.
std::uint64_t TotalPhysicalMemory();

// Makes `query` the source of the memory figure (empty restores the system's)
// and gives back the one it replaces. For tests.
TMemoryQuery InstallMemoryQuery(TMemoryQuery query);

// "Memory : N MB " (ending in a blank), N being `totalBytes` divided by 1024
// twice with the remainder dropped each time.
QString MemoryCaption(std::uint64_t totalBytes);

class Tfabout : public QDialog, public Ui::Tfabout {
    Q_OBJECT
public:
    // Builds the controls and runs FormCreate; an exception from it leaves
    // the constructor and no window is made.
    explicit Tfabout(QWidget* owner = nullptr);
    ~Tfabout() override;

    // Fills the two computed labels: the title with " (v<short version>)"
    // read from the program's own file, and the memory line.
    void FormCreate();
    // The Close button: closes the window, which ends its modal showing.
    void sButton1Click();
};

// Creates the About window, centred over `owner` (the application's active
// window when null), shows it modally and destroys it when it closes. The
// window is destroyed as well when making or showing it raises; the
// exception then travels on to the caller.
void ShowAbout(QWidget* owner = nullptr);

// The About window while ShowAbout() runs, null otherwise.
extern Tfabout* fabout;
