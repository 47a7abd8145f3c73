#pragma once
// The program's command line: --help, --version, the files to queue, and the
// action that converts them without the main window (--convert).

#include "app/convertwindow.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <optional>

namespace kestrovia {

class CommandLine {
public:
    // Parses arguments, the program's name first. Qt's own options (-platform,
    // -style, ...) count as unknown here: parse what QApplication has left.
    explicit CommandLine(const QStringList &arguments);

    // main()'s arguments as the bytes they were given as: a file name need not be
    // UTF-8, and Qt's own conversion would turn such a byte into U+FFFD and so name
    // another file (decodeFileName).
    static QStringList argumentsOf(int argc, char **argv);

    // True when the command line is well formed and asks only for a printed answer,
    // which needs no window system (and so no display).
    bool asksForTextOnly() const;

    // Exit code of a command line that cannot be understood (an unknown option).
    static constexpr int kUsageError = 2;

    // Prints what the command line asks for and returns the exit code: the help
    // text or the version on standard output (0), or an unknown option with the
    // usage on standard error, in Japanese (kUsageError). Nothing, and no output,
    // when the window is to open.
    // The help text's headings and the parse errors are in the language of the
    // translators that the application object (which must exist) had at parsing.
    std::optional<int> answer() const;

    // The named files, as given (relative names are left to the working folder).
    QStringList files() const;

    // What --convert asks for; nullopt when the window is to open (or the command
    // line is not understood: answer() says so).
    std::optional<ConvertRequest> convertRequest() const;

private:
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
    ConvertOptions m_convert;
    bool m_parsed = false;
    QString m_programName;
};

} // namespace kestrovia
