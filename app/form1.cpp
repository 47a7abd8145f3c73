#include "app/form1.h"

#include "app/aboutdialog.h"
#include "app/artwork.h"
#include "app/batchrun.h"
#include "app/prompts.h"
#include "app/rowcommands.h"
#include "app/settingspanel.h"
#include "compose/jobrow.h"
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
// left out) is cut there with "…" and shown whole behind 詳細… and in the tooltip;
// text() stays whole.
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
            // The longest start that fits with "…", found by halves: a long note
            // measured a character at a time would hold the window.
            qsizetype low = 0, high = shown.size();
            while (low < high) {
                const qsizetype mid = (low + high + 1) / 2;
                if (fits(shown.left(mid) + u'…'))
                    low = mid;
                else
                    high = mid - 1;
            }
            shown = shown.left(low) + u'…';
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
    m_gridHeight = m_grid->height();
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
        m_openFolder->setVisible(false);
        connect(m_openFolder, &QLabel::linkActivated, this, [this] { m_batch->openFolder(m_savedFolder); });
        // While a drop is read: 中止, as Escape does.
        m_stopLink = new QLabel(QStringLiteral("<a href=\"stop\">%1</a>").arg(ja("中止")), this);
        m_stopLink->setObjectName(QStringLiteral("LinkStopAdding"));
        m_stopLink->setAccessibleName(ja("追加を中止"));
        m_stopLink->setToolTip(ja("画像の追加を中止します (Esc)"));
        // A note longer than the strip: the whole of it, with every name it left out.
        m_detailsLink = new QLabel(QStringLiteral("<a href=\"details\">%1</a>").arg(ja("詳細…")), this);
        m_detailsLink->setObjectName(QStringLiteral("LinkNoteDetails"));
        m_detailsLink->setAccessibleName(ja("お知らせの詳細"));
        for (QLabel *link : {m_stopLink, m_detailsLink}) {
            link->setFont(f);
            link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
            link->setFocusPolicy(Qt::StrongFocus);
            link->setVisible(false);
        }
        connect(m_stopLink, &QLabel::linkActivated, this, &Form1::stopAdding);
        connect(m_detailsLink, &QLabel::linkActivated, this, &Form1::showNoteDetails);
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
    // Taller than the panel needs, the list takes the height; the panel keeps its own.
    setMinimumHeight(twipsRect(0, 0, 0, kClientHeight).height() + extra);

    // Start-up: the preview window exists from the start, hidden. It is placed
    // beside this window when it first comes on screen: by then the window
    // manager has placed this one, and its frame is known.
    m_form2 = new Form2(this);
    m_form2->installEventFilter(this);
    setupJobTable();

    m_import = new DropImport(this);
    connect(m_import, &DropImport::started, this, &Form1::dropStarted);
    connect(m_import, &DropImport::picturesFound, this, &Form1::picturesFound);
    connect(m_import, &DropImport::finished, this, &Form1::dropFinished);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!m_selectingDropped && isAdding())
            m_selectionTaken = true;
    });

    m_sync = new SelectionSync(m_table, m_form2, m_panel, this);
    m_rowCommands = new RowCommands(m_table, m_grid, m_form2, this);
    m_batch = new BatchRun(m_table, m_start, m_bar, this);
    connect(m_batch, &BatchRun::note, this, &Form1::setStripNote);
    connect(m_batch, &BatchRun::runningChanged, this, &Form1::setRunning);
    // Escape stops a drop being read (the rows found stay) or a run: what is written
    // stays, the rows in flight stop.
    auto *stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stop, &QShortcut::activated, this, [this] {
        if (isAdding())
            stopAdding();
        else
            m_batch->cancel();
    });
    // The pointer says a picture is on its way where the user looks for it, over the
    // preview and the list; everything still takes input meanwhile.
    connect(m_sync, &SelectionSync::busyChanged, m_grid->viewport(), [this](bool busy) {
        if (busy)
            m_grid->viewport()->setCursor(Qt::BusyCursor);
        else
            m_grid->viewport()->unsetCursor();
    });
    connect(m_panel, &SettingsPanel::settingPicked, this, &Form1::applyToSelection);
    connect(m_panel, &SettingsPanel::presetPicked, this, &Form1::applyPresetToSelection);
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
        // The list's own bytes: QUrl would turn a percent-encoded byte that is no
        // UTF-8 into U+FFFD, and the name would then name no file.
        const QString uriList = QStringLiteral("text/uri-list");
        if (data->hasFormat(uriList)) {
            const UriListNames names = namesOfUriList(data->data(uriList));
            appendFiles(names.paths, names.notAdded);
            return;
        }
        QStringList paths;
        QList<NotAdded> notAdded;
        for (const QUrl &url : data->urls()) {
            if (url.isLocalFile())
                paths.append(url.toLocalFile());
            else
                notAdded.append({url.fileName().isEmpty() ? url.toDisplayString() : url.fileName(), LeftOut::NotLocal});
        }
        appendFiles(paths, notAdded);
    });
}

