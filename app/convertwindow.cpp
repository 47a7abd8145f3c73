#include "app/convertwindow.h"

#include "app/batchcommand.h"
#include "app/batchrun.h"
#include "app/form1.h"
#include "app/prompts.h"
#include "batch/batchpipeline.h"
#include "batch/batchplan.h"
#include "compose/presets.h"
#include "joblist/dropimport.h"
#include "joblist/jobtable.h"
#include "platform/japanese.h"

#include <QCloseEvent>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace kestrovia {

namespace {

// The file name line, in characters of the Japanese font's width.
constexpr int kNameWidthChars = 28;
// The summary's list of files not written: lines seen without scrolling.
constexpr int kDetailLines = 10;

void sayUnknownPreset(const QString &name)
{
    QStringList names;
    for (const Preset &known : loadPresets())
        names.append(known.name);
    Prompts::Message m;
    m.icon = Prompts::Warning;
    m.title = QStringLiteral("Kestrovia");
    m.text = ja("プリセット「%1」がありません。").arg(name);
    m.informative = ja("あるプリセット: %1").arg(names.join(ja("、")));
    std::fputs((m.text + u' ' + m.informative + u'\n').toUtf8().constData(), stderr);
    Prompts::inform(nullptr, m);
}

} // namespace

ConvertOptions::ConvertOptions()
    : m_convert(QStringLiteral("convert"),
                ja("メインウィンドウを開かずに、指定した画像を小さな進行状況ウィンドウで変換します"
                   "（ファイルマネージャーのメニュー用。設定は --last、--preset、--choose-preset のいずれか）。"))
    , m_last(QStringLiteral("last"),
             ja("--convert で、ウィンドウで最後に使った設定（新しい行の設定）で変換します（既定）。"))
    , m_preset(QStringLiteral("preset"), ja("--convert で、プリセット NAME の設定で変換します。"),
               QStringLiteral("NAME"))
    , m_choose(QStringLiteral("choose-preset"), ja("--convert で、変換の前にプリセットを選ぶ画面を表示します。"))
{
}

void ConvertOptions::addTo(QCommandLineParser &parser) const
{
    for (const QCommandLineOption &o : {m_convert, m_last, m_preset, m_choose})
        parser.addOption(o);
}

bool ConvertOptions::given(const QCommandLineParser &parser) const
{
    return parser.isSet(m_convert) || parser.isSet(m_last) || parser.isSet(m_preset) || parser.isSet(m_choose);
}

std::variant<ConvertRequest, QString> ConvertOptions::requestOf(const QCommandLineParser &parser) const
{
    if (!parser.isSet(m_convert))
        return ja("--last、--preset、--choose-preset は --convert と一緒に指定してください。");
    if (int(parser.isSet(m_last)) + int(parser.isSet(m_preset)) + int(parser.isSet(m_choose)) > 1)
        return ja("--last、--preset、--choose-preset は一つだけ指定してください。");
    ConvertRequest request;
    if (parser.isSet(m_preset)) {
        request.settings = ConvertRequest::Settings::Preset;
        request.preset = parser.value(m_preset);
    } else if (parser.isSet(m_choose)) {
        request.settings = ConvertRequest::Settings::Chosen;
    }
    request.files = parser.positionalArguments();
    if (request.files.isEmpty())
        return ja("--convert で変換する画像を指定してください。");
    return request;
}

std::optional<RowSettings> choosePresetSettings(QWidget *parent)
{
    const QList<Preset> presets = loadPresets();
    QStringList names;
    for (const Preset &p : presets)
        names.append(p.name);
    Prompts::Message m;
    m.title = ja("プリセットで縮小");
    m.text = ja("使うプリセットを選んでください。");
    const std::optional<QString> chosen = Prompts::chooseItem(parent, m, names);
    if (!chosen)
        return std::nullopt;
    return presets.value(int(names.indexOf(*chosen))).settings;
}

