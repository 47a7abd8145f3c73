// What a drop reads off the window's thread: the reasons a dropped folder's files
// are left out, the names a file manager's text/uri-list carries, and the reading
// itself (batches on the caller's thread, a stop that keeps what was found, an end
// while a read is held, drops in turn).

#include "joblist/dropimport.h"
#include "platform/filename.h"
#include "tests/common/heldreads.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrovia;

namespace kestrovia {
char *toString(const NotAdded &n)
{
    return QTest::toString(
        QStringLiteral("%1 %2 %3%4").arg(n.name, n.reason()).arg(n.count).arg(n.inFolder ? " in" : ""));
}
} // namespace kestrovia

namespace {

// Makes the entries under root, in order: "name/" a folder, "name->target" a
// symbolic link, "name|" a FIFO, anything else an empty file.
bool make(const QString &root, const QStringList &entries)
{
    if (!QDir().mkpath(root))
        return false;
    for (const QString &entry : entries) {
        const QByteArray path = encodeFileName(root + u'/' + entry.section("->", 0, 0));
        bool made = false;
        if (entry.contains("->"))
            made = ::symlink(encodeFileName(entry.section("->", 1)).constData(), path.constData()) == 0;
        else if (entry.endsWith(u'/'))
            made = QDir().mkpath(root + u'/' + entry);
        else if (entry.endsWith(u'|'))
            made = ::mkfifo(path.chopped(1).constData(), 0644) == 0;
        else if (const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644); fd >= 0)
            made = ::close(fd) == 0;
        if (!made)
            return false;
    }
    return true;
}

struct Scanned {
    QStringList found;
    QList<NotAdded> notAdded;
};

Scanned scan(const QStringList &paths)
{
    Scanned s;
    DropScanHooks hooks;
    hooks.found = [&s](FoundPicture &&picture) { s.found << picture.path; };
    s.notAdded = scanDrop(paths, hooks);
    return s;
}

struct Reading {
    QStringList found;
    QList<QList<NotAdded>> finished;
    QList<bool> stopped;
    int started = 0;
};

void watch(DropImport &import, Reading &r)
{
    QObject::connect(&import, &DropImport::started, [&r] { ++r.started; });
    QObject::connect(&import, &DropImport::picturesFound, [&r](const QList<FoundPicture> &batch) {
        for (const FoundPicture &p : batch)
            r.found << p.path;
    });
    QObject::connect(&import, &DropImport::finished, [&r](const QList<NotAdded> &notAdded, bool stopped) {
        r.finished << notAdded;
        r.stopped << stopped;
    });
}

} // namespace

