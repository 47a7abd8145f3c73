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
#include "platform/units.h"
#include "preview/form2.h"
#include "preview/selectionsync.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QUrl>

namespace kestrovia {

namespace {

// Sizes kept by the resize rule, in twips. The client height is what the panel
// needs; the window system's title bar comes on top of it, however tall it is.
constexpr int kClientHeight = 5865;
constexpr int kMinOuterWidth = 2700;
constexpr int kRestoredOuterWidth = 8490;

QString dropHint() { return QString::fromUtf8("画像をドラッグアンドドロップしてください。"); }

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
    m_panel->setGeometry(twipsRect(30, 0, 2655, 5805));
    m_grid = new JobListView(m_table, this);
    m_grid->setGeometry(twipsRect(2730, 0, 5595, 5505));
    // The keyboard starts on the job list, where Enter, Delete and the Menu key act.
    m_grid->setFocus();

    // The hint lies under the progress bar, so it shows whenever no batch runs.
    // At the grid's font it needs two lines to stay legible in its width.
    m_hint = new StripLabel(dropHint(), this);
    m_hint->setObjectName(QStringLiteral("Label15"));
    m_hint->setWordWrap(true);
    m_hint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    {
        // From the grid's foot to the window's: two lines must fit there, so the
        // font steps down until they do.
        const QRect r = twipsRect(2820, 5505, 2955, kClientHeight - 5505);
        m_hint->setGeometry(r);
        QFont f = m_hint->font();
        while (2 * QFontMetrics(f).lineSpacing() > r.height() && f.pointSizeF() > 6)
            f.setPointSizeF(f.pointSizeF() - 0.5);
        m_hint->setFont(f);
    }
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("ProgressBar1"));
    m_bar->setGeometry(twipsRect(2700, 5550, 3075, 225));
    m_bar->setTextVisible(false);
    m_bar->setVisible(false);
    // The two-line hint is taller than the bar that covers it during a run.
    m_bar->installEventFilter(this);
    m_start = new QPushButton(QString::fromUtf8("処理実行 >> >>"), this);
    m_start->setObjectName(QStringLiteral("BtnMain"));
    m_start->setGeometry(twipsRect(5820, 5520, 2505, 315));

    resize(twipsRect(0, 0, 8340, kClientHeight).size());
    // The height never changes, so the window manager offers no vertical resize
    // and maximising cannot leave an empty strip under the panel.
    setFixedHeight(twipsRect(0, 0, 0, kClientHeight).height());

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
    // Escape stops a run (after the rows in flight).
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
    connect(m_panel, &SettingsPanel::settingPicked, this, &Form1::writeCurrentRow);
    connect(m_panel, &SettingsPanel::completePreviewChecked, m_sync, &SelectionSync::PicsGalary_SelChange);
    connect(m_panel, &SettingsPanel::saveFolderRequested, this, &Form1::chooseSaveFolder);
    connect(m_panel, &SettingsPanel::bannerClicked, this, [this] { AboutDialog::showModal(this); });
    connect(m_grid, &JobListView::OLEDragDrop, this, [this](const QMimeData *data) {
        if (!data || !data->hasUrls())
            return;
        QStringList paths;
        for (const QUrl &url : data->urls()) {
            // Only files on this machine can be read; a web link or a remote share
            // URL dragged from a browser is not a picture file.
            if (url.isLocalFile())
                paths.append(url.toLocalFile());
        }
        appendFiles(paths);
    });
}

Form1::~Form1() = default;

int Form1::appendFiles(const QStringList &paths)
{
    const DropResult result = appendDroppedFiles(*m_table, paths, [this] { return m_panel->values(); });
    QString note;
    if (!result.unsupported.isEmpty()) {
        // Said where the user looks, without a box to click away.
        note = QString::fromUtf8("%1件は対応していない形式のため追加しませんでした: %2")
                   .arg(result.unsupported.size())
                   .arg(result.unsupported.mid(0, 3).join(QStringLiteral(", ")));
        if (result.unsupported.size() > 3)
            note += QString::fromUtf8(" ほか");
    }
    setStripNote(note);
    return result.appended;
}

void Form1::setStripNote(const QString &note)
{
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
        {"ファイル名", 1500}, {"元サイズ", 800}, {"パス", 1500}, {"", 300},     {"新サイズ", 800},
        {"フィット", 500},    {"背景色", 1000},  {"位置", 500},  {"回転", 500}, {nullptr, 100},
        {nullptr, 100},       {"保存先", 2000},  {"圧縮", 500},
    };
    for (int col = 0; col < JobColumnCount; ++col) {
        // The two reserved columns keep the empty header every cell starts with.
        if (columns[col].header)
            m_table->setTextMatrix(0, col, QString::fromUtf8(columns[col].header));
        m_table->setColWidth(col, columns[col].width);
    }
}

void Form1::writeCurrentRow(int column, const QString &text, bool redraw)
{
    const int r = m_table->Row();
    if (r >= 1 && r < m_table->Rows())
        m_table->setTextMatrix(r, column, text);
    if (redraw)
        m_sync->PicsGalary_SelChange();
}

void Form1::chooseSaveFolder()
{
    const int r = m_table->Row();
    if (r < 1 || r >= m_table->Rows())
        return;
    const Prompts::FolderChoice choice = Prompts::chooseFolder(this, m_table->TextMatrix(r, ColSaveFolder));
    if (choice.result == Prompts::FolderChoice::NotShown)
        return;
    if (choice.result == Prompts::FolderChoice::Chosen)
        m_panel->setSaveText(choice.folder);
    // After a cancel the folder chosen before still stands; with none chosen yet
    // the row keeps its own, as output never goes where the user did not choose.
    if (!m_panel->saveText().isEmpty())
        writeCurrentRow(ColSaveFolder, m_panel->saveText(), false);
}

void Form1::placeForm2()
{
    // Where the preview's frame goes: at this window's right outer edge, tops
    // aligned. Until its own frame is known, the preview's decorations are taken to
    // be this window's; placeForm2Frame() corrects that once they are known.
    const QRect outer = frameGeometry();
    const QMargins decorations(geometry().left() - outer.left(), geometry().top() - outer.top(),
                               outer.right() - geometry().right(), outer.bottom() - geometry().bottom());
    QRect frame(QPoint(outer.left() + outer.width(), outer.top()), m_form2->size().grownBy(decorations));
    // A wide preview beside a window on the right of the screen would hide its
    // own border: it moves back just enough to be whole.
    if (const QScreen *s = screen()) {
        const QRect room = s->availableGeometry();
        frame.moveLeft(std::max(room.left(), std::min(frame.left(), room.right() + 1 - frame.width())));
        frame.moveTop(std::max(room.top(), std::min(frame.top(), room.bottom() + 1 - frame.height())));
    }
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
        // A batch run does not return to the event loop until it ends, so the
        // uncovered strip is painted at once.
        if (isVisible())
            repaint(m_hint->geometry());
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_batch->isRunning()) {
        Prompts::Message q;
        q.icon = Prompts::Question;
        q.title = QStringLiteral("Kestrovia");
        q.text = QString::fromUtf8("変換の途中です。中止して終了しますか？");
        q.informative =
            QString::fromUtf8("変換中の画像は最後まで保存されます。まだ始まっていない画像は保存されません。");
        if (Prompts::ask(this, q, {Prompts::Stop, Prompts::Continue}, Prompts::Continue, Prompts::Continue)
            != Prompts::Stop) {
            event->ignore();
            return;
        }
        m_batch->stopAndWait();
    }
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