int runConvertAction(const ConvertRequest &request)
{
    RowSettings settings;
    switch (request.settings) {
    case ConvertRequest::Settings::Last: settings = keptPanelValues(); break;
    case ConvertRequest::Settings::Preset: {
        const std::optional<Preset> preset = findPreset(request.preset);
        if (!preset) {
            sayUnknownPreset(request.preset);
            return kBatchUsageError;
        }
        settings = preset->settings;
        break;
    }
    case ConvertRequest::Settings::Chosen: {
        const std::optional<RowSettings> chosen = choosePresetSettings(nullptr);
        if (!chosen)
            return kBatchNotAllWritten;
        settings = *chosen;
        break;
    }
    }
    ConvertWindow window;
    window.show();
    // Seen before the pictures are looked at, which takes a moment for many.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!window.start(request.files, settings))
        return kBatchNotAllWritten;
    QEventLoop loop;
    QObject::connect(&window, &QDialog::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return window.exitStatus();
}

ConvertWindow::ConvertWindow(QWidget *parent)
    : QDialog(parent)
    , m_count(new QLabel(this))
    , m_file(new QLabel(this))
    , m_bar(new QProgressBar(this))
    , m_summary(new QLabel(this))
    , m_details(new QPlainTextEdit(this))
    , m_stop(new QPushButton(ja("中止"), this))
    , m_open(new QPushButton(ja("保存先を開く"), this))
    , m_close(new QPushButton(ja("閉じる"), this))
{
    setWindowTitle(ja("縮小 - Kestrovia"));
    m_count->setObjectName(QStringLiteral("count"));
    m_file->setObjectName(QStringLiteral("file"));
    m_summary->setObjectName(QStringLiteral("summary"));
    m_details->setObjectName(QStringLiteral("details"));
    m_stop->setObjectName(QStringLiteral("stop"));
    m_open->setObjectName(QStringLiteral("openFolder"));
    m_close->setObjectName(QStringLiteral("close"));

    m_file->setMinimumWidth(fontMetrics().horizontalAdvance(QChar(0x3042)) * kNameWidthChars);
    m_file->setTextFormat(Qt::PlainText);
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setWordWrap(true);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_summary->hide();
    m_details->setReadOnly(true);
    m_details->setAccessibleName(ja("保存できなかった画像"));
    m_details->hide();
    m_bar->setFormat(QStringLiteral("%v / %m"));
    m_bar->setAccessibleName(ja("進行状況"));
    // Enter never stops a run by accident; Escape does (reject).
    m_stop->setAutoDefault(false);
    m_open->setAutoDefault(false);
    m_open->hide();
    m_close->hide();

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_open);
    buttons->addWidget(m_close);
    buttons->addWidget(m_stop);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_count);
    layout->addWidget(m_file);
    layout->addWidget(m_bar);
    layout->addWidget(m_summary);
    layout->addWidget(m_details, 1);
    layout->addLayout(buttons);

    // As wide as the name line, also once the summary stands in its place.
    setMinimumWidth(sizeHint().width());
    connect(m_stop, &QPushButton::clicked, this, &ConvertWindow::cancel);
    connect(m_open, &QPushButton::clicked, this, [this] { openSavedFolder(m_firstFolder, this); });
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    m_count->setText(ja("画像を調べています…"));
}

// Waits for the rows in flight, which are written whole.
ConvertWindow::~ConvertWindow() { delete m_pipeline; }

