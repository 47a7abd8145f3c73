#include "joblist/dropimport.h"

#include "compose/pictureformat.h"
#include "compose/pictureprobe.h"
#include "joblist/jobtable.h"
#include "platform/failure.h"
#include "platform/filename.h"
#include "platform/japanese.h"

#include <QDir>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <climits>
#include <map>
#include <optional>
#include <utility>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrovia {

QString leftOutText(LeftOut why)
{
    switch (why) {
    case LeftOut::Missing: return ja("見つかりません");
    case LeftOut::BrokenLink: return ja("リンク先が見つかりません");
    case LeftOut::NotRegular: return ja("通常のファイルではありません");
    case LeftOut::OtherType: return ja("対応していない形式");
    case LeftOut::Unreadable: return ja("読み取る権限がありません");
    case LeftOut::NotLocal: return ja("このコンピュータ上のファイルではありません");
    case LeftOut::OverLimit: return ja("一度に追加できる%1件を超えています").arg(kMaxRowsPerDrop);
    case LeftOut::EmptyFolder: return ja("画像がないフォルダ");
    case LeftOut::Hidden: return ja("隠しファイル");
    case LeftOut::LinkedFolder: return ja("リンクされたフォルダ");
    case LeftOut::UnlistableFolder: return ja("開けないフォルダ");
    }
    return {};
}

namespace {

// The name made absolute and clean, by its text alone: QFileInfo would take a
// relative name through the locale's encoding, which turns a byte that is no UTF-8
// into U+FFFD.
QString absoluteName(const QString &name)
{
    if (name.startsWith(u'/'))
        return QDir::cleanPath(name);
    char here[PATH_MAX];
    const QString folder = ::getcwd(here, sizeof here) ? decodeFileName(here) : QDir::currentPath();
    return QDir::cleanPath(folder + u'/' + name);
}

QString lastPart(const QString &path) { return path.section(u'/', -1); }

// What a name is to a drop. Asked of the system with the name's own bytes, which
// need not be UTF-8.
enum class Kind { Picture, Folder, Refused };

Kind kindOf(const QString &path, LeftOut &why)
{
    const QByteArray bytes = encodeFileName(path);
    struct stat st { };
    if (::stat(bytes.constData(), &st) != 0) {
        struct stat link { };
        why = ::lstat(bytes.constData(), &link) == 0 ? LeftOut::BrokenLink : LeftOut::Missing;
        return Kind::Refused;
    }
    if (S_ISDIR(st.st_mode))
        return Kind::Folder;
    if (!S_ISREG(st.st_mode))
        why = LeftOut::NotRegular;
    else if (!isPictureName(path))
        why = LeftOut::OtherType;
    else if (::access(bytes.constData(), R_OK) != 0)
        why = LeftOut::Unreadable;
    else
        return Kind::Picture;
    return Kind::Refused;
}

QString shownItem(const NotAdded &n)
{
    return n.inFolder ? ja("%1の%2件（%3）").arg(n.name).arg(n.count).arg(n.reason())
                      : ja("%1（%2）").arg(n.name, n.reason());
}

int itemCount(const QList<NotAdded> &notAdded)
{
    int total = 0;
    for (const NotAdded &n : notAdded)
        total += n.count;
    return total;
}

} // namespace

QString notAddedNote(const QList<NotAdded> &notAdded)
{
    if (notAdded.isEmpty())
        return {};
    constexpr int kNamed = 3;
    QStringList named;
    for (const NotAdded &n : notAdded.mid(0, kNamed))
        named << shownItem(n);
    QString note = ja("%1件は追加しませんでした: %2").arg(itemCount(notAdded)).arg(named.join(ja("、")));
    if (notAdded.size() > kNamed)
        note += ja(" ほか%1件").arg(itemCount(notAdded.mid(kNamed)));
    return note;
}

QString notAddedList(const QList<NotAdded> &notAdded)
{
    QStringList lines;
    lines.reserve(notAdded.size());
    for (const NotAdded &n : notAdded)
        lines << shownItem(n);
    return lines.join(u'\n');
}

UriListNames namesOfUriList(const QByteArray &uriList)
{
    UriListNames names;
    char hostName[256] = {};
    const QByteArray host = ::gethostname(hostName, sizeof hostName - 1) == 0 ? QByteArray(hostName) : QByteArray();
    for (QByteArray line : uriList.split('\n')) {
        line = line.trimmed(); // lines end in CR LF
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        // file:///path, file://localhost/path or file://<this host>/path; the path is
        // percent-encoded bytes, decoded here because QUrl would turn a byte that is
        // no UTF-8 into U+FFFD and so name another file.
        constexpr QByteArrayView scheme("file://");
        if (line.size() > scheme.size() && line.first(scheme.size()).toLower() == scheme) {
            const QByteArray rest = line.sliced(scheme.size());
            const qsizetype slash = rest.indexOf('/');
            const QByteArray authority = slash < 0 ? rest : rest.first(slash);
            if (slash >= 0
                && (authority.isEmpty() || authority.compare("localhost", Qt::CaseInsensitive) == 0
                    || (!host.isEmpty() && authority.compare(host, Qt::CaseInsensitive) == 0))) {
                names.paths << decodeFileName(QByteArray::fromPercentEncoding(rest.sliced(slash)));
                continue;
            }
        }
        // Only files on this machine can be read; a web link or a remote share is not
        // a picture file. Named by its last part, as the user knows it.
        QByteArray shown = QByteArray::fromPercentEncoding(line);
        while (shown.endsWith('/'))
            shown.chop(1);
        const QString whole = QString::fromUtf8(shown);
        const QString last = whole.section(u'/', -1);
        names.notAdded.append({last.isEmpty() ? whole : last, LeftOut::NotLocal});
    }
    return names;
}

