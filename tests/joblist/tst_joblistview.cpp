// The job list as people see it: readable words and swatches while the table keeps
// its texts, what a screen reader hears of a cell, and column widths that show their
// content, keep what the user dragged and come back at the next start.

#include "compose/jobrow.h"
#include "joblist/cellview.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobdelegate.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "tests/common/jobrows.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QHeaderView>
#include <QTest>

using namespace kestrovia;

namespace {

// The delegate's option for a cell, as it draws it.
class Probe : public JobDelegate {
public:
    using JobDelegate::initStyleOption;
};

} // namespace

class TestJobListView : public QObject {
    Q_OBJECT

private slots:
    // clang-format off
    void readableCells_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown"); // "⚠" first: marked as a row that cannot be converted
        QTest::addColumn<QString>("why"); // in the tooltip; empty: no tooltip
        QTest::addColumn<QColor>("swatch"); // invalid: none
        const QColor none;
        QTest::newRow("size") << int(ColNewSize) << "1600*1200" << "1600 × 1200" << "" << none;
        QTest::newRow("size not yet known") << int(ColOriginalSize) << "" << "" << "" << none;
        QTest::newRow("zero side") << int(ColNewSize) << "0*480" << "0 × 480" << "元画像と同じサイズ" << none;
        QTest::newRow("negative side") << int(ColNewSize) << "-5*480" << "⚠-5 × 480" << "負の値" << none;
        QTest::newRow("side not a number") << int(ColNewSize) << "x*480" << "⚠x*480" << "数値ではありません" << none;
        QTest::newRow("keep aspect") << int(ColFit) << "OFF" << "保持" << "縦横比" << none;
        QTest::newRow("stretch") << int(ColFit) << "ON" << "伸縮" << "縦横比" << none;
        QTest::newRow("other fit") << int(ColFit) << "off" << "off" << "伸縮として" << none;
        QTest::newRow("top-left") << int(ColPosition) << "Top" << "左上" << "" << none;
        QTest::newRow("centre") << int(ColPosition) << "Center" << "中央" << "" << none;
        QTest::newRow("other position") << int(ColPosition) << "center" << "左上" << "左上として" << none;
        QTest::newRow("+90") << int(ColRotation) << "+90°" << "+90°" << "" << none;
        QTest::newRow("-90") << int(ColRotation) << "-90°" << "−90°" << "" << none;
        QTest::newRow("+180") << int(ColRotation) << "+180°" << "+180°" << "" << none;
        QTest::newRow("blank item") << int(ColRotation) << " " << "なし" << "" << none;
        QTest::newRow("no turn chosen") << int(ColRotation) << "" << "なし" << "" << none;
        QTest::newRow("typed turn") << int(ColRotation) << "45" << "なし" << "「45」は回転なし" << none;
        // The output gets the classic default, not the desktop theme's colour.
        QTest::newRow("window background") << int(ColBackColor) << "-2147483643" << "ウィンドウ背景" << "#FFFFFF"
                                           << QColor(Qt::white);
        QTest::newRow("button face") << int(ColBackColor) << QString::number(qint32(0x8000000F)) << "ボタンの表面"
                                     << "#F0F0F0" << QColor(0xF0, 0xF0, 0xF0);
        QTest::newRow("white") << int(ColBackColor) << "16777215" << "白" << "#FFFFFF" << QColor(Qt::white);
        QTest::newRow("red, stored BGR") << int(ColBackColor) << "255" << "#FF0000" << "" << QColor(Qt::red);
        QTest::newRow("colour not a number") << int(ColBackColor) << "red" << "⚠red" << "数値ではありません" << none;
        QTest::newRow("level") << int(ColCompression) << "5" << "5" << "" << none;
        QTest::newRow("level between steps") << int(ColCompression) << "3.7" << "4" << "レベル 4" << none;
        QTest::newRow("level not a number") << int(ColCompression) << "x" << "⚠x" << "数値ではありません" << none;
        QTest::newRow("path") << int(ColPath) << "/a/b.jpg" << "/a/b.jpg" << "" << none;
        // A size a rule gave that no output can have is marked when the row is added.
        QTest::newRow("size past the limits") << int(ColNewSize) << "34000*20000" << "⚠34000 × 20000" << "出力できません"
                                              << none;
        QTest::newRow("metadata kept") << int(ColMetadata) << "all" << "すべて残す" << "" << none;
        QTest::newRow("no place") << int(ColMetadata) << "" << "位置情報を除く" << "" << none;
        QTest::newRow("nothing kept") << int(ColMetadata) << "none" << "すべて除く" << "" << none;
        QTest::newRow("own size") << int(ColSizeRule) << "original" << "元のサイズ" << "" << none;
        QTest::newRow("long edge, shrink only") << int(ColSizeRule) << "long 1600 shrink" << "長辺 1600 px（縮小のみ）"
                                                << "" << none;
        QTest::newRow("percent") << int(ColSizeRule) << "percent 50" << "50 %" << "" << none;
        QTest::newRow("exact") << int(ColSizeRule) << "640*480" << "640 × 480" << "" << none;
        QTest::newRow("no rule") << int(ColSizeRule) << "" << "指定なし" << "新サイズのとおり" << none;
        QTest::newRow("no format: JPEG") << int(ColFormat) << "" << "JPEG" << "" << none;
        QTest::newRow("WebP") << int(ColFormat) << "webp" << "WebP" << "" << none;
        QTest::newRow("PNG keeping transparency") << int(ColFormat) << "png alpha" << "PNG・透明" << "透明" << none;
        QTest::newRow("JPEG cannot keep it") << int(ColFormat) << "jpeg alpha" << "JPEG" << "背景色" << none;
        QTest::newRow("no pattern: the default") << int(ColNamePattern) << "" << "標準" << "_b" << none;
        QTest::newRow("pattern") << int(ColNamePattern) << "{名前}_{n:3}" << "{名前}_{n:3}" << "" << none;
    }
    // clang-format on
    void readableCells()
    {
        QFETCH(int, column);
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QFETCH(QString, why);
        QFETCH(QColor, swatch);
        JobTable table;
        JobListView view(&table);
        table.appendJob(testui::jobFor("/a/b.jpg", "/a/"));
        table.setTextMatrix(1, column, stored);
        view.resize(800, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QList<QStringList> before = testui::allCells(table);
        QVERIFY(qobject_cast<JobDelegate *>(view.itemDelegate()));

        Probe probe;
        QStyleOptionViewItem option;
        option.widget = &view;
        probe.initStyleOption(&option, table.index(0, column));
        QCOMPARE(option.text, shown);
        QCOMPARE(option.features.testFlag(QStyleOptionViewItem::HasDecoration), swatch.isValid());
        if (swatch.isValid()) {
            const QImage pixels = option.icon.pixmap(option.decorationSize).toImage();
            QCOMPARE(pixels.pixelColor(pixels.rect().center()), swatch);
        }
        // A screen reader hears the same, without the mark, and why in the description.
        QAccessibleInterface *cell = QAccessible::queryAccessibleInterface(&view)->tableInterface()->cellAt(0, column);
        QCOMPARE(cell->text(QAccessible::Name), shown.startsWith(u'⚠') ? shown.mid(1) : shown);
        const QString description = cell->text(QAccessible::Description);
        QVERIFY2(why.isEmpty() ? description.isEmpty() : description.contains(why), qPrintable(description));

        // Showing it changed nothing that the rest of the program reads.
        view.grab();
        QCOMPARE(testui::allCells(table), before);
        QCOMPARE(table.data(table.index(0, column)).toString(), stored);
        QCOMPARE(table.TextMatrix(1, column), stored);
    }

    // The words tell what the engine does with any text a row can hold, typed ones
    // included: a list that says 中央 for a picture placed top-left would mislead.
    void wordsMatchWhatTheRowDoes()
    {
        const QMap<QString, int> turns{{"なし", 0}, {"+90°", 90}, {"−90°", 270}, {"+180°", 180}};
        for (const QString text : {"OFF", "ON", "off", "", " ", "Top", "Center", "center", "+90°", "-90°", "+180°",
                                   "+90", "90°", "−90°", " +90°", "+180° "}) {
            JobRow row;
            row.fit = row.position = row.rotation = text;
            QCOMPARE(cellView(ColFit, text).text == "保持", row.keepsAspect());
            QCOMPARE(cellView(ColPosition, text).text, row.centred() ? "中央" : "左上");
            QVERIFY2(turns.contains(cellView(ColRotation, text).text), qPrintable(text));
            QCOMPARE(turns[cellView(ColRotation, text).text], int(row.rotationCode()));
        }
    }

    // Every column but the arrow and the reserved ones shows its header and its
    // values whole, whatever narrow width the table sets; long names and paths grow
    // the columns nobody dragged, but not beyond sight; a dragged width stays and
    // comes back with the header's state, which refuses foreign bytes.
    void columnWidths()
    {
        JobTable table;
        QAbstractItemModelTester tester(&table, QAbstractItemModelTester::FailureReportingMode::QtTest);
        auto view = std::make_unique<JobListView>(&table);
        for (int col = 0; col < table.Cols(); ++col)
            table.setColWidth(col, 100);
        view->resize(600, 300);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        // The view's own measure, as a double click on a column's edge uses it.
        const auto wholeCells = [&view](int col) {
            const QAbstractItemView *asView = view.get();
            return view->columnWidth(col)
                   >= std::max(asView->sizeHintForColumn(col), view->horizontalHeader()->sectionSizeHint(col));
        };
        const QString longName = QString(60, u'長') + ".jpg";
        JobRow wide = testui::jobFor("/photos/" + longName, "/photos/");
        wide.originalSize = wide.newSize = "10000*10000";
        wide.rotation = "+180°";
        wide.compression = "10";
        table.appendJob(testui::jobFor("/p/a.jpg", "/p/"));
        table.appendJob(wide);
        for (int col : {ColOriginalSize, ColNewSize, ColFit, ColBackColor, ColPosition, ColRotation, ColCompression,
                        ColMetadata, ColSizeRule, ColFormat})
            QTRY_VERIFY2(wholeCells(col), qPrintable(table.TextMatrix(0, col)));
        for (int col : {ColArrow, ColReserved9, ColReserved10})
            QCOMPARE(view->columnWidth(col), 100 / kTwipsPerPixel);
        for (int col : {ColFileName, ColPath}) {
            QTRY_VERIFY(view->columnWidth(col) > 100 / kTwipsPerPixel);
            QVERIFY(view->columnWidth(col) < view->viewport()->width());
        }
        // A cell written later widens its column too.
        table.setTextMatrix(1, ColFit, "stretched");
        QTRY_VERIFY(wholeCells(ColFit));

        // The user narrows the name column by dragging its right edge.
        QWidget *header = view->horizontalHeader()->viewport();
        const int edge = view->horizontalHeader()->sectionViewportPosition(ColFileName) + view->columnWidth(0) - 1;
        QTest::mousePress(header, Qt::LeftButton, {}, QPoint(edge, 5));
        QTest::mouseMove(header, QPoint(edge - 20, 5));
        QTest::mouseMove(header, QPoint(40, 5));
        QTest::mouseRelease(header, Qt::LeftButton, {}, QPoint(40, 5));
        const int dragged = view->columnWidth(ColFileName);
        QVERIFY(dragged < 60);
        table.appendJob(testui::jobFor("/p/" + longName + "2", "/p/"));
        QCoreApplication::processEvents();
        QCOMPARE(view->columnWidth(ColFileName), dragged);

        const QByteArray state = view->headerState();
        QList<int> widths;
        for (int col = 0; col < table.Cols(); ++col)
            widths << view->columnWidth(col);
        view = std::make_unique<JobListView>(&table);
        QVERIFY(!view->restoreHeaderState(view->horizontalHeader()->saveState()));
        QVERIFY(!view->restoreHeaderState("garbage"));
        QVERIFY(view->restoreHeaderState(state));
        table.appendJob(testui::jobFor("/p/" + longName + "3", "/p/"));
        QCoreApplication::processEvents();
        for (int col = 0; col < table.Cols(); ++col)
            QCOMPARE(view->columnWidth(col), widths[col]);
    }

    // Every column has a name a screen reader says, the ones without a caption too,
    // and no two share one.
    void everyHeaderHasAName()
    {
        JobTable table;
        JobListView view(&table);
        for (int col = 0; col < table.Cols(); ++col)
            table.setTextMatrix(0, col,
                                col == ColArrow || col == ColReserved9 || col == ColReserved10
                                    ? QString()
                                    : QStringLiteral("列%1").arg(col));
        table.appendJob(testui::jobFor("/a/b.jpg", "/a/"));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QAccessibleTableInterface *grid = QAccessible::queryAccessibleInterface(&view)->tableInterface();
        QStringList names;
        for (int col = 0; col < table.Cols(); ++col) {
            const QList<QAccessibleInterface *> headers =
                grid->cellAt(0, col)->tableCellInterface()->columnHeaderCells();
            QCOMPARE(headers.size(), 1);
            const QString name = headers[0]->text(QAccessible::Name);
            QVERIFY2(!name.trimmed().isEmpty() && !names.contains(name), qPrintable(QString::number(col)));
            names << name;
        }
    }
};

QTEST_MAIN(TestJobListView)
#include "tst_joblistview.moc"
