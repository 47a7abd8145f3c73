#include "app/artwork.h"
#include "app/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrovia"));
    QApplication::setWindowIcon(kestrovia::programIcon());
    kestrovia::Form1 form1;
    form1.show();
    return app.exec();
}
