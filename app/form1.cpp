#include "app/form1.h"

#include "app/artwork.h"
#include "app/batchrun.h"
#include "app/colorswatch.h"
#include "app/drophandler.h"
#include "app/rowcommands.h"
#include "app/settingspanel.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "platform/syscolor.h"
#include "preview/form2.h"
#include "preview/selectionsync.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace kestrovia {

namespace {

// Sizes kept by the resize rule, in twips. The client height is what the panel
// needs; the window system's title bar comes on top of it, however tall it is.
constexpr int kClientHeight = 5865;
constexpr int kMinOuterWidth = 2700;
constexpr int kRestoredOuterWidth = 8490;

QString dropHint() { return QStringLiteral("画像をドラッグアンドドロップしてください。"); }

template <typename T>
T *named(T *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel *label(const QString &text, const char *name, QWidget *parent)
{
    return named(new QLabel(text, parent), name);
}

} // namespace

Form1::Form1(TwipsPerPixel tpp, QWidget *parent)
    : QWidget(parent)
    , m_tpp(tpp)
    , m_table(new JobTable(this))
    , m_form2(nullptr)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Kestrovia"));
    setWindowIcon(programIcon());
    // Sizable, but without minimize and maximize buttons.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::CustomizeWindowHint);
    setFont(JobListView::gridFont());

    Frame1 = named(new QGroupBox(QStringLiteral("作成画像"), this), "Frame1");
    Frame1->setGeometry(twipsRect(30, 0, 2655, 5805));
    PicsGalary = new JobListView(m_table, tpp, this);
    PicsGalary->setGeometry(twipsRect(2730, 0, 5595, 5505));

    // The hint lies under the progress bar, so it shows whenever no batch runs.
    // At the grid's font it needs two lines to stay legible in its width.
    Label15 = label(dropHint(), "Label15", this);
    Label15->setWordWrap(true);
    Label15->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    {
        const QRect r = twipsRect(2820, 5550, 2955, 225);
        const int bottom = twipsRect(0, 0, 0, 5865).height();
        Label15->setGeometry(r.left(), r.top() - 3, r.width(), bottom - r.top() + 3);
    }
    ProgressBar1 = named(new QProgressBar(this), "ProgressBar1");
    ProgressBar1->setGeometry(twipsRect(2700, 5550, 3075, 225));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setVisible(false);
    // The two-line hint is taller than the bar that covers it during a run.
    ProgressBar1->installEventFilter(this);
    BtnMain = named(new QPushButton(QStringLiteral("処理実行 >> >>"), this), "BtnMain");
    BtnMain->setGeometry(twipsRect(5820, 5520, 2505, 315));

    buildPanel();
    buildMenu();

    resize(twipsRect(0, 0, 8340, kClientHeight).size());
    // The height never changes, so the window manager offers no vertical resize
    // and maximising cannot leave an empty strip under the panel.
    setFixedHeight(twipsRect(0, 0, 0, kClientHeight).height());

    // Start-up: the preview window exists from the start, hidden. It is placed
    // beside this window when it first comes on screen: by then the window
    // manager has placed this one, and its frame is known.
    m_form2 = new Form2(tpp, this);
    m_form2->installEventFilter(this);
    setupJobTable();

    m_selectionSync = new SelectionSync(this);
    m_settingsPanel = new SettingsPanel(this);
    m_dropHandler = new DropHandler(this);
    m_rowCommands = new RowCommands(this);
    m_batchRun = new BatchRun(this);
}

Form1::~Form1() = default;

QRect Form1::twipsRect(int left, int top, int width, int height) const
{
    return QRect(twipsToPixels(left, m_tpp.x), twipsToPixels(top, m_tpp.y), twipsToPixels(width, m_tpp.x),
                 twipsToPixels(height, m_tpp.y));
}

