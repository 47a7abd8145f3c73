#include "app/form1.h"

#include "app/aboutdialog.h"
#include "app/artwork.h"
#include "app/batchrun.h"
#include "app/prompts.h"
#include "app/rowcommands.h"
#include "app/settingspanel.h"
#include "joblist/dropimport.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "platform/filename.h"
#include "platform/japanese.h"
#include "platform/units.h"
#include "preview/form2.h"
#include "preview/selectionsync.h"
#include "preview/windowframe.h"

#include <QApplication>

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStyle>
#include <QUrl>
#include <algorithm>

namespace kestrovia {

namespace {

// Sizes kept by the resize rule, in twips. The client height is what the panel
// needs; the window system's title bar comes on top of it, however tall it is.
constexpr int kClientHeight = 5865;
constexpr int kMinOuterWidth = 2700;
constexpr int kRestoredOuterWidth = 8490;

QString dropHint() { return ja("画像をドラッグアンドドロップしてください。"); }

// The strip under the grid has room for two lines. A longer note (the names a drop
// left out) is cut there with "…" and shown whole in the tooltip; text() stays whole.
class StripLabel : public QLabel {
public:
    using QLabel::QLabel;

    bool fits(const QString &text) const
    {
        const QRect box = contentsRect();
        return fontMetrics().boundingRect(box, Qt::TextWordWrap, text).height() <= box.height();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QString shown = text();
        if (!fits(shown)) {
            while (!shown.isEmpty() && !fits(shown + u'…'))
                shown.chop(1);
            shown += u'…';
        }
        QPainter p(this);
        style()->drawItemText(&p, contentsRect(), int(alignment()) | Qt::TextWordWrap, palette(), isEnabled(), shown,
                              foregroundRole());
    }
};

} // namespace

Form1::Form1(QWidget *parent)
    : QWidget(parent)
    , m_table(new JobTable(this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Kestrovia"));
    setWindowIcon(programIcon());
    // Sizable, but without minimize and maximize buttons.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::CustomizeWindowHint);
    setFont(JobListView::gridFont());

    m_panel = new SettingsPanel(this);
    // The panel's design height, or more when its controls need it (larger fonts,
    // the size rule and metadata rows): everything below the panel's foot moves
    // down by as much, and the grid grows with it.
    const int extra = std::max(0, m_panel->sizeHint().height() - twipsRect(0, 0, 0, 5805).height());
    const auto place = [extra](int left, int top, int width, int height) {
        return twipsRect(left, top, width, height).translated(0, extra);
    };
    m_panel->setGeometry(twipsRect(30, 0, 2655, 5805).adjusted(0, 0, 0, extra));
    m_grid = new JobListView(m_table, this);
    m_grid->setGeometry(twipsRect(2730, 0, 5595, 5505).adjusted(0, 0, 0, extra));
    // The keyboard starts on the job list, where Enter, Delete and the Menu key act.
    m_grid->setFocus();

    // Adding without dragging: a button under the list, and Ctrl+O anywhere.
    m_add = new QPushButton(ja("画像を追加…"), this);
    m_add->setObjectName(QStringLiteral("BtnAdd"));
    m_add->setToolTip(ja("画像ファイルを選んで一覧に追加します (Ctrl+O)"));
    m_add->setGeometry(place(2730, 5520, 1200, 315));
    auto *open = new QShortcut(QKeySequence::Open, this);
    connect(open, &QShortcut::activated, this, &Form1::addPictures);
    connect(m_add, &QPushButton::clicked, this, &Form1::addPictures);

    // The hint lies under the progress bar, so it shows whenever no batch runs.
    // At the grid's font it needs two lines to stay legible in its width.
    m_hint = new StripLabel(dropHint(), this);
    m_hint->setObjectName(QStringLiteral("Label15"));
    m_hint->setWordWrap(true);
    m_hint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    {
        // From the grid's foot to the window's: two lines must fit there, so the
        // font steps down until they do.
        const QRect r = place(3990, 5505, 1785, kClientHeight - 5505);
        m_hint->setGeometry(r);
        m_stripRect = r;
        QFont f = m_hint->font();
        while (2 * QFontMetrics(f).lineSpacing() > r.height() && f.pointSizeF() > 6)
            f.setPointSizeF(f.pointSizeF() - 0.5);
        m_hint->setFont(f);
        // Its second line, after a run: the folder the run saved to, in the file
        // manager. A link that Tab reaches and Enter follows.
        m_openFolder = new QLabel(QStringLiteral("<a href=\"folder\">%1</a>").arg(ja("保存先を開く")), this);
        m_openFolder->setObjectName(QStringLiteral("LinkOpenFolder"));
        m_openFolder->setAccessibleName(ja("保存先を開く"));
        m_openFolder->setFont(f);
        m_openFolder->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        m_openFolder->setFocusPolicy(Qt::StrongFocus);
        m_openFolder->setGeometry(r.adjusted(0, r.height() / 2, 0, 0));
        m_openFolder->setVisible(false);
        connect(m_openFolder, &QLabel::linkActivated, this, [this] { m_batch->openFolder(m_savedFolder); });
    }
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("ProgressBar1"));
    m_bar->setGeometry(place(3960, 5550, 1815, 225));
    m_bar->setTextVisible(false);
    m_bar->setVisible(false);
    m_bar->setAccessibleName(ja("変換の進み具合"));
    // The two-line hint is taller than the bar that covers it during a run.
    m_bar->installEventFilter(this);
    m_start = new QPushButton(ja("処理実行 >> >>"), this);
    m_start->setObjectName(QStringLiteral("BtnMain"));
    // The caption's arrows are decoration; a screen reader says what the button does.
    m_start->setAccessibleName(ja("処理実行"));
    m_start->setGeometry(place(5820, 5520, 2505, 315));

    resize(twipsRect(0, 0, 8340, kClientHeight).size() + QSize(0, extra));
    // The height never changes, so the window manager offers no vertical resize
    // and maximising cannot leave an empty strip under the panel.
    setFixedHeight(twipsRect(0, 0, 0, kClientHeight).height() + extra);

    // Start-up: the preview window exists from the start, hidden. It is placed
    // beside this window when it first comes on screen: by then the window
    // manager has placed this one, and its frame is known.
    m_form2 = new Form2(this);
    m_form2->installEventFilter(this);
    setupJobTable();

    m_sync = new SelectionSync(m_table, m_form2, m_panel, this);
    m_rowCommands = new RowCommands(m_table, m_grid, m_form2, this);
    m_batch = new BatchRun(m_table, m_start, m_bar, this);
    connect(m_batch, &BatchRun::note, this, &Form1::setStripNote);
    connect(m_batch, &BatchRun::runningChanged, this, &Form1::setRunning);
    // Escape stops a run: what is written stays, the rows in flight stop.
    auto *stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stop, &QShortcut::activated, m_batch, &BatchRun::cancel);
    // The pointer says a picture is on its way where the user looks for it, over the
    // preview and the list; everything still takes input meanwhile.
    connect(m_sync, &SelectionSync::busyChanged, m_grid->viewport(), [this](bool busy) {
        if (busy)
            m_grid->viewport()->setCursor(Qt::BusyCursor);
        else
            m_grid->viewport()->unsetCursor();
    });
    connect(m_panel, &SettingsPanel::settingPicked, this, &Form1::applyToSelection);
    QMenu *menu = m_rowCommands->menu();
    menu->addSeparator();
    QAction *reset = menu->addAction(ja("設定を初期設定に戻す"));
    reset->setObjectName(QStringLiteral("ResetSettings"));
    connect(reset, &QAction::triggered, this, &Form1::resetSettings);
    // The panel shows the selected rows as they are now: after a click, a command,
    // or a change the rows took from anywhere (the preview's size, a copy).
    m_panelRefresh.setSingleShot(true);
    m_panelRefresh.setInterval(0);
    connect(&m_panelRefresh, &QTimer::timeout, this, &Form1::showSelection);
    const auto refresh = [this] { m_panelRefresh.start(); };
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, refresh);
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, refresh);
    connect(m_table, &QAbstractItemModel::dataChanged, this, refresh);
    connect(m_table, &QAbstractItemModel::layoutChanged, this, refresh);
    connect(m_panel, &SettingsPanel::completePreviewChecked, m_sync, &SelectionSync::PicsGalary_SelChange);
    connect(m_panel, &SettingsPanel::saveFolderRequested, this, &Form1::chooseSaveFolder);
    connect(m_panel, &SettingsPanel::bannerClicked, this, [this] { AboutDialog::showModal(this); });
    connect(m_grid, &JobListView::OLEDragDrop, this, [this](const QMimeData *data) {
        if (!data || !data->hasUrls())
            return;
        QStringList paths;
        QList<NotAdded> notAdded;
        for (const QUrl &url : data->urls()) {
            // Only files on this machine can be read; a web link or a remote share
            // URL dragged from a browser is not a picture file.
            if (!url.isLocalFile()) {
                notAdded.append({url.fileName().isEmpty() ? url.toDisplayString() : url.fileName(),
                                 ja("このコンピュータ上のファイルではありません")});
                continue;
            }
            // The name as the file system holds it, which need not be UTF-8.
            paths.append(decodeFileName(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1())));
        }
        appendFiles(paths, notAdded);
    });
}

