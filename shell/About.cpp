#include "About.h"

#include "Application.h"
#include "BitmapImage.h"
#include "Controls.h"
#include "GloxenResources.h"
#include "Libfunc.h"

#include <QGuiApplication>
#include <QImage>
#include <QPushButton>

#include <memory>
#include <utility>

#include <sys/sysinfo.h>

const char* const kMakerAddress = "www.narvell.example";

Tfabout* fabout = nullptr;

namespace {

TMemoryQuery& MemoryQuery() {
    static TMemoryQuery query;
    return query;
}

}  // namespace

std::uint64_t TotalPhysicalMemory() {
    struct sysinfo info {};
    if (::sysinfo(&info) != 0)
        return 0;
    // totalram counts units of mem_unit bytes; both are at most 64 bits wide
    // together on every machine Linux runs on.
    return std::uint64_t(info.totalram) * std::uint64_t(info.mem_unit == 0 ? 1 : info.mem_unit);
}

TMemoryQuery InstallMemoryQuery(TMemoryQuery query) {
    return std::exchange(MemoryQuery(), std::move(query));
}

QString MemoryCaption(std::uint64_t totalBytes) {
    const std::uint64_t megabytes = totalBytes / 1024 / 1024;
    return QStringLiteral("Memory : ") + QString::number(megabytes) + QStringLiteral(" MB ");
}

Tfabout::Tfabout(QWidget* owner) : QDialog(owner) {
    setupUi(this);
    InitGloxenResources();

    // A fixed-size dialog box: a title bar with the close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(365, 161);
    // Every control gets its face itself: while a skin is active, Qt gives
    // children the application's font instead of their window's.
    setFont(DesignFont(11));
    for (QWidget* control : std::initializer_list<QWidget*>{sLabel1, sLabel2, lbmemory, sButton1})
        control->setFont(DesignFont(11));
    lbversion->setFont(DesignFont(15));
    sWebLabel1->setFont(DesignFont(13));

    Image1->SetAutoSize(true);
    Image1->SetBitmap(QImageToBitmap(QImage(QStringLiteral(":/pictures/logo96.png"))));
    for (QLabel* label : {lbversion, sLabel1, sLabel2, lbmemory}) {
        QPalette colours = label->palette();
        colours.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(colours);
    }
    sWebLabel1->setText(QString::fromLatin1(kMakerAddress));
    sWebLabel1->SetURL(QString::fromLatin1(kMakerAddress));

    connect(sButton1, &QPushButton::clicked, this, Guarded([this] { sButton1Click(); }));

    FormCreate();

    // Labels take the size of their text, growing to the right.
    for (QLabel* label : std::initializer_list<QLabel*>{lbversion, sLabel1, sLabel2, sWebLabel1, lbmemory})
        label->adjustSize();
}

Tfabout::~Tfabout() = default;

void Tfabout::FormCreate() {
    lbversion->setText(QStringLiteral("Gloxen"));
    const std::string version = GetShortVersion(Application()->ExeName().toLocal8Bit().toStdString());
    lbversion->setText(lbversion->text() + QStringLiteral(" (v") + QString::fromLocal8Bit(version) +
                       QStringLiteral(")"));

    const TMemoryQuery& query = MemoryQuery();
    lbmemory->setText(MemoryCaption(query ? query() : TotalPhysicalMemory()));
}

void Tfabout::sButton1Click() { close(); }

void ShowAbout(QWidget* owner) {
    if (owner == nullptr)
        owner = QApplication::activeWindow();
    // Owned here, not by `owner`: the window goes when this call ends, on
    // every way out.
    auto window = std::make_unique<Tfabout>(owner);
    if (owner != nullptr) {
        const QRect over = owner->frameGeometry();
        window->move(over.center() - window->rect().center());
    }
    struct TClearGlobal {
        ~TClearGlobal() { fabout = nullptr; }
    } clearGlobal;
    fabout = window.get();
    window->exec();
}
