#include "app/batchcommand.h"

#include "app/batchrun.h"
#include "batch/batchpipeline.h"
#include "batch/batchplan.h"
#include "compose/picturelimits.h"
#include "compose/presets.h"
#include "export/outputname.h"
#include "joblist/dropimport.h"
#include "joblist/jobtable.h"
#include "platform/japanese.h"
#include "platform/numbers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace kestrovia {

namespace {

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

// The signal that asked the run to stop, and the pipe that wakes the event loop
// for it (a handler may only write).
volatile std::sig_atomic_t g_signal = 0;
int g_wake[2] = {-1, -1};

extern "C" void onStopSignal(int signal)
{
    if (g_signal == 0)
        g_signal = signal;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_wake[1], &byte, 1);
}

struct Options {
    QCommandLineOption batch{QStringLiteral("batch"), ja("ウィンドウを開かずに変換します。")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, ja("この説明を表示して終了します。")};
    QCommandLineOption preset{QStringLiteral("preset"), ja("プリセット NAME の設定で変換します（指定しない設定は初期値）。"),
                              QStringLiteral("NAME")};
    QCommandLineOption size{QStringLiteral("size"), ja("幅×高さ（ピクセル）に変換します（例: 640x480）。"),
                            QStringLiteral("WxH")};
    QCommandLineOption longEdge{QStringLiteral("long-edge"), ja("長辺を N ピクセルにします。"), QStringLiteral("N")};
    QCommandLineOption percent{QStringLiteral("percent"), ja("縦横を P % にします（1〜1000）。"), QStringLiteral("P")};
    QCommandLineOption shrinkOnly{QStringLiteral("shrink-only"), ja("元の画像より大きくしません。")};
    QCommandLineOption stretch{QStringLiteral("stretch"), ja("縦横比を保たず、新しいサイズ全体に引き伸ばします。")};
    QCommandLineOption background{QStringLiteral("background"), ja("余白の色（#RRGGBB、white、black）。"),
                                  QStringLiteral("COLOUR")};
    QCommandLineOption center{QStringLiteral("center"), ja("画像を中央に置きます（指定しなければ左上）。")};
    QCommandLineOption turn{QStringLiteral("turn"), ja("回転: 90（右）、-90（左）、180。"), QStringLiteral("90|-90|180")};
    QCommandLineOption level{QStringLiteral("level"), ja("圧縮レベル 0（高画質）〜10（小さいファイル）。"),
                             QStringLiteral("0-10")};
    QCommandLineOption format{QStringLiteral("format"), ja("保存形式。"), QStringLiteral("jpeg|webp|avif|png")};
    QCommandLineOption keepTransparency{QStringLiteral("keep-transparency"),
                                        ja("透明な部分を残します（webp、avif、png）。")};
    QCommandLineOption metadata{QStringLiteral("metadata"),
                                ja("メタデータ: すべて残す（all）、位置情報を除く（nolocation）、すべて除く（none）。"),
                                QStringLiteral("all|nolocation|none")};
    QCommandLineOption output{QStringLiteral("output"),
                              ja("保存先フォルダ（指定しなければ元の画像と同じフォルダ。ないときは作成します）。"),
                              QStringLiteral("DIR")};
    QCommandLineOption name{QStringLiteral("name"), ja("保存するファイル名のパターン（例: {名前}_web、{連番:3}）。"),
                            QStringLiteral("PATTERN")};
    QCommandLineOption overwrite{QStringLiteral("overwrite"), ja("以前 Kestrovia で保存したファイルを置き換えます。")};
    QCommandLineOption skip{QStringLiteral("skip"), ja("以前 Kestrovia で保存したファイルはそのままにします。")};
    QCommandLineOption jobs{QStringLiteral("jobs"), ja("同時に変換する画像の数（指定しなければ CPU のコア数）。"),
                            QStringLiteral("N")};

    QList<QCommandLineOption> all() const
    {
        return {batch,  help,     preset,   size,   longEdge, percent, shrinkOnly, stretch,   background, center,
                turn,   level,    format,   keepTransparency, metadata, output,  name,       overwrite, skip,       jobs};
    }
};

void describe(QCommandLineParser &parser, const Options &o)
{
    parser.setApplicationDescription(
        ja("kestrovia --batch [オプション] ファイルまたはフォルダ...\n"
           "ウィンドウを開かずに画像を変換します。指定しない設定はプリセット（--preset）または初期値です。\n"
           "終了状態: 0 すべて保存、1 保存できなかったファイルがある、2 コマンドラインの誤り、"
           "130/143 SIGINT/SIGTERM で中止（保存を終えたファイルはそのまま残ります）。"));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const QCommandLineOption &option : o.all())
        parser.addOption(option);
    parser.addPositionalArgument(ja("ファイル"), ja("変換する画像、または画像のあるフォルダ。"),
                                 ja("ファイルまたはフォルダ..."));
}