Form1::~Form1() = default;

int Form1::appendFiles(const QStringList &paths, const QList<NotAdded> &notAddedBefore)
{
    const int first = m_table->Rows();
    const DropResult result = appendDroppedFiles(*m_table, paths, [this] { return m_panel->values(); });
    // The rows just added become the selection, so that the panel set right after
    // adding reaches all of them.
    if (result.appended > 0) {
        QList<int> added;
        for (int r = first; r < m_table->Rows(); ++r)
            added.append(r);
        m_table->selectRows(added, first);
    }
    // Said where the user looks, without a box to click away.
    setStripNote(notAddedNote(notAddedBefore + result.notAdded));
    return result.appended;
}

namespace {
QSettings keptSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("kestrovia"),
                     QStringLiteral("kestrovia"));
}
} // namespace

void Form1::restoreSettings()
{
    m_keepsSettings = true;
    const QSettings s = keptSettings();
    m_panel->restoreFrom(s);
    m_addFolder = s.value(QStringLiteral("files/addFolder")).toString();
    m_grid->restoreHeaderState(s.value(QStringLiteral("list/columns")).toByteArray());
    // Only the place and the width: the height is the panel's own.
    if (const QByteArray g = s.value(QStringLiteral("window/main")).toByteArray(); !g.isEmpty())
        restoreGeometry(g);
    if (const QPoint at = s.value(QStringLiteral("window/preview")).toPoint(); !at.isNull()) {
        m_form2->move(at);
        m_form2Placed = true;
    }
}

