#include "app/artwork.h"
#include "app/batchcommand.h"
#include "app/commandline.h"
#include "app/form1.h"
#include "app/startup.h"
#include "export/staletemp.h"
#include "platform/filename.h"
#include "platform/japanese.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cstdio>

int main(int argc, char *argv[])
{
    kestrovia::setApplicationIdentity(QStringLiteral(KESTROVIA_VERSION), QStringLiteral(KESTROVIA_APP_ID));

    // --help and --version are answered by a console-only application, before any
    // window system is reached, so that they work without a display.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments.append(QString::fromLocal8Bit(argv[i]));
    // The batch without a window never reaches a window system: it runs over SSH
    // and from cron with no display.
    if (kestrovia::asksForBatch(rawArguments)) {
        QCoreApplication app(argc, argv);
        kestrovia::installQtTranslations(app);
        return kestrovia::runBatchCommand(QCoreApplication::arguments());
    }
    if (kestrovia::CommandLine(rawArguments).asksForTextOnly()) {
        QCoreApplication app(argc, argv);
        kestrovia::installQtTranslations(app);
        return kestrovia::CommandLine(QCoreApplication::arguments()).answer().value_or(0);
    }

    if (!kestrovia::windowSystemNamed(rawArguments)) {
        QCoreApplication app(argc, argv);
        kestrovia::installQtTranslations(app);
        if (const auto exitCode = kestrovia::CommandLine(QCoreApplication::arguments()).answer())
            return *exitCode;
        std::fputs(kestrovia::ja("%1: 画面（ディスプレイ）に接続できないため、ウィンドウを開けません。"
                                 "DISPLAY または WAYLAND_DISPLAY が設定された環境で起動してください。\n")
                       .arg(QFileInfo(QCoreApplication::applicationFilePath()).fileName())
                       .toUtf8()
                       .constData(),
                   stderr);
        return 1;
    }

    // QApplication takes its own options (-platform, -style, ...) out of the
    // arguments; what is left is ours.
    QApplication app(argc, argv);
    kestrovia::installQtTranslations(app);
    const kestrovia::CommandLine commandLine(QCoreApplication::arguments());
    if (const auto exitCode = commandLine.answer())
        return *exitCode;

    QApplication::setWindowIcon(kestrovia::programIcon());
    // Temporary files of copies that were killed are nobody's any more.
    kestrovia::removeStaleTempFiles();
    // The first release wrote its bitmap beside the program.
    kestrovia::removeStaleTempFiles(QCoreApplication::applicationDirPath());
    // Qt's arguments lose the bytes of a name that is no UTF-8; the names are taken
    // again from the bytes they were given as.
    QHash<QString, QString> nameOf;
    for (int i = 1; i < argc; ++i)
        nameOf.insert(QFile::decodeName(argv[i]), kestrovia::decodeFileName(argv[i]));
    QStringList files;
    for (const QString &file : commandLine.files())
        files.append(nameOf.value(file, file));
    const auto form1 = kestrovia::openMainWindow(files);
    return app.exec();
}