struct UsageError {
    QString text;
};

[[noreturn]] void badValue(const QString &option, const QString &value, const QString &why)
{
    throw UsageError{ja("--%1 の値「%2」は使えません（%3）。").arg(option, value, why)};
}

std::optional<int> wholeNumber(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

int wholeIn(const QCommandLineParser &parser, const QCommandLineOption &option, int low, int high)
{
    const QString text = parser.value(option);
    const auto value = wholeNumber(text);
    if (!value || *value < low || *value > high)
        badValue(option.names().last(), text, ja("%1〜%2 の整数").arg(low).arg(high));
    return *value;
}

// #RRGGBB (or RRGGBB) and two names, as the colour value a row keeps (0x00BBGGRR).
std::int32_t colourOf(const QString &text)
{
    const QString t = text.trimmed().toLower();
    if (t == u"white")
        return 0x00FFFFFF;
    if (t == u"black")
        return 0;
    static const QRegularExpression hex(QStringLiteral("^#?([0-9a-f]{6})$"));
    const QRegularExpressionMatch m = hex.match(t);
    if (!m.hasMatch())
        badValue(QStringLiteral("background"), text, ja("#RRGGBB、white、black のいずれか"));
    const uint rgb = m.captured(1).toUInt(nullptr, 16);
    return std::int32_t(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}

// The settings the options ask for, on top of the preset's or the start-up values.
RowSettings settingsOf(const QCommandLineParser &p, const Options &o)
{
    RowSettings s;
    if (p.isSet(o.preset)) {
        const QString name = p.value(o.preset);
        const std::optional<Preset> preset = findPreset(name);
        if (!preset) {
            QStringList names;
            for (const Preset &known : loadPresets())
                names.append(known.name);
            throw UsageError{ja("プリセット「%1」がありません（あるプリセット: %2）。").arg(name, names.join(ja("、")))};
        }
        s = preset->settings;
    }
    const int sizeRules = int(p.isSet(o.size)) + int(p.isSet(o.longEdge)) + int(p.isSet(o.percent));
    if (sizeRules > 1)
        throw UsageError{ja("--size、--long-edge、--percent は一つだけ指定してください。")};
    if (p.isSet(o.size)) {
        static const QRegularExpression wxh(QStringLiteral("^\\s*(\\d+)\\s*[xX×*]\\s*(\\d+)\\s*$"));
        const QString text = p.value(o.size);
        const QRegularExpressionMatch m = wxh.match(text);
        const int w = m.hasMatch() ? m.captured(1).toInt() : 0;
        const int h = m.hasMatch() ? m.captured(2).toInt() : 0;
        if (w < 1 || h < 1 || w > kMaxPictureSide || h > kMaxPictureSide)
            badValue(QStringLiteral("size"), text, ja("幅x高さ、各辺 1〜%1 ピクセル（例: 640x480）").arg(kMaxPictureSide));
        s.size.mode = SizeRule::Exact;
        s.size.exact = QSize(w, h);
    }
    if (p.isSet(o.longEdge)) {
        s.size.mode = SizeRule::LongEdge;
        s.size.longEdge = wholeIn(p, o.longEdge, 1, kMaxPictureSide);
    }
    if (p.isSet(o.percent)) {
        s.size.mode = SizeRule::Percent;
        s.size.percent = wholeIn(p, o.percent, 1, 1000);
    }
    if (p.isSet(o.shrinkOnly))
        s.size.shrinkOnly = true;
    if (p.isSet(o.stretch))
        s.keepAspect = false;
    if (p.isSet(o.background))
        s.backColor = colourOf(p.value(o.background));
    if (p.isSet(o.center))
        s.centred = true;
    if (p.isSet(o.turn)) {
        const QString text = p.value(o.turn).trimmed();
        if (text == u"90" || text == u"+90")
            s.turn = 90;
        else if (text == u"-90" || text == u"270")
            s.turn = 270;
        else if (text == u"180")
            s.turn = 180;
        else if (text == u"0")
            s.turn = 0;
        else
            badValue(QStringLiteral("turn"), text, ja("90、-90、180 のいずれか"));
    }
    if (p.isSet(o.level)) {
        const QString text = p.value(o.level);
        const auto value = parseDecimal(text);
        if (!value || *value < 0 || *value > 10)
            badValue(QStringLiteral("level"), text, ja("0〜10"));
        s.level = *value;
    }
    if (p.isSet(o.format)) {
        const QString text = p.value(o.format);
        const auto format = outputFormatOf(text.trimmed());
        if (!format)
            badValue(QStringLiteral("format"), text, ja("jpeg、webp、avif、png のいずれか"));
        s.format = *format;
    }
    if (p.isSet(o.keepTransparency))
        s.keepTransparency = true;
    if (p.isSet(o.metadata)) {
        const QString text = p.value(o.metadata).trimmed();
        if (text != celltext::MetadataKeepAll && text != celltext::MetadataDropLocation
            && text != celltext::MetadataDropAll)
            badValue(QStringLiteral("metadata"), text, ja("all、nolocation、none のいずれか"));
        s.metadata = metadataChoiceOf(text);
    }
    if (p.isSet(o.output)) {
        const QString text = p.value(o.output);
        if (text.isEmpty())
            badValue(QStringLiteral("output"), text, ja("フォルダ名が空です"));
        const QFileInfo folder(text);
        if (folder.exists() && !folder.isDir())
            badValue(QStringLiteral("output"), text, ja("フォルダではありません"));
        s.folder = QDir::cleanPath(folder.absoluteFilePath()) + u'/';
    }
    if (p.isSet(o.name)) {
        const QString text = p.value(o.name);
        const NamePattern pattern(text);
        if (!pattern.error().isEmpty())
            badValue(QStringLiteral("name"), text, pattern.error());
        s.namePattern = text;
    }
    if (p.isSet(o.overwrite) && p.isSet(o.skip))
        throw UsageError{ja("--overwrite と --skip は一緒に指定できません。")};
    return s;
}

// Progress on standard error: one bar redrawn in place on a terminal, one line a
// file otherwise (a log, a pipe, cron's mail).
class Progress {
public:
    explicit Progress(int total)
        : m_total(total)
        , m_terminal(::isatty(STDERR_FILENO) == 1)
    {
    }

    void rowDone(const RowOutcome &o)
    {
        ++m_done;
        if (m_terminal) {
            constexpr int kWidth = 30;
            const int filled = m_total > 0 ? m_done * kWidth / m_total : kWidth;
            print(stderr, QStringLiteral("\r[%1%2] %3/%4 %5\x1b[K")
                              .arg(QString(filled, QChar(0x2588)), QString(kWidth - filled, QChar(0x2591)))
                              .arg(m_done)
                              .arg(m_total)
                              .arg(o.fileName));
            return;
        }
        QString what;
        switch (o.status) {
        case RowOutcome::Status::Saved: what = ja("保存しました: %1").arg(QDir::toNativeSeparators(o.output)); break;
        case RowOutcome::Status::Failed: what = ja("変換できませんでした: %1").arg(o.reason); break;
        case RowOutcome::Status::NotStarted: what = ja("中止したため保存していません"); break;
        default: what = ja("保存しませんでした: %1").arg(o.reason); break;
        }
        print(stderr, QStringLiteral("[%1/%2] %3: %4\n").arg(m_done).arg(m_total).arg(o.fileName, what));
    }

    void end()
    {
        if (m_terminal && m_done > 0)
            print(stderr, QStringLiteral("\n"));
    }

private:
    int m_total;
    int m_done = 0;
    bool m_terminal;
};

int stoppedStatus() { return 128 + int(g_signal); }

} // namespace

bool asksForBatch(const QStringList &arguments)
{
    for (const QString &a : arguments.mid(1)) {
        if (a == u"--")
            return false;
        if (a == u"--batch")
            return true;
    }
    return false;
}

QString batchOptionsHelp()
{
    QCommandLineParser parser;
    const Options o;
    describe(parser, o);
    const QString help = parser.helpText();
    // From the options' heading on: the usage line is the window's.
    const qsizetype options = help.indexOf(u'\n', help.indexOf(QStringLiteral("--batch")) - 40);
    return options < 0 ? help : help.mid(options + 1);
}

int runBatchCommand(const QStringList &arguments)
{
    const QString program = QFileInfo(arguments.value(0)).fileName();
    QCommandLineParser parser;
    const Options o;
    describe(parser, o);
    const auto usage = [&program](const QString &what) {
        print(stderr, ja("%1: %2\n使い方: %1 --batch [オプション] ファイルまたはフォルダ...\n"
                         "詳しい説明は「%1 --batch --help」で表示します。\n")
                          .arg(program, what));
        return kBatchUsageError;
    };
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        return usage(unknown.isEmpty() ? parser.errorText()
                                       : ja("不明なオプション「%1」があります。")
                                             .arg((unknown.first().size() == 1 ? QStringLiteral("-")
                                                                               : QStringLiteral("--"))
                                                  + unknown.first()));
    }
    if (parser.isSet(o.help)) {
        print(stdout, parser.helpText());
        return kBatchAllWritten;
    }
    RowSettings settings;
    int jobs = 0;
    try {
        settings = settingsOf(parser, o);
        if (parser.isSet(o.jobs))
            jobs = wholeIn(parser, o.jobs, 1, 256);
    } catch (const UsageError &e) {
        return usage(e.text);
    }
    const QStringList names = parser.positionalArguments();
    if (names.isEmpty())
        return usage(ja("変換するファイルまたはフォルダを指定してください。"));

    // Handled from here on: a stop asked while the rows are planned keeps the run
    // from starting.
    if (::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return kBatchNotAllWritten;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    JobTable table;
    const DropResult added = appendDroppedFiles(table, names, [&settings] { return settings; });
    const auto sayNotAdded = [&added] {
        for (const QString &line : notAddedList(added.notAdded).split(u'\n', Qt::SkipEmptyParts))
            print(stderr, ja("追加しませんでした: %1\n").arg(line));
    };
    sayNotAdded();
    if (table.Rows() <= 1) {
        print(stderr, ja("変換する画像がありません。\n"));
        return g_signal ? stoppedStatus() : kBatchNotAllWritten;
    }

    QList<std::pair<int, JobRow>> rows;
    for (int r = 1; r < table.Rows(); ++r)
        rows.append({r, table.jobRow(r)});
    BatchPlan plan = planBatch(rows);
    if (g_signal)
        return stoppedStatus();

    // The window's rules, without its questions: earlier outputs are replaced only
    // with --overwrite, kept with --skip, and otherwise named and kept, which makes
    // the run one that did not write every file.
    QSet<int> keptOnRequest;
    bool keptUnasked = false;
    if (const int replacing = plan.replacing(); replacing > 0 && !parser.isSet(o.overwrite)) {
        for (const PlannedRow &r : plan.rows) {
            if (r.fate == PlannedRow::Fate::Replace)
                keptOnRequest.insert(r.row);
        }
        if (!parser.isSet(o.skip)) {
            keptUnasked = true;
            print(stderr, ja("保存先に、以前 Kestrovia で保存したファイルが%1件あります。置き換えずに残します"
                             "（置き換えるには --overwrite、残すだけなら --skip を指定してください）:\n　%2\n")
                              .arg(replacing)
                              .arg(plan.replacedNames(replacing).join(ja("\n　"))));
        }
        plan.skipReplacing();
    }
    for (const QString &folder : plan.missingFolders())
        print(stderr, ja("保存先のフォルダ「%1」がないため作成します。\n").arg(QDir::toNativeSeparators(folder)));
    plan.createMissingFolders();

    BatchPipeline pipeline;
    pipeline.setThreads(jobs);
    Progress progress(int(plan.rows.size()));
    std::optional<BatchSummary> summary;
    QEventLoop loop;
    QObject::connect(&pipeline, &BatchPipeline::rowDone, &loop, [&progress](const RowOutcome &o) { progress.rowDone(o); });
    QObject::connect(&pipeline, &BatchPipeline::finished, &loop, [&](const BatchSummary &s) {
        summary = s;
        loop.quit();
    });
    QSocketNotifier wake(g_wake[0], QSocketNotifier::Read);
    bool cancelled = false;
    QObject::connect(&wake, &QSocketNotifier::activated, &loop, [&] {
        char bytes[16];
        while (::read(g_wake[0], bytes, sizeof bytes) > 0) {
        }
        if (!cancelled) {
            cancelled = true;
            print(stderr, ja("\n中止しています（変換中の画像を終えてから終了します）…\n"));
            pipeline.cancel();
        }
    });
    pipeline.start(plan);
    if (!summary)
        loop.exec();
    progress.end();

    const BatchSummary result = summary.value_or(BatchSummary());
    const SummaryWords words = summaryWords(result);
    print(stderr, words.text + u'\n');
    for (const QString &line : words.lines)
        print(stderr, line + u'\n');
    // Said again at the end, where the exit status is read: the first lines may be
    // long gone from the terminal.
    sayNotAdded();
    if (g_signal)
        return stoppedStatus();
    bool allWritten = added.notAdded.isEmpty() && !keptUnasked && result.notStarted == 0;
    for (const RowOutcome &p : result.problems) {
        if (!(p.status == RowOutcome::Status::Skipped && keptOnRequest.contains(p.row)))
            allWritten = false;
    }
    return allWritten ? kBatchAllWritten : kBatchNotAllWritten;
}

} // namespace kestrovia