void Form1::saveSettings() const
{
    QSettings s = keptSettings();
    m_panel->saveTo(s);
    s.setValue(QStringLiteral("files/addFolder"), m_addFolder);
    s.setValue(QStringLiteral("list/columns"), m_grid->headerState());
    s.setValue(QStringLiteral("window/main"), saveGeometry());
    if (m_form2Placed)
        s.setValue(QStringLiteral("window/preview"), m_form2->pos());
}

void Form1::resetSettings()
{
    m_panel->resetToStartUp();
    m_grid->resetColumnWidths();
    if (m_keepsSettings)
        saveSettings();
}

void Form1::addPictures()
{
    const QStringList files = Prompts::chooseFiles(this, m_addFolder);
    if (files.isEmpty())
        return;
    m_addFolder = QFileInfo(files.first()).absolutePath();
    appendFiles(files);
}

void Form1::setStripNote(const QString &note, const QString &folder)
{
    // After a run the strip's second line offers the folder the files went to.
    m_savedFolder = folder;
    m_openFolder->setVisible(!folder.isEmpty() && !m_bar->isVisible());
    m_hint->setGeometry(folder.isEmpty() ? m_stripRect : m_stripRect.adjusted(0, 0, 0, -m_stripRect.height() / 2));
    m_hint->setText(note.isEmpty() ? dropHint() : note);
    m_hint->setToolTip(static_cast<StripLabel *>(m_hint)->fits(m_hint->text()) ? QString() : note);
}

void Form1::setRunning(bool running)
{
    // While a batch runs, the table, the panel, drops and the preview take no edits:
    // the rows being written are the ones the user sees. The preview keeps showing,
    // but resizing it sets no size until the run is over, and a picture still being
    // made waits for the run's end rather than take a core from it.
    m_grid->setEnabled(!running);
    m_panel->setEnabled(!running);
    m_sync->setLocked(running);
}

void Form1::setupJobTable()
{
    struct Column {
        const char *header;
        int width;
    };
    static constexpr Column columns[JobColumnCount] = {
        {"ファイル名", 1500}, {"元サイズ", 800},    {"パス", 1500},       {"", 300},
        {"新サイズ", 800},    {"フィット", 500},    {"背景色", 1000},     {"位置", 500},
        {"回転", 500},        {nullptr, 100},       {nullptr, 100},       {"保存先", 2000},
        {"圧縮", 500},        {"メタデータ", 1100}, {"サイズ指定", 1100}, {"形式", 700},
        {"出力名", 1500},
    };
    for (int col = 0; col < JobColumnCount; ++col) {
        // The two reserved columns keep the empty header every cell starts with.
        if (columns[col].header)
            m_table->setTextMatrix(0, col, ja(columns[col].header));
        m_table->setColWidth(col, columns[col].width);
    }
}

void Form1::applyToSelection(RowField field, const RowSettings &settings)
{
    // With no row selected the panel only sets the values for new rows.
    const QList<int> rows = m_table->selectedRows();
    for (const int r : rows)
        m_table->setRowField(r, field, settings);
    if (rows.contains(m_table->Row()) && rowField(field).shapesCanvas)
        m_sync->PicsGalary_SelChange();
}

