#include "app/startup.h"

#include "app/drophandler.h"
#include "app/form1.h"

#include <QGuiApplication>

namespace kestrovia {

void setApplicationIdentity(const QString &version, const QString &desktopFileName)
{
    QCoreApplication::setApplicationName(QStringLiteral("Kestrovia"));
    QCoreApplication::setApplicationVersion(version);
    QGuiApplication::setDesktopFileName(desktopFileName);
}

std::unique_ptr<Form1> openMainWindow(const QStringList &files)
{
    auto form1 = std::make_unique<Form1>();
    form1->show();
    form1->dropHandler()->appendFiles(files);
    return form1;
}

} // namespace kestrovia