bool ConvertWindow::start(const QStringList &files, const RowSettings &settings, int threads)
{
    JobTable table;
    const DropResult added = appendDroppedFiles(table, files, [&settings] { return settings; });
    m_notAdded.clear();
    for (const QString &line : notAddedList(added.notAdded).split(u'\n', Qt::SkipEmptyParts))
        m_notAdded.append(ja("・追加しませんでした: %1").arg(line));
    if (table.Rows() <= 1) {
        Prompts::Message m;
        m.icon = Prompts::Warning;
        m.title = QStringLiteral("Kestrovia");
        m.text = ja("変換できる画像がありません。");
        m.informative = m_notAdded.join(u'\n');
        Prompts::inform(this, m);
        return false;
    }

    QList<std::pair<int, JobRow>> rows;
    for (int r = 1; r < table.Rows(); ++r)
        rows.append({r, table.jobRow(r)});
    BatchPlan plan = planBatch(rows);
    QSet<int> replacing;
    for (const PlannedRow &r : plan.rows) {
        if (r.fate == PlannedRow::Fate::Replace)
            replacing.insert(r.row);
    }
    // The window's questions, before anything is made or written.
    if (!askBeforeWriting(plan, this))
        return false;
    m_keptOnRequest.clear();
    m_names.clear();
    for (const PlannedRow &r : plan.rows) {
        if (replacing.contains(r.row) && r.fate == PlannedRow::Fate::Skip)
            m_keptOnRequest.insert(r.row);
        m_names.append(r.job.fileName);
    }
    plan.createMissingFolders();

    m_done = 0;
    m_bar->setRange(0, int(m_names.size()));
    showProgress();
    m_pipeline = new BatchPipeline(this);
    m_pipeline->setThreads(threads);
    connect(m_pipeline, &BatchPipeline::rowDone, this, &ConvertWindow::rowDone);
    connect(m_pipeline, &BatchPipeline::finished, this, &ConvertWindow::finishRun);
    m_stop->setFocus();
    m_pipeline->start(plan);
    return true;
}

bool ConvertWindow::isRunning() const { return m_pipeline && m_pipeline->isRunning(); }

void ConvertWindow::cancel()
{
    if (!isRunning() || m_cancelled)
        return;
    m_cancelled = true;
    m_pipeline->cancel();
    m_stop->setEnabled(false);
    m_count->setText(ja("中止しています（変換中の画像を保存し終えてから止まります）…"));
}

void ConvertWindow::showProgress()
{
    const int total = int(m_names.size());
    // Rows are written in order: the next to come is the one after those done.
    const int n = std::min(m_done + 1, total);
    if (!m_cancelled)
        m_count->setText(ja("%1 / %2 枚目を変換しています").arg(n).arg(total));
    const QString name = m_names.value(n - 1);
    m_file->setText(m_file->fontMetrics().elidedText(name, Qt::ElideMiddle, m_file->minimumWidth()));
    m_file->setToolTip(name);
    m_bar->setValue(m_done);
}

void ConvertWindow::rowDone(const RowOutcome &outcome)
{
    ++m_done;
    if (outcome.status == RowOutcome::Status::Saved && m_firstFolder.isEmpty())
        m_firstFolder = QFileInfo(outcome.output).absolutePath();
    showProgress();
    emit progressed(m_done, int(m_names.size()));
}

void ConvertWindow::finishRun(const BatchSummary &summary)
{
    bool allWritten = m_notAdded.isEmpty() && summary.notStarted == 0;
    for (const RowOutcome &p : summary.problems) {
        if (!(p.status == RowOutcome::Status::Skipped && m_keptOnRequest.contains(p.row)))
            allWritten = false;
    }
    m_status = allWritten ? kBatchAllWritten : kBatchNotAllWritten;

    const SummaryWords words = summaryWords(summary);
    const QStringList lines = m_notAdded + words.lines;
    m_count->setText(m_cancelled ? ja("中止しました。") : ja("変換が終わりました。"));
    m_file->hide();
    m_summary->setText(words.text);
    m_summary->show();
    m_details->setPlainText(lines.join(u'\n'));
    m_details->setVisible(!lines.isEmpty());
    // Tall enough for a few lines at once; longer lists scroll.
    const int shown = std::clamp(int(m_details->document()->lineCount()) + 1, 3, kDetailLines);
    m_details->setFixedHeight(shown * m_details->fontMetrics().lineSpacing() + 2 * m_details->frameWidth()
                              + int(m_details->document()->documentMargin() * 2));
    m_stop->hide();
    m_open->setVisible(true);
    m_open->setEnabled(!m_firstFolder.isEmpty());
    m_close->show();
    m_close->setDefault(true);
    m_close->setFocus();
    m_over = true;
    adjustSize();
    emit runFinished();
}

void ConvertWindow::reject()
{
    if (isRunning()) {
        cancel();
        return;
    }
    QDialog::reject();
}

void ConvertWindow::closeEvent(QCloseEvent *event)
{
    if (isRunning()) {
        cancel();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace kestrovia