void Form1::buildPanel()
{
    auto *v = new QVBoxLayout(Frame1);
    v->setContentsMargins(5, 2, 3, 3);
    v->setSpacing(1);
    const auto row = [v](std::initializer_list<QWidget *> widgets, int stretchAfter = 1) {
        auto *h = new QHBoxLayout;
        h->setSpacing(3);
        h->setContentsMargins(0, 0, 0, 0);
        for (QWidget *w : widgets)
            h->addWidget(w);
        if (stretchAfter)
            h->addStretch(stretchAfter);
        v->addLayout(h);
        return h;
    };
    const int editHeight = fontMetrics().height() + 6;

    Label9 = label(QStringLiteral("■画像サイズ ：単位pixel"), "Label9", Frame1);
    v->addWidget(Label9);
    Label2 = label(QStringLiteral("横"), "Label2", Frame1);
    TxtWidth = named(new QLineEdit(QStringLiteral("0"), Frame1), "TxtWidth");
    Label1 = label(QStringLiteral("縦"), "Label1", Frame1);
    TxtHeight = named(new QLineEdit(QStringLiteral("0"), Frame1), "TxtHeight");
    for (QLineEdit *e : {TxtWidth, TxtHeight}) {
        e->setFixedSize(52, editHeight);
        e->setAlignment(Qt::AlignRight);
    }
    row({Label2, TxtWidth, Label1, TxtHeight});

    AspCheck[0] = named(new QRadioButton(QStringLiteral("元画像の縦横比を保持する。"), Frame1), "AspCheck(0)");
    AspCheck[1] = named(new QRadioButton(QStringLiteral("比率を無視して画像サイズに\nフィットさせる。"), Frame1),
                        "AspCheck(1)");
    AspCheck[0]->setChecked(true);
    auto *aspGroup = new QButtonGroup(Frame1);
    aspGroup->addButton(AspCheck[0], 0);
    aspGroup->addButton(AspCheck[1], 1);
    v->addWidget(AspCheck[0]);
    v->addWidget(AspCheck[1]);

    Label3 = label(QStringLiteral("■背景色"), "Label3", Frame1);
    PicBack = named(new ColorSwatch(Frame1), "PicBack");
    PicBack->setFixedSize(60, editHeight - 2);
    row({Label3, PicBack});

    Label4 = label(QStringLiteral("■画像位置"), "Label4", Frame1);
    v->addWidget(Label4);
    Frame2 = named(new QFrame(Frame1), "Frame2");
    Frame2->setFrameShape(QFrame::NoFrame);
    {
        auto *h = new QHBoxLayout(Frame2);
        h->setContentsMargins(8, 0, 0, 0);
        PicPos[0] = named(new QRadioButton(QStringLiteral("左上"), Frame2), "PicPos(0)");
        PicPos[1] = named(new QRadioButton(QStringLiteral("中央"), Frame2), "PicPos(1)");
        PicPos[0]->setChecked(true);
        h->addWidget(PicPos[0]);
        h->addWidget(PicPos[1]);
        h->addStretch(1);
    }
    v->addWidget(Frame2);

    Label10 = label(QStringLiteral("■画像編集"), "Label10", Frame1);
    v->addWidget(Label10);
    Label11 = label(QStringLiteral("回転"), "Label11", Frame1);
    RollValue = named(new QComboBox(Frame1), "RollValue");
    RollValue->setEditable(true);
    RollValue->setInsertPolicy(QComboBox::NoInsert);
    RollValue->addItems({QStringLiteral("+90°"), QStringLiteral("-90°"), QStringLiteral("+180°"), QStringLiteral(" ")});
    RollValue->setCurrentIndex(-1);
    RollValue->setEditText(QString());
    RollValue->setFixedSize(80, editHeight);
    row({Label11, RollValue});
    // Inactive captions: nothing reads or sets a brightness or a contrast.
    Label12 = label(QStringLiteral("明度"), "Label12", Frame1);
    Label13 = label(QStringLiteral("コントラスト"), "Label13", Frame1);
    for (QLabel *l : {Label12, Label13})
        l->setEnabled(false);
    row({Label12, Label13});

    Label5 = label(QStringLiteral("■JPG圧縮レベル："), "Label5", Frame1);
    CompLabel = label(QStringLiteral("5 ( 標準 )"), "CompLabel", Frame1);
    row({Label5, CompLabel});
    Label7 = label(QStringLiteral("Low"), "Label7", Frame1);
    CompressLevel = named(new QScrollBar(Qt::Horizontal, Frame1), "CompressLevel");
    CompressLevel->setRange(0, 100);
    CompressLevel->setSingleStep(10);
    CompressLevel->setPageStep(10);
    CompressLevel->setValue(50);
    // A dragged thumb reports its value once, when it is released.
    CompressLevel->setTracking(false);
    Label8 = label(QStringLiteral("High"), "Label8", Frame1);
    {
        auto *h = new QHBoxLayout;
        h->setSpacing(3);
        h->addWidget(Label7);
        h->addWidget(CompressLevel, 1);
        h->addWidget(Label8);
        v->addLayout(h);
    }

    Label6 = label(QStringLiteral("■保存"), "Label6", Frame1);
    v->addWidget(Label6);
    Frame3 = named(new QFrame(Frame1), "Frame3");
    Frame3->setFrameShape(QFrame::NoFrame);
    {
        auto *fv = new QVBoxLayout(Frame3);
        fv->setContentsMargins(0, 0, 0, 0);
        fv->setSpacing(1);
        SaveCheck[0] = named(new QRadioButton(QStringLiteral("画像と同じフォルダに保存"), Frame3), "SaveCheck(0)");
        SaveCheck[1] = named(new QRadioButton(QStringLiteral("場所を指定して保存"), Frame3), "SaveCheck(1)");
        SaveCheck[0]->setChecked(true);
        fv->addWidget(SaveCheck[0]);
        fv->addWidget(SaveCheck[1]);
        auto *h = new QHBoxLayout;
        h->setSpacing(2);
        SaveTxt = named(new QLineEdit(Frame3), "SaveTxt");
        // The folder comes from the chooser, so it always names a folder that existed.
        SaveTxt->setReadOnly(true);
        SaveTxt->setFixedHeight(editHeight);
        SaveFolder = named(new QToolButton(Frame3), "SaveFolder");
        SaveFolder->setText(QStringLiteral("…"));
        SaveFolder->setFixedSize(24, editHeight);
        h->addWidget(SaveTxt, 1);
        h->addWidget(SaveFolder);
        fv->addLayout(h);
    }
    v->addWidget(Frame3);

    PreCheck = named(new QCheckBox(QStringLiteral("完全プレビューを表示する。"), Frame1), "PreCheck");
    v->addWidget(PreCheck);
    Label14 = label(QStringLiteral("注意：画像編集を行う場合は動作が非常に重くなります。"), "Label14", Frame1);
    Label14->setWordWrap(true);
    Label14->setStyleSheet(QStringLiteral("color: #d00000;"));
    v->addWidget(Label14);
    v->addStretch(1);

    Image1 = label(QString(), "Image1", Frame1);
    Image1->setPixmap(bannerPixmap());
    Image1->setScaledContents(true);
    Image1->setFixedSize(twipsRect(0, 0, 2550, 465).size());
    Image1->setCursor(Qt::PointingHandCursor);
    Image1->installEventFilter(this);
    v->addWidget(Image1, 0, Qt::AlignHCenter);
}

