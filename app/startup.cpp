#include "app/startup.h"

#include "app/form1.h"

#include <QGuiApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace kestrovia {

void setApplicationIdentity(const QString &version, const QString &desktopFileName)
{
    QCoreApplication::setApplicationName(QStringLiteral("Kestrovia"));
    QCoreApplication::setApplicationVersion(version);
    QGuiApplication::setDesktopFileName(desktopFileName);
}

QTranslator *installQtTranslations(QCoreApplication &app)
{
    // Owned by the application, so it lives as long as the texts it serves.
    auto translator = std::make_unique<QTranslator>(&app);
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    return translator.release();
}

bool windowSystemNamed(const QStringList &rawArguments)
{
    const auto named = [](const char *variable) { return !qEnvironmentVariableIsEmpty(variable); };
    if (named("QT_QPA_PLATFORM") || named("WAYLAND_DISPLAY") || named("DISPLAY"))
        return true;
    return rawArguments.contains(QStringLiteral("-platform")) || rawArguments.contains(QStringLiteral("--platform"));
}

std::unique_ptr<Form1> openMainWindow(const QStringList &files, const QList<NotAdded> &notAdded)
{
    auto form1 = std::make_unique<Form1>();
    form1->restoreSettings();
    form1->show();
    form1->appendFiles(files, notAdded);
    return form1;
}

} // namespace kestrovia
