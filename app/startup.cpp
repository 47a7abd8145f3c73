#include "app/startup.h"

#include "app/form1.h"

#include <QGuiApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <dlfcn.h>
#include <sys/stat.h>

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

namespace {

// Whether the X server display names takes a connection, asked through libxcb, which
// Qt's own X11 integration loads as well; without it X11 is taken to be out of reach.
bool xServerAnswers(const QByteArray &display)
{
    void *xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb)
        return false;
    using Connect = void *(*)(const char *, int *);
    using HasError = int (*)(void *);
    using Disconnect = void (*)(void *);
    const auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
    bool answers = false;
    if (connect && hasError && disconnect) {
        void *connection = connect(display.constData(), nullptr);
        answers = connection && hasError(connection) == 0;
        if (connection)
            disconnect(connection); // also a failed connection is freed by it
    }
    ::dlclose(xcb);
    return answers;
}

bool waylandAnswers(const QByteArray &name)
{
    QByteArray socket = name;
    if (!socket.startsWith('/'))
        socket = qgetenv("XDG_RUNTIME_DIR") + '/' + name;
    struct stat st { };
    return ::stat(socket.constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

} // namespace

bool windowSystemReachable(const QStringList &rawArguments)
{
    QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    for (qsizetype i = 1; i + 1 < rawArguments.size(); ++i) {
        if (rawArguments[i] == u"-platform" || rawArguments[i] == u"--platform")
            platform = rawArguments[i + 1];
    }
    const QByteArray display = qgetenv("DISPLAY");
    // "xcb:option=..." or a list "xcb;wayland": the first is tried first.
    const QString first = platform.section(u';', 0, 0).section(u':', 0, 0).trimmed();
    if (!first.isEmpty() && first != u"xcb")
        return true; // offscreen, wayland, vnc...: Qt says itself what it lacks
    if (!display.isEmpty() && xServerAnswers(display))
        return true;
    if (!first.isEmpty())
        return platform.contains(u';'); // an X11 that does not answer; a fallback may
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    if (!wayland.isEmpty() && waylandAnswers(wayland)) {
        qputenv("QT_QPA_PLATFORM", "wayland");
        return true;
    }
    return false;
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