namespace {

// File-manager order: runs of digits compare by their value (IMG_9 before
// IMG_10), the rest without regard to letter case, then with it.
int naturalCompare(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            // Longer runs are larger once leading zeros are set aside.
            QStringView x = QStringView(a).mid(i, ei - i), y = QStringView(b).mid(j, ej - j);
            while (x.size() > 1 && x.front() == u'0')
                x = x.mid(1);
            while (y.size() > 1 && y.front() == u'0')
                y = y.mid(1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int c = x.compare(y); c != 0)
                return c;
            i = ei;
            j = ej;
            continue;
        }
        if (const int c = QString::compare(a.mid(i, 1), b.mid(j, 1), Qt::CaseInsensitive); c != 0)
            return c;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return QString::compare(a, b, Qt::CaseSensitive);
}

// The walk of one drop: each picture found goes to the receiver as it comes.
class Scan {
public:
    explicit Scan(const DropScanHooks &hooks)
        : m_hooks(hooks)
    {
    }

    bool stopped() const { return m_hooks.stop && m_hooks.stop->stopRequested(); }
    int found() const { return m_found; }

    // A picture the drop takes: its header is read and it goes to the receiver.
    void take(const QString &path)
    {
        FoundPicture picture{path, {}};
        if (m_hooks.beforeRead)
            m_hooks.beforeRead(path);
        try {
            picture.size = probePicture(path).size;
        } catch (const Failure &) {
        }
        ++m_found;
        if (m_hooks.found)
            m_hooks.found(std::move(picture));
    }

    // The pictures of folder and its sub-folders; what is left out is counted in
    // tally by reason.
    void walk(const QString &folder, std::map<LeftOut, int> &tally)
    {
        DIR *dir = ::opendir(encodeFileName(folder).constData());
        if (!dir) {
            ++tally[LeftOut::UnlistableFolder];
            return;
        }
        QStringList files, folders;
        while (const dirent *entry = ::readdir(dir)) {
            if (stopped())
                break;
            const QByteArray raw(entry->d_name);
            if (raw == "." || raw == "..")
                continue;
            if (raw.startsWith('.')) {
                ++tally[LeftOut::Hidden];
                continue;
            }
            const QString path = folder + u'/' + decodeFileName(raw);
            struct stat st { };
            if (::lstat(encodeFileName(path).constData(), &st) != 0) {
                ++tally[LeftOut::Missing]; // gone since it was listed
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                folders << path;
                continue;
            }
            LeftOut why{};
            switch (kindOf(path, why)) {
            case Kind::Picture: files << path; break;
            case Kind::Folder:
                ++tally[LeftOut::LinkedFolder]; // not entered: it could lead back here
                break;
            case Kind::Refused: ++tally[why]; break;
            }
        }
        ::closedir(dir);
        const auto byName = [](const QString &a, const QString &b) { return naturalCompare(a, b) < 0; };
        std::sort(files.begin(), files.end(), byName);
        std::sort(folders.begin(), folders.end(), byName);
        for (const QString &f : std::as_const(files)) {
            if (stopped())
                return;
            if (m_found >= kMaxRowsPerDrop)
                ++tally[LeftOut::OverLimit];
            else
                take(f);
        }
        for (const QString &f : std::as_const(folders)) {
            if (stopped())
                return;
            walk(f, tally);
        }
    }

private:
    const DropScanHooks &m_hooks;
    int m_found = 0;
};

} // namespace

QList<NotAdded> scanDrop(const QStringList &paths, const DropScanHooks &hooks)
{
    QList<NotAdded> notAdded;
    Scan scan(hooks);
    // A decode's own check points answer to the drop's stop as well.
    std::optional<StopScope> scope;
    if (hooks.stop)
        scope.emplace(*hooks.stop);
    try {
        for (const QString &name : paths) {
            if (scan.stopped())
                break;
            // Looked up before a row is appended, so that a folder named x.jpg or a
            // file that vanished during the drag leaves no empty row behind.
            const QString path = absoluteName(name);
            const QString shown = lastPart(path).isEmpty() ? path : lastPart(path);
            LeftOut why{};
            const Kind kind = kindOf(name, why);
            if (kind == Kind::Folder) {
                const QString &folder = path;
                std::map<LeftOut, int> tally;
                const int before = scan.found();
                scan.walk(folder, tally);
                if (scan.found() == before && tally.empty() && !scan.stopped())
                    notAdded.append({shown, LeftOut::EmptyFolder});
                for (const auto &[reason, count] : tally)
                    notAdded.append({shown, reason, count, true});
                continue;
            }
            if (kind == Kind::Refused) {
                notAdded.append({shown, why});
                continue;
            }
            if (scan.found() >= kMaxRowsPerDrop) {
                notAdded.append({shown, LeftOut::OverLimit});
                continue;
            }
            scan.take(path);
        }
    } catch (const Stopped &) {
    }
    return notAdded;
}

