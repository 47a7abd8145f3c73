#include "app/commandline.h"
#include "app/batchcommand.h"
#include "platform/filename.h"
#include "platform/japanese.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

namespace kestrovia {

namespace {

void print(std::FILE *stream, const QString &text) { std::fputs(text.toUtf8().constData(), stream); }

} // namespace

CommandLine::CommandLine(const QStringList &arguments)
    : m_help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("この説明を表示して終了します。"))
    , m_version({QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("バージョンを表示して終了します。"))
{
    // Our own help and version options: Qt's stock ones bring English descriptions
    // that Qt's Japanese translation leaves untranslated.
    m_parser.setApplicationDescription(
        QStringLiteral("画像をまとめてリサイズ・再構成し、JPEG ファイルに保存します。\n"
                       "指定したファイルは、一覧にドロップしたときと同じ規則と設定パネルの値で一覧に加わります。\n"
                       "ウィンドウが開いている間にもう一度起動すると、もう一つのウィンドウが開きます。"));
    m_parser.addOption(m_help);
    m_parser.addOption(m_version);
    m_convert.addTo(m_parser);
    m_parser.addPositionalArgument(QStringLiteral("ファイル"), QStringLiteral("一覧に加える画像ファイル。"),
                                   QStringLiteral("[ファイル...]"));
    m_parsed = m_parser.parse(arguments);
    m_programName = QFileInfo(arguments.value(0)).fileName();
}

QStringList CommandLine::argumentsOf(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(decodeFileName(argv[i]));
    return arguments;
}

bool CommandLine::asksForTextOnly() const { return m_parsed && (m_parser.isSet(m_help) || m_parser.isSet(m_version)); }

std::optional<int> CommandLine::answer() const
{
    const auto convertError = [this]() -> QString {
        if (!m_convert.given(m_parser))
            return {};
        const auto request = m_convert.requestOf(m_parser);
        return std::holds_alternative<QString>(request) ? std::get<QString>(request) : QString();
    };
    if (!m_parsed || (!asksForTextOnly() && !convertError().isEmpty())) {
        // Our own words: Qt's parse errors are English where its translation has none.
        const QStringList unknown = m_parser.unknownOptionNames();
        QString what = m_parser.errorText();
        if (m_parsed)
            what = convertError();
        else if (!unknown.isEmpty())
            what =
                ja("不明なオプション「%1」があります。")
                    .arg(unknown.first().size() == 1 ? u'-' + unknown.first() : QStringLiteral("--") + unknown.first());
        print(stderr, ja("%1: %2\n使い方: %1 [ファイル...]\n　　　 %1 --convert [--last | --preset NAME | "
                         "--choose-preset] ファイル...\n"
                         "詳しい説明は「%1 --help」で表示します。\n")
                          .arg(m_programName, what));
        return kUsageError;
    }
    if (m_parser.isSet(m_help)) {
        print(stdout, m_parser.helpText() + ja("\nウィンドウを開かずに変換する（%1 --batch [オプション] ファイル...）:\n")
                                                  .arg(m_programName)
                                          + batchOptionsHelp());
        return 0;
    }
    if (m_parser.isSet(m_version)) {
        print(stdout, QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n');
        return 0;
    }
    return std::nullopt;
}

QStringList CommandLine::files() const { return m_parser.positionalArguments(); }

std::optional<ConvertRequest> CommandLine::convertRequest() const
{
    if (!m_parsed || asksForTextOnly() || !m_convert.given(m_parser))
        return std::nullopt;
    const auto request = m_convert.requestOf(m_parser);
    if (const auto *r = std::get_if<ConvertRequest>(&request))
        return *r;
    return std::nullopt;
}

} // namespace kestrovia
