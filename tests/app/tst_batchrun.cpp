#include "app/form1.h"
#include "app/prompts.h"
#include "export/privatetemp.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "platform/busypointer.h"
#include "preview/form2.h"

#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPalette>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <unistd.h>

using namespace kestrovia;
using namespace Qt::StringLiterals;

namespace {

constexpr TwipsPerPixel kTpp{15, 15};

// Gradients with noise: enough detail that the JPEG quality shows in the file size.
QImage testPicture(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = int((seed >> 16) & 63) - 32;
            line[x] = qRgb(qBound(0, x * 255 / w + noise, 255), qBound(0, y * 255 / h - noise, 255),
                           qBound(0, 128 + noise, 255));
        }
    }
    return img;
}

void writePicture(const QString &path, int w, int h, const char *format)
{
    QVERIFY2(testPicture(w, h).save(path, format), qPrintable(path));
}

// A real drop as the file manager sends it: enter, move, drop on the grid's rows
// (or on its header row).
void dropFiles(Form1 &form, const QStringList &paths, bool onHeader = false)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    QWidget *viewport = onHeader ? form.PicsGalary->horizontalHeader()->viewport() : form.PicsGalary->viewport();
    const QPoint pos = viewport->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    QVERIFY(enter.isAccepted());
    QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
}

QStringList rowCells(const JobTable &t, int row)
{
    QStringList out;
    for (int c = 0; c < t.Cols(); ++c)
        out << t.TextMatrix(row, c);
    return out;
}

QList<QStringList> allCells(const JobTable &t)
{
    QList<QStringList> out;
    for (int r = 0; r < t.Rows(); ++r)
        out << rowCells(t, r);
    return out;
}

void appendRow(JobTable &t, const QString &path, const QString &folder, const QString &level = u"5"_s)
{
    const int r = t.Rows();
    t.setRows(r + 1);
    const QFileInfo info(path);
    const QStringList cells = {info.fileName(), u""_s, path, u"→"_s, u""_s, u"OFF"_s, u"-2147483643"_s,
                               u"Top"_s, u""_s, u""_s, u""_s, folder, level};
    for (int c = 0; c < cells.size(); ++c)
        t.setTextMatrix(r, c, cells[c]);
}

// What the run showed while it worked: the bar's value after each row, and the
// pointer and visibility at that moment.
struct RunWatch {
    QList<int> values;
    bool alwaysBusy = true;
    bool alwaysVisible = true;
    int shows = 0;
};

class ShowCounter : public QObject {
public:
    ShowCounter(RunWatch &w, QObject *parent) : QObject(parent), m_watch(w) {}
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Show)
            ++m_watch.shows;
        return false;
    }

private:
    RunWatch &m_watch;
};

} // namespace