class TestDropImport : public QObject {
    Q_OBJECT

private slots:
    // A dropped folder's files left out are counted under each reason, named by the
    // folder; a folder that gives nothing and leaves nothing out is named as empty.
    void folderReasons_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("found");
        QTest::addColumn<QList<NotAdded>>("notAdded");
        const auto in = [](LeftOut why, int count) { return NotAdded{"f", why, count, true}; };
        QTest::newRow("other types") << QStringList{"a.jpg", "b.txt", "c.psd"} << 1
                                     << QList<NotAdded>{in(LeftOut::OtherType, 2)};
        QTest::newRow("hidden file and folder") << QStringList{".a.jpg", ".cache/", ".cache/b.jpg", "c.png"} << 1
                                                << QList<NotAdded>{in(LeftOut::Hidden, 2)};
        QTest::newRow("linked folder not entered")
            << QStringList{"sub/", "sub/a.jpg", "link->sub"} << 1 << QList<NotAdded>{in(LeftOut::LinkedFolder, 1)};
        QTest::newRow("linked picture followed")
            << QStringList{"sub/", "sub/a.jpg", "b.jpg->sub/a.jpg"} << 2 << QList<NotAdded>{};
        QTest::newRow("broken link") << QStringList{"a.jpg", "gone.jpg->nowhere.jpg"} << 1
                                     << QList<NotAdded>{in(LeftOut::BrokenLink, 1)};
        QTest::newRow("FIFO") << QStringList{"a.jpg", "p.jpg|"} << 1 << QList<NotAdded>{in(LeftOut::NotRegular, 1)};
        QTest::newRow("every reason at once, in one order")
            << QStringList{"x.txt", ".h.jpg", "p.jpg|", "l.jpg->none", "s/", "s/y.doc", "m->s"} << 0
            << QList<NotAdded>{in(LeftOut::BrokenLink, 1), in(LeftOut::NotRegular, 1), in(LeftOut::OtherType, 2),
                               in(LeftOut::Hidden, 1), in(LeftOut::LinkedFolder, 1)};
        QTest::newRow("only other types: not empty")
            << QStringList{"x.txt"} << 0 << QList<NotAdded>{in(LeftOut::OtherType, 1)};
        QTest::newRow("empty") << QStringList{} << 0 << QList<NotAdded>{{"f", LeftOut::EmptyFolder}};
        QTest::newRow("empty sub-folders")
            << QStringList{"a/", "b/"} << 0 << QList<NotAdded>{{"f", LeftOut::EmptyFolder}};
    }
    void folderReasons()
    {
        QFETCH(QStringList, entries);
        QTemporaryDir d;
        QVERIFY(make(d.path() + "/f", entries));
        const Scanned s = scan({d.path() + "/f"});
        QTEST(int(s.found.size()), "found");
        QTEST(s.notAdded, "notAdded");
    }

    // Past the rows one drop may add, a folder's pictures are counted under their
    // own reason (not as other types), and so is a named file after them; the note
    // says how many.
    void overTheLimit()
    {
        QTemporaryDir d;
        const QString big = d.path() + "/big";
        QVERIFY(QDir().mkpath(big));
        constexpr int kOver = 7;
        for (int i = 0; i < kMaxRowsPerDrop + kOver; ++i) {
            const int fd =
                ::open(encodeFileName(big + QStringLiteral("/p%1.jpg").arg(i, 5, 10, QChar('0'))).constData(),
                       O_CREAT | O_WRONLY, 0644);
            QVERIFY(fd >= 0 && ::close(fd) == 0);
        }
        QVERIFY(make(big, {"notes.txt"}));
        QVERIFY(make(d.path(), {"late.jpg"}));
        const Scanned s = scan({big, d.path() + "/late.jpg"});
        QCOMPARE(s.found.size(), kMaxRowsPerDrop);
        QCOMPARE(s.found.last(), big + QStringLiteral("/p%1.jpg").arg(kMaxRowsPerDrop - 1, 5, 10, QChar('0')));
        QCOMPARE(s.notAdded, QList<NotAdded>({{"big", LeftOut::OtherType, 1, true},
                                              {"big", LeftOut::OverLimit, kOver, true},
                                              {"late.jpg", LeftOut::OverLimit}}));
        const QString note = notAddedNote(s.notAdded);
        QVERIFY2(note.startsWith(QStringLiteral("%1件").arg(kOver + 2)), qPrintable(note));
        QVERIFY2(note.contains(QStringLiteral("bigの%1件").arg(kOver)), qPrintable(note));
        QVERIFY2(note.contains(QString::number(kMaxRowsPerDrop)), qPrintable(note));
    }

    // The note counts files, not reasons, and names the first few items; the list
    // behind it names every one.
    void note()
    {
        QList<NotAdded> items{{"旅行", LeftOut::OverLimit, 50, true},
                              {"a.txt", LeftOut::OtherType},
                              {"旅行", LeftOut::Hidden, 2, true},
                              {"b.txt", LeftOut::OtherType},
                              {"空", LeftOut::EmptyFolder}};
        const QString note = notAddedNote(items);
        QVERIFY2(note.startsWith("55件"), qPrintable(note));
        QVERIFY2(note.contains("ほか2件"), qPrintable(note));
        QVERIFY2(!note.contains("b.txt"), qPrintable(note));
        const QStringList lines = notAddedList(items).split('\n');
        QCOMPARE(lines.size(), items.size());
        for (qsizetype i = 0; i < items.size(); ++i)
            QVERIFY2(lines[i].contains(items[i].name) && lines[i].contains(items[i].reason()), qPrintable(lines[i]));
        QVERIFY(notAddedNote({}).isEmpty());
    }

    // A file manager's list: file URLs of this machine decoded to the bytes they
    // name, whatever their encoding; other URLs named by their last part.
    void uriList_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QList<NotAdded>>("notAdded");
        QTest::newRow("Latin-1 byte") << QByteArray("file:///tmp/caf%E9.jpg\r\n")
                                      << QStringList{decodeFileName("/tmp/caf\xE9.jpg")} << QList<NotAdded>{};
        QTest::newRow("UTF-8, blank, comment, no CR")
            << QByteArray("# from a file manager\nfile:///x/%E5%86%99%E7%9C%9F%201.jpg\n")
            << QStringList{"/x/写真 1.jpg"} << QList<NotAdded>{};
        QTest::newRow("localhost, upper-case scheme") << QByteArray("FILE://localhost/a/b.png\r\nfile:///c/d.gif")
                                                      << QStringList{"/a/b.png", "/c/d.gif"} << QList<NotAdded>{};
        QTest::newRow("web link and remote share") << QByteArray(
            "https://example.com/p/q.jpg\r\nfile:///a.jpg\r\nsmb://nas/photos/\r\nfile://nas.example/s/r.jpg\r\n")
                                                   << QStringList{"/a.jpg"}
                                                   << QList<NotAdded>{{"q.jpg", LeftOut::NotLocal},
                                                                      {"photos", LeftOut::NotLocal},
                                                                      {"r.jpg", LeftOut::NotLocal}};
        QTest::newRow("empty") << QByteArray("\r\n") << QStringList{} << QList<NotAdded>{};
    }
    void uriList()
    {
        QFETCH(QByteArray, list);
        const UriListNames names = namesOfUriList(list);
        QTEST(names.paths, "paths");
        QTEST(names.notAdded, "notAdded");
    }

    // The reads run on the drop's own thread; the batches and the end come on the
    // caller's, whose events are processed meanwhile.
    void readsOffTheCallingThread()
    {
        QTemporaryDir d;
        QVERIFY(make(d.path() + "/f", {"a.jpg", "b.jpg", "c.jpg", "x.txt"}));
        DropImport import;
        testui::HeldReads held(import);
        Reading r;
        watch(import, r);
        import.start({d.path() + "/f"}, {{ "remote.jpg", LeftOut::NotLocal }});
        QVERIFY(import.isRunning());
        QTRY_COMPARE(held.waiting(), 1); // events processed while a read is held
        QVERIFY(!held.readOn(std::this_thread::get_id()));
        QVERIFY(r.finished.isEmpty());
        held.open();
        QTRY_COMPARE(r.finished.size(), 1);
        QVERIFY(!import.isRunning());
        QCOMPARE(r.found, QStringList({d.path() + "/f/a.jpg", d.path() + "/f/b.jpg", d.path() + "/f/c.jpg"}));
        QCOMPARE(r.finished[0],
                 QList<NotAdded>({{"remote.jpg", LeftOut::NotLocal}, {"f", LeftOut::OtherType, 1, true}}));
        QCOMPARE(r.stopped, QList<bool>{false});
    }

    // A stop ends the reading at the next picture; what was found stays, and the
    // end says it was stopped. A drop started meanwhile waits its turn.
    void stopKeepsWhatWasFound()
    {
        QTemporaryDir d;
        QVERIFY(make(d.path() + "/f", {"a.jpg", "b.jpg", "c.jpg"}));
        QVERIFY(make(d.path() + "/g", {"z.jpg"}));
        DropImport import;
        testui::HeldReads held(import);
        Reading r;
        watch(import, r);
        import.start({d.path() + "/f"});
        QTRY_COMPARE(held.waiting(), 1);
        import.stop();
        QTRY_COMPARE(r.finished.size(), 1);
        QCOMPARE(r.stopped, QList<bool>{true});
        QVERIFY2(r.found.size() <= 1, qPrintable(r.found.join(',')));

        held.open();
        import.start({d.path() + "/f"});
        import.start({d.path() + "/g"}); // waits for the first
        QTRY_COMPARE(r.finished.size(), 3);
        QCOMPARE(r.started, 3);
        QCOMPARE(r.stopped, QList<bool>({true, false, false}));
        QCOMPARE(r.found.mid(r.found.size() - 4), QStringList({d.path() + "/f/a.jpg", d.path() + "/f/b.jpg",
                                                               d.path() + "/f/c.jpg", d.path() + "/g/z.jpg"}));
    }

    // The object can go while a read is held: the reading stops, its thread ends,
    // and nothing is delivered after.
    void endsWhileAReadIsHeld()
    {
        QTemporaryDir d;
        QVERIFY(make(d.path() + "/f", {"a.jpg", "b.jpg"}));
        auto import = std::make_unique<DropImport>();
        testui::HeldReads held(*import);
        Reading r;
        watch(*import, r);
        import->start({d.path() + "/f"});
        QTRY_COMPARE(held.waiting(), 1);
        import.reset();
        QCOMPARE(held.waiting(), 0);
        QCoreApplication::processEvents();
        QVERIFY(r.finished.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDropImport)
#include "tst_dropimport.moc"
