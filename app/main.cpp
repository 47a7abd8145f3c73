#include "app/artwork.h"
#include "app/form1.h"
#include "export/privatetemp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrovia"));
    QApplication::setWindowIcon(kestrovia::programIcon());
    // Temporary files of copies that were killed are nobody's any more.
    kestrovia::removeStaleTempFiles();
    // The first release wrote its bitmap beside the program.
    kestrovia::removeStaleTempFiles(QCoreApplication::applicationDirPath());
    kestrovia::Form1 form1;
    form1.show();
    return app.exec();
}