int appendFoundPictures(JobTable &table, const QList<FoundPicture> &pictures,
                        const std::function<RowSettings()> &settings)
{
    if (pictures.isEmpty())
        return 0;
    const RowSettings chosen = settings();
    QList<JobRow> jobs;
    jobs.reserve(pictures.size());
    for (const FoundPicture &picture : pictures) {
        JobRow job;
        job.fileName = lastPart(picture.path);
        job.path = picture.path;
        // Every row shows its picture's size from the start; a header that cannot be
        // read leaves it to the row's showing or its conversion to say why.
        if (picture.size.isValid())
            job.originalSize = sizeText(picture.size);
        writeRowSettings(job, chosen);
        jobs.append(std::move(job));
    }
    table.appendJobs(jobs);
    return int(jobs.size());
}

DropResult appendDroppedFiles(JobTable &table, const QStringList &paths, const std::function<RowSettings()> &settings)
{
    QList<FoundPicture> pictures;
    DropScanHooks hooks;
    hooks.found = [&pictures](FoundPicture &&picture) { pictures.append(std::move(picture)); };
    DropResult result;
    result.notAdded = scanDrop(paths, hooks);
    result.appended = appendFoundPictures(table, pictures, settings);
    return result;
}

namespace {
// Rows appended in one turn of the window's event loop, so that it stays responsive.
constexpr int kRowsPerTurn = 100;
} // namespace

DropImport::DropImport(QObject *parent)
    : QObject(parent)
{
    // A timer, not posted events: Qt delivers events posted while it delivers
    // others in the same pass, so the window's timers and input would wait for all.
    m_take.setInterval(0);
    connect(&m_take, &QTimer::timeout, this, &DropImport::takeFound);
}

DropImport::~DropImport()
{
    m_stop.requestStop();
    join();
}

void DropImport::setReadHook(std::function<void(const QString &)> hook) { m_readHook = std::move(hook); }

void DropImport::start(const QStringList &paths, const QList<NotAdded> &notAddedBefore)
{
    // Relative names are the working folder's now, not when the thread reads them.
    QStringList absolute;
    absolute.reserve(paths.size());
    for (const QString &path : paths)
        absolute << absoluteName(path);
    m_waiting.append({absolute, notAddedBefore});
    if (!m_running)
        startNext();
}

void DropImport::stop()
{
    m_waiting.clear();
    m_stop.requestStop();
}

void DropImport::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void DropImport::startNext()
{
    if (m_waiting.isEmpty())
        return;
    const Pending next = m_waiting.takeFirst();
    m_running = true;
    m_stop = StopFlag();
    emit started();
    m_thread = std::thread([this, next, stop = m_stop, hook = m_readHook, found = m_found] {
        DropScanHooks hooks;
        hooks.stop = &stop;
        hooks.beforeRead = hook;
        // The window appends rows when it has time; what was found meanwhile waits
        // here and goes in the next batch.
        hooks.found = [this, found](FoundPicture &&picture) {
            const std::lock_guard lock(found->mutex);
            found->pictures.append(std::move(picture));
            if (!std::exchange(found->asked, true))
                QMetaObject::invokeMethod(
                    this, [this] { m_take.start(); }, Qt::QueuedConnection);
        };
        const QList<NotAdded> notAdded = next.notAdded + scanDrop(next.paths, hooks);
        const bool stopped = stop.stopRequested();
        QMetaObject::invokeMethod(
            this,
            [this, notAdded, stopped] {
                join();
                m_end = End{notAdded, stopped};
                m_take.start();
            },
            Qt::QueuedConnection);
    });
}

void DropImport::takeFound()
{
    // At most a batch a turn of the event loop; what the thread found last too.
    QList<FoundPicture> taken;
    bool more = false;
    {
        const std::lock_guard lock(m_found->mutex);
        if (m_found->pictures.size() <= kRowsPerTurn) {
            taken.swap(m_found->pictures);
            m_found->asked = false;
        } else {
            taken = m_found->pictures.first(kRowsPerTurn);
            m_found->pictures.remove(0, kRowsPerTurn);
            more = true;
        }
    }
    if (!more)
        m_take.stop();
    if (!taken.isEmpty())
        emit picturesFound(taken);
    if (!more && m_end) {
        const End end = *std::exchange(m_end, std::nullopt);
        m_running = false;
        emit finished(end.notAdded, end.stopped);
        startNext();
    }
}

} // namespace kestrovia
