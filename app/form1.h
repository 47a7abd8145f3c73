#pragma once
// The main window: the job list, the settings panel, the convert button and the
// progress bar. It owns the job table and the preview window and wires the parts
// together; its controls stay private and carry their names as objectName, by
// which tests find them.

#include "compose/rowsettings.h"
#include "joblist/dropimport.h"

#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QSettings;

namespace kestrovia {

class BatchRun;
class Form2;
class JobListView;
class JobTable;
class RowCommands;
class SelectionSync;
class SettingsPanel;

// Where the window keeps what it had between starts: the panel's values for new
// rows, the window's place, the list's columns.
QSettings keptSettings();
// The panel's values for new rows as the window kept them at its last close.
RowSettings keptPanelValues();

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    JobTable *table() const { return m_table; }
    // The preview window; created hidden with the main window.
    Form2 *form2() const { return m_form2; }
    SelectionSync *selectionSync() const { return m_sync; }

    // Queues files as a drop of them on the job list does: one row per picture file,
    // with the settings panel's values. The names are read on a thread of their own
    // and the rows come in batches as they are found; meanwhile the strip under the
    // grid says how far it got and offers 中止 (Escape). At the end, whatever did not
    // become a row (notAdded, found before, and what the drop refuses) is named in
    // the strip, and addingFinished() tells the rows appended.
    void appendFiles(const QStringList &paths, const QList<NotAdded> &notAdded = {});
    // While a drop (or 画像を追加…, or the command line's files) is being read.
    bool isAdding() const;
    // Ends the adding: the rows added so far stay.
    void stopAdding();
    // The drop's reading, for tests that hold its header reads.
    DropImport *dropImport() const { return m_import; }

    // A short note in the strip under the grid (「20件を保存しました」), shown until
    // the next drop or run; an empty note brings back the drop hint.
    // With a folder (after a run that saved files) the strip offers to open it.
    void setStripNote(const QString &note, const QString &folder = {});

    // The settings kept between starts (the platform's configuration place, e.g.
    // ~/.config/kestrovia/kestrovia.conf): the panel's values for new rows, where
    // the windows stood, the file dialog's folder. From restoreSettings() on, the
    // window writes them back when it closes; a window made without it (tests)
    // neither reads nor writes them.
    void restoreSettings();
    void saveSettings() const;
    // 初期設定に戻す: the panel's start-up values, written back at once.
    void resetSettings();

    // 画像を追加… (Ctrl+O): the file dialog, several pictures at once, opened in the
    // folder used last; the chosen files are added as a drop of them is.
    void addPictures();

signals:
    void addingFinished(int appended);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setupJobTable();
    void placeForm2();
    void placeForm2Frame();
    void Form_Resize();
    // The strip's note and its links (保存先を開く after a run, 中止 while adding,
    // 詳細… for a note longer than the strip) in the strip's place.
    void layoutStrip();
    void showNoteDetails();
    void dropStarted();
    void picturesFound(const QList<FoundPicture> &pictures);
    void dropFinished(const QList<NotAdded> &notAdded, bool stopped);
    void selectDropped();
    // Writes field of settings into every selected row (none selected: the panel
    // alone holds it, for new rows) and, when it shapes the picture and the
    // current row is one of them, shows that row again.
    void applyToSelection(RowField field, const RowSettings &settings);
    // A preset: every field of settings, as applyToSelection writes one.
    void applyPresetToSelection(const RowSettings &settings);
    void applyFields(const QList<RowField> &fields, const RowSettings &settings);
    // The panel shows the current row, marking the settings that differ across the
    // selected rows; with none selected it keeps its values.
    void showSelection();
    // "…": the folder chooser at the rows' folder (or the nearest part of it that
    // exists); its choice becomes the folder of every selected row, or of new rows.
    void chooseSaveFolder();
    QString startFolderForChooser() const;
    // A batch started or ended: the grid, the panel and the preview's size take no
    // edits while it runs.
    void setRunning(bool running);

    JobTable *m_table;
    JobListView *m_grid;
    SettingsPanel *m_panel;
    QLabel *m_hint;
    QLabel *m_openFolder;
    QLabel *m_stopLink; // 中止, while a drop is read
    QLabel *m_detailsLink; // 詳細…, when the note is cut
    QRect m_stripRect; // the strip's note area
    QString m_savedFolder;
    QString m_noteDetails; // the note's whole list, behind 詳細…
    int m_grow = 0; // pixels the window is taller than the panel needs
    int m_gridHeight = 0; // the grid's height at the window's least height
    DropImport *m_import;
    int m_dropAppended = 0; // rows the drop being read has appended
    int m_dropFirst = 0; // the first of them
    bool m_selectionTaken = false; // the user picked rows while they came
    bool m_selectingDropped = false;
    QProgressBar *m_bar;
    QPushButton *m_start;
    QPushButton *m_add;
    QString m_addFolder; // where the file dialog opens
    bool m_keepsSettings = false;
    Form2 *m_form2;
    SelectionSync *m_sync;
    RowCommands *m_rowCommands;
    QTimer m_panelRefresh; // one showing of the selection for a burst of changes
    BatchRun *m_batch;
    bool m_form2Placed = false;
    std::optional<QPoint> m_form2Target; // the preview's frame position, until reached
};

} // namespace kestrovia