Form1::~Form1()
{
    // The drop's thread ends before the table and the panel it fills go.
    delete m_import;
}

void Form1::appendFiles(const QStringList &paths, const QList<NotAdded> &notAddedBefore)
{
    m_import->start(paths, notAddedBefore);
}

bool Form1::isAdding() const { return m_import->isRunning(); }

void Form1::stopAdding() { m_import->stop(); }

void Form1::dropStarted()
{
    m_dropAppended = 0;
    m_dropFirst = m_table->Rows();
    m_selectionTaken = false;
    m_noteDetails.clear();
    m_savedFolder.clear();
    // 処理実行 waits for the rows: a run of half a drop would leave the rest unwritten.
    m_start->setEnabled(false);
    setStripNote(ja("読み込み中…"));
}

void Form1::picturesFound(const QList<FoundPicture> &pictures)
{
    const bool first = m_dropAppended == 0;
    m_dropAppended += appendFoundPictures(*m_table, pictures, [this] { return m_panel->values(); });
    setStripNote(ja("%1件 読み込み中…").arg(m_dropAppended));
    // The first rows are selected at once, so that the panel shows what they take.
    if (first)
        selectDropped();
}

void Form1::selectDropped()
{
    // The rows just added become the selection, so that the panel set right after
    // adding reaches all of them; unless the user picked rows while they came.
    if (m_dropAppended == 0 || m_selectionTaken)
        return;
    QList<int> added;
    added.reserve(m_dropAppended);
    for (int r = m_dropFirst; r < m_dropFirst + m_dropAppended && r < m_table->Rows(); ++r)
        added.append(r);
    m_selectingDropped = true;
    m_table->selectRows(added, m_dropFirst);
    m_selectingDropped = false;
}

void Form1::dropFinished(const QList<NotAdded> &notAdded, bool stopped)
{
    selectDropped();
    // Said where the user looks, without a box to click away.
    QString note = notAddedNote(notAdded);
    if (stopped)
        note = ja("中止しました（%1件を追加）。").arg(m_dropAppended) + note;
    setStripNote(note);
    m_noteDetails = notAddedList(notAdded);
    m_start->setEnabled(true);
    layoutStrip();
    emit addingFinished(m_dropAppended);
}

QSettings keptSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("kestrovia"),
                     QStringLiteral("kestrovia"));
}

RowSettings keptPanelValues()
{
    // Read by the panel itself, so that the keys and their earlier forms are
    // spelled in one place.
    SettingsPanel panel;
    panel.restoreFrom(keptSettings());
    return panel.values();
}

void Form1::restoreSettings()
{
    m_keepsSettings = true;
    const QSettings s = keptSettings();
    m_panel->restoreFrom(s);
    m_addFolder = s.value(QStringLiteral("files/addFolder")).toString();
    m_grid->restoreHeaderState(s.value(QStringLiteral("list/columns")).toByteArray());
    // The place and the size; the height never below what the panel needs.
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
    if (m_batch->isRunning())
        return; // the rows being written are the ones the user sees
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
    m_noteDetails.clear();
    m_hint->setText(note.isEmpty() ? dropHint() : note);
    layoutStrip();
}

void Form1::layoutStrip()
{
    // The bar covers the strip during a run.
    const bool open = !m_bar->isVisibleTo(this);
    auto *note = static_cast<StripLabel *>(m_hint);
    const QRect top = m_stripRect.adjusted(0, 0, 0, -m_stripRect.height() / 2);
    QList<QLabel *> links;
    if (!m_savedFolder.isEmpty())
        links << m_openFolder;
    if (m_import && isAdding())
        links << m_stopLink;
    note->setGeometry(links.isEmpty() ? m_stripRect : top);
    // While adding, the count is all there is to read.
    if ((!note->fits(note->text()) || !m_noteDetails.isEmpty()) && !(m_import && isAdding())) {
        links << m_detailsLink;
        note->setGeometry(top);
    }
    const bool cut = !note->fits(note->text());
    m_hint->setToolTip(cut ? m_hint->text() : QString());
    // The links side by side on the strip's second line.
    int x = m_stripRect.left();
    for (QLabel *link : {m_openFolder, m_stopLink, m_detailsLink}) {
        const bool shown = open && links.contains(link);
        if (shown) {
            const int w = std::min(link->sizeHint().width(), m_stripRect.right() + 1 - x);
            link->setGeometry(x, top.bottom() + 1, std::max(0, w), m_stripRect.bottom() - top.bottom());
            x += w + link->fontMetrics().horizontalAdvance(u' ');
        }
        link->setVisible(shown);
    }
    m_hint->setVisible(open);
}

