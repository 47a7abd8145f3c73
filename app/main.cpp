#include "app/artwork.h"
#include "app/commandline.h"
#include "app/form1.h"
#include "app/startup.h"
#include "export/staletemp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    kestrovia::setApplicationIdentity(QStringLiteral(KESTROVIA_VERSION), QStringLiteral(KESTROVIA_APP_ID));

    // --help and --version are answered by a console-only application, before any
    // window system is reached, so that they work without a display.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments.append(QString::fromLocal8Bit(argv[i]));
    if (kestrovia::CommandLine(rawArguments).asksForTextOnly()) {
        QCoreApplication app(argc, argv);
        kestrovia::installQtTranslations(app);
        return kestrovia::CommandLine(QCoreApplication::arguments()).answer().value_or(0);
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
    const auto form1 = kestrovia::openMainWindow(commandLine.files());
    return app.exec();
}