void Form1::buildMenu()
{
    const auto action = [](QMenu *menu, const QString &text, const char *name) {
        QAction *a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    const auto submenu = [](QMenu *parent, const QString &text, const char *name) {
        QMenu *m = parent->addMenu(text);
        m->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setObjectName(QString::fromLatin1(name));
        return m;
    };
    SameAll = new QMenu(QStringLiteral("編集"), this);
    SameAll->setObjectName(QStringLiteral("SameAll"));
    SameAll->menuAction()->setObjectName(QStringLiteral("SameAll"));
    // The root only serves as the popup: there is no menu bar to show it in.
    SameAll->menuAction()->setVisible(false);

    SameA = submenu(SameAll, QStringLiteral("項目の一致"), "SameA");
    SameAllItem = action(SameA, QStringLiteral("全項目"), "SameAllItem");
    SameSizeAll = action(SameA, QStringLiteral("サイズ"), "SameSizeAll");
    SameFitAll = action(SameA, QStringLiteral("フィット"), "SameFitAll");
    SameColorAll = action(SameA, QStringLiteral("背景色"), "SameColorAll");
    SamePosAll = action(SameA, QStringLiteral("位置"), "SamePosAll");
    SameRollAll = action(SameA, QStringLiteral("回転"), "SameRollAll");
    SameJPGAll = action(SameA, QStringLiteral("JPG圧縮"), "SameJPGAll");
    SameFolderAll = action(SameA, QStringLiteral("保存先"), "SameFolderAll");

    SortMnu = submenu(SameAll, QStringLiteral("ソート"), "SortMnu");
    SortFileName = submenu(SortMnu, QStringLiteral("ファイル名"), "SortFileName");
    SortFile[0] = action(SortFileName, QStringLiteral("昇順"), "SortFile(0)");
    SortFile[1] = action(SortFileName, QStringLiteral("降順"), "SortFile(1)");
    SortSize = action(SortMnu, QStringLiteral("サイズ"), "SortSize");
    SortNewSize = action(SortMnu, QStringLiteral("新規サイズ"), "SortNewSize");
    SortJPG = action(SortMnu, QStringLiteral("JPG圧縮"), "SortJPG");
    for (QAction *a : {SortSize, SortNewSize, SortJPG})
        a->setVisible(false);
}

void Form1::setupJobTable()
{
    struct Column {
        const char16_t *header;
        int width;
    };
    static constexpr Column columns[JobColumnCount] = {
        {u"ファイル名", 1500}, {u"元サイズ", 800}, {u"パス", 1500}, {u"", 300},    {u"新サイズ", 800},
        {u"フィット", 500},    {u"背景色", 1000},  {u"位置", 500},  {u"回転", 500}, {nullptr, 100},
        {nullptr, 100},        {u"保存先", 2000},  {u"圧縮", 500},
    };
    for (int col = 0; col < JobColumnCount; ++col) {
        // The two reserved columns keep the empty header every cell starts with.
        if (columns[col].header)
            m_table->setTextMatrix(0, col, QString::fromUtf16(columns[col].header));
        m_table->setColWidth(col, columns[col].width);
    }
}

void Form1::setStripNote(const QString &note)
{
    Label15->setText(note.isEmpty() ? dropHint() : note);
}

int Form1::outerWidthTwips() const { return int(pixelsToTwips(frameGeometry().width(), m_tpp.x)); }
int Form1::outerHeightTwips() const { return int(pixelsToTwips(frameGeometry().height(), m_tpp.y)); }

void Form1::placeForm2()
{
    // Moved before it is mapped, the window manager takes this as the frame's
    // top-left corner.
    const QRect outer = frameGeometry();
    m_form2->move(outer.left() + outer.width(), outer.top());
    m_form2Placed = true;
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
    if (pixelsToTwips(outerW, m_tpp.x) < kMinOuterWidth) {
        outerW = twipsToPixels(kRestoredOuterWidth, m_tpp.x);
        resize(outerW - frameW, height());
    }

    // Outer widths from 2700 to 2760 twips leave no room for the grid: it shrinks to nothing.
    const int gridTwips = int(pixelsToTwips(outerW, m_tpp.x)) - (2730 + 30);
    PicsGalary->resize(std::max(0, twipsToPixels(gridTwips, m_tpp.x)), PicsGalary->height());
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_form2 && event->type() == QEvent::Show && !m_form2Placed)
        placeForm2();
    if (watched == ProgressBar1 && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        Label15->setVisible(event->type() == QEvent::Hide);
        // A batch run does not return to the event loop until it ends, so the
        // uncovered strip is painted at once.
        if (isVisible())
            repaint(Label15->geometry());
    }
    if (watched == Image1 && event->type() == QEvent::MouseButtonRelease) {
        auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() == Qt::LeftButton)
            emit Image1_Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent *event)
{
    // Closing the main window ends the program with every other window,
    // hidden ones (the preview, the folder chooser) included; with the last
    // window gone the application quits.
    m_form2->close();
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows) {
        if (w != this)
            w->close();
    }
    event->accept();
}

} // namespace kestrovia