class TestBatchRun : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        Prompts::setScripted(true);
        Prompts::clearShown();
        m_form = std::make_unique<Form1>(kTpp);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QVERIFY(m_dir.isValid());
        m_root = m_dir.path() + u"/"_s + QString::fromLatin1(QTest::currentTestFunction())
                 + QString::fromUtf8(QTest::currentDataTag()) + u"/"_s;
        QVERIFY(QDir().mkpath(m_root));
    }
    void cleanup()
    {
        m_form.reset();
        QVERIFY(!QFile::exists(temporaryBitmapPath()));
        QVERIFY(!BusyPointer::isBusy());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    void dropAndConvertEndToEnd()
    {
        const QString folder = m_root + u"写真 フォルダ/"_s;
        QVERIFY(QDir().mkpath(folder + u"x.jpg"_s));
        writePicture(folder + u"photo.jpg"_s, 320, 240, "JPG");
        writePicture(folder + u"scan.bmp"_s, 150, 100, "BMP");
        writePicture(folder + u"icon.png"_s, 16, 16, "PNG");

        dropFiles(*m_form, {folder + u"photo.jpg"_s, folder + u"icon.png"_s, folder + u"x.jpg"_s,
                            folder + u"scan.bmp"_s});
        JobTable &t = *m_form->table();
        QCOMPARE(t.Rows(), 3);
        for (const auto &[row, name] : {std::pair{1, u"photo.jpg"_s}, std::pair{2, u"scan.bmp"_s}}) {
            QCOMPARE(rowCells(t, row), QStringList({name, u""_s, folder + name, u"→"_s, u""_s, u"OFF"_s,
                                                    u"-2147483643"_s, u"Top"_s, u""_s, u""_s, u""_s, folder,
                                                    u"5"_s}));
        }

        // The same picture once more at the best and at the strongest level, each
        // into its own chosen folder.
        const QString best = m_root + u"best/"_s, strongest = m_root + u"strongest/"_s;
        QVERIFY(QDir().mkpath(best) && QDir().mkpath(strongest));
        m_form->SaveCheck[1]->setChecked(true);
        m_form->SaveTxt->setText(best);
        m_form->CompressLevel->setValue(0);
        dropFiles(*m_form, {folder + u"photo.jpg"_s});
        m_form->SaveTxt->setText(strongest);
        m_form->CompressLevel->setValue(100);
        dropFiles(*m_form, {folder + u"photo.jpg"_s});
        QCOMPARE(t.Rows(), 5);
        QCOMPARE(t.TextMatrix(3, ColCompression), u"0"_s);
        QCOMPARE(t.TextMatrix(3, ColSaveFolder), best);
        QCOMPARE(t.TextMatrix(4, ColCompression), u"10"_s);
        QCOMPARE(t.TextMatrix(4, ColSaveFolder), strongest);
        // A size set on the row (as the preview window would) is the output size.
        t.setTextMatrix(2, ColNewSize, u"60*45"_s);

        const auto before = allCells(t);
        RunWatch &watch = connectWatch();
        m_form->BtnMain->click();

        // No box to click away: a short note in the strip under the grid.
        QCOMPARE(Prompts::shown().size(), 0);
        QCOMPARE(m_form->Label15->text(), u"4件を保存しました"_s);
        QCOMPARE(watch.values, QList<int>({1, 2, 3, 4}));
        QCOMPARE(m_form->ProgressBar1->maximum(), 5);
        QVERIFY(watch.alwaysBusy);
        QVERIFY(watch.alwaysVisible);
        QVERIFY(m_form->ProgressBar1->isHidden());
        QCOMPARE(allCells(t), before);

        QCOMPARE(QImage(folder + u"photo_b.jpg"_s).size(), QSize(320, 240));
        QCOMPARE(QImage(folder + u"scan.jpg"_s).size(), QSize(60, 45));
        QCOMPARE(QImage(best + u"photo_b.jpg"_s).size(), QSize(320, 240));
        QCOMPARE(QImage(strongest + u"photo_b.jpg"_s).size(), QSize(320, 240));
        QVERIFY(QFileInfo(best + u"photo_b.jpg"_s).size() > QFileInfo(strongest + u"photo_b.jpg"_s).size());

        // Nothing else is left behind: no temporary bitmap, no half-written JPEG.
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
                 QStringList({u"icon.png"_s, u"photo.jpg"_s, u"photo_b.jpg"_s, u"scan.bmp"_s, u"scan.jpg"_s,
                              u"x.jpg"_s}));
        QCOMPARE(QDir(best).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({u"photo_b.jpg"_s}));

        // The next drop, this time on the header row, adds a row and brings the hint back.
        dropFiles(*m_form, {folder + u"photo.jpg"_s}, true);
        QCOMPARE(t.Rows(), 6);
        QCOMPARE(m_form->Label15->text(), u"画像をドラッグアンドドロップしてください。"_s);
    }

    // The second row is damaged and the fourth's file is gone: the other three are
    // written, and one message names the two with their reasons.
    void failingRowsAreReportedTogether()
    {
        JobTable &t = *m_form->table();
        for (int i = 1; i <= 5; ++i) {
            const QString name = m_root + u"p%1.jpg"_s.arg(i);
            writePicture(name, 40, 30, "JPG");
            appendRow(t, name, m_root);
        }
        QFile damaged(m_root + u"p2.jpg"_s);
        QVERIFY(damaged.open(QIODevice::ReadWrite));
        damaged.resize(damaged.size() / 2);
        damaged.close();
        QVERIFY(QFile::remove(m_root + u"p4.jpg"_s));
        RunWatch &watch = connectWatch();
        m_form->BtnMain->click();

        for (int i : {1, 3, 5})
            QVERIFY(QFile::exists(m_root + u"p%1_b.jpg"_s.arg(i)));
        QCOMPARE(watch.values, QList<int>({1, 2, 3, 4, 5}));
        QVERIFY(m_form->ProgressBar1->isHidden());
        QCOMPARE(Prompts::shown().size(), 1);
        const Prompts::Message &m = Prompts::shown()[0];
        QVERIFY2(m.text.contains(u"3件を保存しました"_s), qPrintable(m.text));
        QVERIFY2(m.informative.contains(u"p2.jpg"_s) && m.informative.contains(u"壊れて"_s),
                 qPrintable(m.informative));
        QVERIFY2(m.informative.contains(u"p4.jpg"_s) && m.informative.contains(u"見つかりません"_s),
                 qPrintable(m.informative));
        for (const QString &ok : {u"p1.jpg"_s, u"p3.jpg"_s, u"p5.jpg"_s})
            QVERIFY(!m.informative.contains(ok));
    }

    // Outputs that would replace existing files: one question, three answers.
    void overwriteQuestion_data()
    {
        QTest::addColumn<int>("answer"); // -1: Escape
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<bool>("newOneWritten");
        QTest::newRow("上書き") << int(Prompts::Overwrite) << true << true;
        QTest::newRow("スキップ") << int(Prompts::Skip) << false << true;
        QTest::newRow("Escape: 中止") << -1 << false << false;
    }
    void overwriteQuestion()
    {
        QFETCH(int, answer);
        QFETCH(bool, replaced);
        QFETCH(bool, newOneWritten);
        JobTable &t = *m_form->table();
        writePicture(m_root + u"old.jpg"_s, 40, 30, "JPG");
        writePicture(m_root + u"new.jpg"_s, 40, 30, "JPG");
        const QByteArray earlier("an earlier output");
        QFile f(m_root + u"old_b.jpg"_s);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(earlier) == earlier.size());
        f.close();
        appendRow(t, m_root + u"old.jpg"_s, m_root);
        appendRow(t, m_root + u"new.jpg"_s, m_root);
        if (answer >= 0)
            Prompts::setNextAnswer(Prompts::Answer(answer));
        m_form->BtnMain->click();

        QVERIFY(!Prompts::shown().isEmpty());
        const Prompts::Message &q = Prompts::shown()[0];
        QVERIFY2(q.text.contains(u"1件"_s) && q.informative.contains(u"old_b.jpg"_s), qPrintable(q.text));
        QFile kept(m_root + u"old_b.jpg"_s);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll() != earlier, replaced);
        QCOMPARE(QFile::exists(m_root + u"new_b.jpg"_s), newOneWritten);
    }

    // The same file twice: the second row would overwrite the first's output, so it
    // is left out and named; a second run asks before replacing the outputs.
    void sameSourceTwiceAndRunTwice()
    {
        JobTable &t = *m_form->table();
        writePicture(m_root + u"same.bmp"_s, 50, 40, "BMP");
        dropFiles(*m_form, {m_root + u"same.bmp"_s, m_root + u"same.bmp"_s});
        QCOMPARE(t.Rows(), 3);
        m_form->BtnMain->click();
        QCOMPARE(QImage(m_root + u"same.jpg"_s).size(), QSize(50, 40));
        QCOMPARE(Prompts::shown().size(), 1);
        QVERIFY2(Prompts::shown()[0].informative.contains(u"1行目"_s), qPrintable(Prompts::shown()[0].informative));

        Prompts::clearShown();
        const QDateTime first = QFileInfo(m_root + u"same.jpg"_s).lastModified();
        QTest::qWait(20);
        Prompts::setNextAnswer(Prompts::Overwrite);
        m_form->BtnMain->click();
        QCOMPARE(t.Rows(), 3);
        QVERIFY(QFileInfo(m_root + u"same.jpg"_s).lastModified() > first);
        QCOMPARE(QDir(m_root).entryList(QDir::Files | QDir::Hidden), QStringList({u"same.bmp"_s, u"same.jpg"_s}));
    }

    // The default background is the classic window colour in the file, also under a
    // dark desktop theme.
    void darkThemeStillWritesWhiteBands()
    {
        QApplication::setPalette(QPalette(QColor(0x22, 0x22, 0x22)));
        writePicture(m_root + u"wide.bmp"_s, 640, 480, "BMP");
        appendRow(*m_form->table(), m_root + u"wide.bmp"_s, m_root);
        m_form->table()->setTextMatrix(1, ColNewSize, u"200*100"_s);
        m_form->table()->setTextMatrix(1, ColPosition, u"Center"_s);
        m_form->BtnMain->click();
        QApplication::setPalette(QPalette());
        const QImage out(m_root + u"wide.jpg"_s);
        QCOMPARE(out.size(), QSize(200, 100));
        for (const QPoint band : {QPoint(5, 50), QPoint(194, 50)})
            QVERIFY2(qGray(out.pixel(band)) > 245, qPrintable(QColor(out.pixel(band)).name()));
    }

    void emptyTable()
    {
        RunWatch &watch = connectWatch();
        m_form->BtnMain->click();
        QCOMPARE(watch.shows, 1);
        QCOMPARE(watch.values, QList<int>());
        QVERIFY(m_form->ProgressBar1->isHidden());
        QCOMPARE(Prompts::shown().size(), 0);
        QCOMPARE(m_form->Label15->text(), u"画像をドラッグアンドドロップしてください。"_s);
    }

private:
    // The watch lives in the test object, so it outlasts every event the bar gets.
    RunWatch &connectWatch()
    {
        m_watch = RunWatch();
        RunWatch &watch = m_watch;
        QProgressBar *bar = m_form->ProgressBar1;
        connect(bar, &QProgressBar::valueChanged, m_form.get(), [&watch, bar](int v) {
            if (v == 0)
                return;
            watch.values << v;
            const QCursor *c = QGuiApplication::overrideCursor();
            watch.alwaysBusy = watch.alwaysBusy && c && c->shape() == Qt::WaitCursor;
            watch.alwaysVisible = watch.alwaysVisible && bar->isVisible();
        });
        bar->installEventFilter(new ShowCounter(watch, bar));
        return watch;
    }

    QTemporaryDir m_dir;
    QString m_root;
    std::unique_ptr<Form1> m_form;
    RunWatch m_watch;
};

QTEST_MAIN(TestBatchRun)
#include "tst_batchrun.moc"