void Form1::showSelection()
{
    const QList<int> rows = m_table->selectedRows();
    if (rows.isEmpty())
        return; // the panel keeps the values for new rows
    const int current = rows.contains(m_table->Row()) ? m_table->Row() : rows.first();
    const JobRow row = m_table->jobRow(current);
    const RowSettings shown = rowSettingsOf(row);
    QList<RowField> mixed;
    QList<RowSettings> others;
    others.reserve(rows.size());
    for (const int r : rows) {
        if (r != current)
            others.append(rowSettingsOf(m_table->jobRow(r)));
    }
    for (const RowFieldSpec &spec : rowFields()) {
        const QString text = spec.text(shown);
        if (std::any_of(others.begin(), others.end(), [&](const RowSettings &s) { return spec.text(s) != text; }))
            mixed.append(spec.field);
    }
    // What the row asks, even a size no output can have (the list says why).
    std::optional<QSize> size = sizeOfText(row.newSize);
    if (!size)
        size = sizeOfText(row.originalSize);
    m_panel->showSettings(shown, mixed, size.value_or(QSize()));
}

QString Form1::startFolderForChooser() const
{
    // Where the rows' destination is, or would be made, else the folder last
    // chosen, else beside the current row's picture.
    QString folder = m_panel->values().folder;
    if (folder.isEmpty())
        folder = m_panel->saveText();
    if (folder.isEmpty() && m_table->isJobRow(m_table->Row()))
        folder = ownFolder(m_table->TextMatrix(m_table->Row(), ColPath));
    if (folder.isEmpty())
        folder = QDir::homePath();
    while (!QFileInfo(folder).isDir() && QFileInfo(folder).path() != folder)
        folder = QFileInfo(QDir::cleanPath(folder)).path();
    return folder;
}

void Form1::chooseSaveFolder()
{
    const Prompts::FolderChoice choice = Prompts::chooseFolder(this, startFolderForChooser());
    // A cancel leaves every row, and the panel, as they were.
    if (choice.result == Prompts::FolderChoice::Chosen)
        m_panel->takeFolder(QDir::fromNativeSeparators(choice.folder));
}

void Form1::placeForm2()
{
    // Where the preview's frame goes: at this window's right outer edge, tops
    // aligned. Until its own frame is known, the preview's decorations are taken to
    // be this window's; placeForm2Frame() corrects that once they are known.
    const QRect outer = frameGeometry();
    const QMargins decorations = frameMargins(*this);
    QRect frame(QPoint(outer.left() + outer.width(), outer.top()), m_form2->size().grownBy(decorations));
    // A wide preview beside a window on the right of the screen would hide its
    // own border: it moves back just enough to be whole.
    if (const QScreen *s = screen())
        frame = keptWithin(frame, s->availableGeometry());
    m_form2Target = frame.topLeft();
    m_form2->move(frame.topLeft() + QPoint(decorations.left(), decorations.top()));
    m_form2Placed = true;
}

void Form1::placeForm2Frame()
{
    const QRect frame = m_form2->frameGeometry();
    if (!m_form2Target || frame == m_form2->geometry())
        return; // placed already, or the window manager has not told its frame yet
    const QPoint target = *m_form2Target;
    m_form2Target.reset();
    if (frame.topLeft() != target)
        m_form2->move(m_form2->pos() + (target - frame.topLeft()));
    m_form2->keepOnScreen();
}

void Form1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    Form_Resize();
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Form1::Form_Resize()
{
    // The frame (caption and border) belongs to the window system; the width rule
    // speaks of outer sizes, so the client width is derived from them.
    const int frameW = frameGeometry().width() - width();
    int outerW = frameGeometry().width();
    if (pixelsToTwips(outerW) < kMinOuterWidth) {
        outerW = twipsToPixels(kRestoredOuterWidth);
        resize(outerW - frameW, height());
    }
    // Outer widths from 2700 to 2760 twips leave no room for the grid: it shrinks to nothing.
    const int gridTwips = int(pixelsToTwips(outerW)) - (2730 + 30);
    m_grid->resize(std::max(0, twipsToPixels(gridTwips)), m_grid->height());
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_form2 && event->type() == QEvent::Show && !m_form2Placed)
        placeForm2();
    if (watched == m_form2 && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        placeForm2Frame();
    if (watched == m_bar && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        m_hint->setVisible(event->type() == QEvent::Hide);
        m_openFolder->setVisible(event->type() == QEvent::Hide && !m_savedFolder.isEmpty());
        if (isVisible())
            update(m_hint->geometry());
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (!m_batch->mayClose()) {
        event->ignore();
        return;
    }
    if (m_keepsSettings)
        saveSettings();
    // Closing the main window ends the program with every other window, hidden
    // ones (the preview, the folder chooser) included; with the last window gone
    // the application quits.
    m_form2->close();
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows) {
        if (w != this)
            w->close();
    }
    event->accept();
}

} // namespace kestrovia
