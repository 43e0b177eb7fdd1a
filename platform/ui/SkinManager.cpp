#include "SkinManager.h"

#include "Application.h"
#include "Dialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QWidget>

namespace {

// Qt reports a sheet it cannot parse only as a warning while polishing; this
// catches such warnings for the duration of one check.
QString* capturedWarning = nullptr;
QtMessageHandler previousHandler = nullptr;

void CaptureParseWarning(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (capturedWarning && type == QtWarningMsg && message.contains(QLatin1String("Could not parse"))) {
        *capturedWarning = message;
        return;
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

QString ReadSheet(const QString& path, bool packed) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ESkinError(file.errorString().toStdString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ESkinError(file.errorString().toStdString());
    if (packed) {
        // qUncompress gives nothing for damaged data, and also for a packed
        // empty text; an empty skin is useless either way.
        bytes = qUncompress(bytes);
        if (bytes.isEmpty())
            throw ESkinError("the packed data is damaged");
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString sheet = decoder.decode(bytes);
    if (decoder.hasError())
        throw ESkinError("the text is not valid UTF-8");
    if (sheet.startsWith(QChar(0xFEFF)))
        sheet.remove(0, 1);
    const QString problem = StyleSheetProblem(sheet);
    if (!problem.isEmpty())
        throw ESkinError(problem.toStdString());
    return sheet;
}

}  // namespace

QString StyleSheetProblem(const QString& sheet) {
    // Unbalanced braces are not always reported by Qt's parser; catch them here.
    int depth = 0;
    bool inString = false;
    QChar quote;
    for (qsizetype i = 0; i < sheet.size(); ++i) {
        const QChar c = sheet[i];
        if (inString) {
            if (c == u'\\')
                ++i;
            else if (c == quote)
                inString = false;
        } else if (c == u'"' || c == u'\'') {
            inString = true;
            quote = c;
        } else if (c == u'/' && i + 1 < sheet.size() && sheet[i + 1] == u'*') {
            const qsizetype end = sheet.indexOf(QLatin1String("*/"), i + 2);
            if (end < 0)
                return QStringLiteral("a comment is not closed");
            i = end + 1;
        } else if (c == u'{') {
            ++depth;
        } else if (c == u'}') {
            if (--depth < 0)
                return QStringLiteral("a \"}\" has no matching \"{\"");
        }
    }
    if (inString)
        return QStringLiteral("a quoted text is not closed");
    if (depth != 0)
        return QStringLiteral("a \"{\" is not closed");

    QString warning;
    capturedWarning = &warning;
    previousHandler = qInstallMessageHandler(CaptureParseWarning);
    {
        QWidget probe;
        probe.setStyleSheet(sheet);
        probe.ensurePolished();
    }
    qInstallMessageHandler(previousHandler);
    capturedWarning = nullptr;
    if (!warning.isEmpty())
        return QStringLiteral("the style sheet cannot be parsed");
    return QString();
}

void TsSkinManager::SetActive(bool active) {
    if (active == active_)
        return;
    active_ = active;
    if (active)
        Load();
    else if (!loadedFrom_.isEmpty()) {
        qApp->setStyleSheet(QString());
        loadedFrom_.clear();
    }
}

void TsSkinManager::Load() {
    const QDir folder(skinDirectory_);
    const QString packed = folder.filePath(skinName_ + QStringLiteral(".asz"));
    const QString unpacked = folder.filePath(skinName_ + QStringLiteral("/Options.dat"));

    QString path;
    if (QFileInfo(packed).isFile())
        path = packed;
    else if (QFileInfo(unpacked).isFile())
        path = unpacked;
    if (path.isEmpty() || skinName_.isEmpty()) {
        // Nothing to use and no skins of our own: the standard look.
        active_ = false;
        return;
    }

    try {
        const QString sheet = ReadSheet(path, path == packed);
        qApp->setStyleSheet(sheet);
        loadedFrom_ = path;
    } catch (const ESkinError& error) {
        active_ = false;
        const TApplication* application = Application();
        Dialogs().Message(nullptr, application ? application->Title() : QString(),
                          QStringLiteral("The skin \"%1\" cannot be loaded from \"%2\": %3.")
                              .arg(skinName_, QDir::toNativeSeparators(path), QString::fromStdString(error.Message())),
                          TMsgIcon::Error);
    }
}