void Form1::showNoteDetails()
{
    Prompts::Message message;
    message.title = ja("お知らせの詳細");
    message.text = m_hint->text();
    message.details = m_noteDetails;
    Prompts::inform(this, message);
}

void Form1::setRunning(bool running)
{
    // While a batch runs, the table, the panel, drops and the preview take no edits:
    // the rows being written are the ones the user sees. The preview keeps showing,
    // but resizing it sets no size until the run is over, and a picture still being
    // made waits for the run's end rather than take a core from it.
    m_grid->setEnabled(!running);
    m_panel->setEnabled(!running);
    m_add->setEnabled(!running);
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

void Form1::applyToSelection(RowField field, const RowSettings &settings) { applyFields({field}, settings); }

void Form1::applyPresetToSelection(const RowSettings &settings)
{
    QList<RowField> fields;
    for (const RowFieldEntry &entry : rowFields())
        fields.append(entry.field);
    applyFields(fields, settings);
}

void Form1::applyFields(const QList<RowField> &fields, const RowSettings &settings)
{
    // With no row selected the panel only sets the values for new rows.
    const QList<int> rows = m_table->selectedRows();
    for (const int r : rows) {
        if (!m_table->isJobRow(r))
            continue;
        // A row is read and written once, whatever the number of fields; every
        // field (a preset) is the row's whole settings, converted at once.
        JobRow job = m_table->jobRow(r);
        if (fields.size() == qsizetype(rowFields().size()))
            writeRowSettings(job, settings);
        else
            for (const RowField field : fields)
                writeRowField(job, field, settings);
        m_table->setJobRow(r, job);
    }
    const auto shapes = [](RowField field) { return rowField(field).shapesCanvas; };
    if (rows.contains(m_table->Row()) && std::any_of(fields.begin(), fields.end(), shapes))
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
    // A row whose settings cells are the current row's holds its settings: read only
    // the others, as a drop of thousands of rows is mostly alike.
    QList<int> columns{ColNewSize};
    for (const RowFieldEntry &entry : rowFields())
        if (!columns.contains(entry.column))
            columns.append(entry.column);
    const QStringList cells = m_table->rowCells(current);
    const auto besideItself = [](const QStringList &c) { return c[ColSaveFolder] == ownFolder(c[ColPath]); };
    const bool currentBeside = besideItself(cells);
    for (const int r : rows) {
        if (r == current)
            continue;
        const QStringList other = m_table->rowCells(r);
        const bool alike = std::all_of(columns.begin(), columns.end(), [&](int c) { return other[c] == cells[c]; })
                           && besideItself(other) == currentBeside;
        if (!alike)
            others.append(rowSettingsOf(m_table->jobRow(r)));
    }
    for (const RowFieldEntry &entry : rowFields()) {
        const QString text = entry.text(shown);
        if (std::any_of(others.begin(), others.end(), [&](const RowSettings &s) { return entry.text(s) != text; }))
            mixed.append(entry.field);
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
    // The height beyond the panel's goes to the grid; what lies under it moves down.
    const int grow = std::max(0, height() - minimumHeight());
    m_grid->resize(std::max(0, twipsToPixels(gridTwips)), m_gridHeight + grow);
    if (grow != m_grow) {
        const QPoint down(0, grow - m_grow);
        m_grow = grow;
        for (QWidget *w :
             {static_cast<QWidget *>(m_add), static_cast<QWidget *>(m_bar), static_cast<QWidget *>(m_start)})
            w->move(w->pos() + down);
        m_stripRect.translate(down);
        layoutStrip();
    }
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_form2 && event->type() == QEvent::Show && !m_form2Placed)
        placeForm2();
    if (watched == m_form2 && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        placeForm2Frame();
    if (watched == m_bar && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        layoutStrip();
        if (isVisible())
            update(m_stripRect);
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (!m_batch->mayClose()) {
        event->ignore();
        return;
    }
    // A drop being read ends with the window; the rows it found are not kept anyway.
    stopAdding();
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
