#include "app/artwork.h"
#include "app/batchcommand.h"
#include "app/commandline.h"
#include "app/form1.h"
#include "app/startup.h"
#include "export/staletemp.h"
#include "platform/japanese.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char *argv[])
{
    kestrovia::setApplicationIdentity(QStringLiteral(KESTROVIA_VERSION), QStringLiteral(KESTROVIA_APP_ID));

    // --help and --version are answered by a console-only application, before any
    // window system is reached, so that they work without a display.
    const QStringList rawArguments = kestrovia::CommandLine::argumentsOf(argc, argv);
    // The batch without a window never reaches a window system: it runs over SSH
    // and from cron with no display. Its names keep their bytes as the window's do.
    if (kestrovia::asksForBatch(rawArguments)) {
        QCoreApplication app(argc, argv);
        kestrovia::installQtTranslations(app);
        return kestrovia::runBatchCommand(rawArguments);
    }
    if (kestrovia::CommandLine(rawArguments).asksForTextOnly()) {
        QCoreApplication app(argc, argv);
        kestrovia::installQtTranslations(app);
        return kestrovia::CommandLine(QCoreApplication::arguments()).answer().value_or(0);
    }

    if (!kestrovia::windowSystemReachable(rawArguments)) {
        QCoreApplication app(argc, argv);
        kestrovia::installQtTranslations(app);
        if (const auto exitCode = kestrovia::CommandLine(QCoreApplication::arguments()).answer())
            return *exitCode;
        const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        const QString display = qEnvironmentVariable("DISPLAY");
        const QString reason =
            display.isEmpty()
                ? kestrovia::ja("%1: 画面（ディスプレイ）に接続できないため、ウィンドウを開けません。"
                                "DISPLAY または WAYLAND_DISPLAY が設定された環境で起動してください。\n")
                      .arg(program)
                : kestrovia::ja("%1: 画面（ディスプレイ）「%2」に接続できないため、ウィンドウを開けません。"
                                "その画面が今も使えるか（DISPLAY の値が正しいか）確かめてください。\n")
                      .arg(program, display);
        std::fputs(reason.toUtf8().constData(), stderr);
        return 1;
    }

    // QApplication takes its own options (-platform, -style, ...) out of the
    // arguments; what is left is ours.
    QApplication app(argc, argv);
    kestrovia::installQtTranslations(app);
    // QApplication took its own options out of argv.
    const kestrovia::CommandLine commandLine(kestrovia::CommandLine::argumentsOf(argc, argv));
    if (const auto exitCode = commandLine.answer())
        return *exitCode;

    QApplication::setWindowIcon(kestrovia::programIcon());
    // The file manager's menu: a small progress window, no main window.
    if (const auto request = commandLine.convertRequest())
        return kestrovia::runConvertAction(*request);
    // Temporary files of copies that were killed are nobody's any more.
    kestrovia::removeStaleTempFiles();
    // The first release wrote its bitmap beside the program.
    kestrovia::removeStaleTempFiles(QCoreApplication::applicationDirPath());
    const auto form1 = kestrovia::openMainWindow(commandLine.files());
    return app.exec();
}
