#pragma once
// `kestrovia --convert`: what the file manager's menu and the launcher's actions
// run. The chosen pictures are converted with the window's last values for new
// rows (--last), a preset (--preset NAME), or a preset chosen in a small dialog
// (--choose-preset), by the window's own plan, questions and pipeline, in a small
// progress window instead of the main window: picture n of N and its name, 中止,
// then the window's summary with 保存先を開く and 閉じる.

#include "compose/rowsettings.h"

#include <QCommandLineOption>
#include <QDialog>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

class QCommandLineParser;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kestrovia {

class BatchPipeline;
struct BatchSummary;
struct RowOutcome;

struct ConvertRequest {
    enum class Settings { Last, Preset, Chosen };
    Settings settings = Settings::Last;
    QString preset; // for Preset
    QStringList files;
};

// The action's options as the program's command line takes them.
class ConvertOptions {
public:
    ConvertOptions();
    void addTo(QCommandLineParser &parser) const;
    // Whether any of them was given.
    bool given(const QCommandLineParser &parser) const;
    // What they ask for, or why they do not go together (Japanese). Only when given().
    std::variant<ConvertRequest, QString> requestOf(const QCommandLineParser &parser) const;

private:
    QCommandLineOption m_convert;
    QCommandLineOption m_last;
    QCommandLineOption m_preset;
    QCommandLineOption m_choose;
};

// Runs the action and returns the exit status: 0 when every picture was written
// (rows the user chose to スキップ count as asked), 1 otherwise (a failure, 中止, a
// cancelled choice of preset), 2 for a preset that does not exist. A QApplication
// must exist; no main window is made.
int runConvertAction(const ConvertRequest &request);

// The preset chosen in the small dialog (loadPresets() names, OK or キャンセル);
// nullopt when cancelled.
std::optional<RowSettings> choosePresetSettings(QWidget *parent);

class ConvertWindow : public QDialog {
    Q_OBJECT
public:
    explicit ConvertWindow(QWidget *parent = nullptr);
    ~ConvertWindow() override;

    // Makes rows of files (as a drop on the list would) with settings, plans them,
    // asks the window's questions over this window and starts converting; threads
    // as BatchPipeline::setThreads. False, with nothing written, when no file can
    // be converted (said in a message) or the user chose 中止 at a question.
    bool start(const QStringList &files, const RowSettings &settings, int threads = 0);
    bool isRunning() const;
    // The run has ended: the summary is shown.
    bool isOver() const { return m_over; }
    // No row starts any more; the rows in flight are written whole or not at all.
    void cancel();
    // 0 when every picture was written, 1 otherwise (also before the end).
    int exitStatus() const { return m_status; }
    // The folder 保存先を開く opens: where the first saved picture went.
    QString savedFolder() const { return m_firstFolder; }

signals:
    // done of total pictures are through (written, failed or skipped).
    void progressed(int done, int total);
    void runFinished();

protected:
    // Escape and the close box stop a run (the window stays for its summary);
    // afterwards they close the window.
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void rowDone(const RowOutcome &outcome);
    void finishRun(const BatchSummary &summary);
    void showProgress();

    QLabel *m_count;
    QLabel *m_file;
    QProgressBar *m_bar;
    QLabel *m_summary;
    QPlainTextEdit *m_details;
    QPushButton *m_stop;
    QPushButton *m_open;
    QPushButton *m_close;
    BatchPipeline *m_pipeline = nullptr;
    QStringList m_names; // the planned rows' pictures, in the order they are written
    QStringList m_notAdded; // names the drop refused, with why
    QSet<int> m_keptOnRequest; // rows the user chose to skip
    QString m_firstFolder;
    int m_done = 0;
    bool m_cancelled = false;
    bool m_over = false;
    int m_status = 1;
};

} // namespace kestrovia
