#include "preview/previewrenderer.h"

#include "compose/imagebuffer.h"
#include "compose/jobcompose.h"
#include "compose/memorybudget.h"
#include "compose/pictureformat.h"
#include "compose/pictureprobe.h"
#include "compose/quickpicture.h"
#include "compose/raster.h"
#include "compose/rowsplit.h"
#include "compose/sourcefile.h"
#include "export/export.h"
#include "platform/failure.h"
#include "platform/stop.h"
#include "platform/units.h"

#include <QRunnable>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>

namespace kestrovia {

namespace {

enum Kind { FirstLook, Picture, Failed };

// A first look reads the whole JPEG to decode it at a fraction of its size; photos
// are far below this, and a larger file waits for the exact picture alone.
constexpr qint64 kFirstLookBytes = qint64(256) << 20;
// A first look is a decode at 1/4 of the size or less: a larger one comes barely
// ahead of the exact picture while it takes a core from it.
constexpr int kFirstLookReduction = 4;

// Whether a first look can be made of the row's picture: one drawn at a quarter of
// its size or less (decodeQuickJpeg decides the rest). The file is read whole for
// nothing otherwise.
bool firstLookReaches(const Job &job, const QString &path, bool withTurn)
{
    try {
        const QSize upright = probePicture(path).size;
        const QSize drawn = drawnSize(job, upright, withTurn);
        return drawn.width() * kFirstLookReduction <= upright.width()
               && drawn.height() * kFirstLookReduction <= upright.height();
    } catch (const Failure &) {
        return false; // the exact picture says what is wrong
    }
}

// The chroma the row's exact picture takes its planes with: a JPEG's own, so that
// the picture is what a viewer shows of the written file; full for the other
// formats, written from RGB.
bool halfChroma(const Job &job) { return planeRoute(job) == PlaneRoute::HalfChroma; }

// Whether the row's exact picture takes the colour planes (composeAsTheBatch): a
// plain upright JPEG drawn unturned over the whole canvas. It then costs about what
// the decode costs, which a first look would spend a second time on the other core
// for a picture that comes barely earlier.
bool takesPlanes(const Job &job, const PictureSource &source, bool withTurn)
{
    const std::optional<QSize> size = plainJpegSize(source);
    if (!size || (withTurn && job.rotation != 0))
        return false;
    const QSize canvas = job.canvas.value_or(*size);
    if (halfChroma(job) && (canvas.width() % 2 || canvas.height() % 2))
        return false;
    return drawnSize(job, *size, false) == canvas;
}

// The row's canvas by the batch's own route, failing in the words the batch uses: a
// plain JPEG only scaled to the canvas through its colour planes (each filtered at
// the canvas's size, then converted), any other row through the bands of RGB rows.
QImage composeAsTheBatch(const Job &job, const PictureSource &source, bool withTurn)
{
    try {
        Job unturned = job;
        if (!withTurn)
            unturned.rotation = 0;
        if (const std::optional<JpegPlanes> planes = composeJobPlanes(unturned, source, halfChroma(job))) {
            checkPoint();
            return rgbOfJpegPlanes(planes->y, planes->cb, planes->cr);
        }
        return composeJobSource(job, source, withTurn).canvas;
    } catch (const Failure &f) {
        throw unreadablePicture(job.path, f);
    }
}

PictureSource openForPreview(const QString &path)
{
    try {
        return PictureSource::open(path);
    } catch (const Failure &f) {
        throw unreadablePicture(path, f);
    }
}

// Starts work on pool. Qt's pool hands the work over under its own lock, which a
// race checker does not see through an uninstrumented Qt; the flag states the same
// order in a form it sees. The work is built before the flag is raised, so all it
// carries is ordered too.
template <typename Work> void startOn(QThreadPool &pool, Work work)
{
    auto handedOver = std::make_shared<std::atomic<bool>>(false);
    QRunnable *runnable = QRunnable::create([handedOver, work = std::move(work)] {
        handedOver->load(std::memory_order_acquire);
        work();
    });
    handedOver->store(true, std::memory_order_release);
    pool.start(runnable);
}

} // namespace

struct PreviewRenderer::Task {
    quint64 id = 0;
    PreviewRequest request;
    StopFlag stop;
    // Raised with stop, and also once the exact picture is made: a first look that
    // would come after it is work for nothing.
    StopFlag firstLookStop;
    std::shared_ptr<KeptPictures> kept;
    std::shared_ptr<const ReadHook> readHook;
    std::shared_ptr<const PostHook> postHook;
    RequestState state = RequestState::Pending; // the renderer's thread only
};

// A result on its way to the renderer's thread; `ready` orders its contents for a
// race checker, as startOn's flag does.
struct Result {
    int kind = Picture;
    QImage canvas;
    QString reason;
    std::atomic<bool> ready{false};
};

PreviewRenderer::PreviewRenderer(QObject *parent)
    : QObject(parent)
    , m_kept(std::make_shared<KeptPictures>())
    , m_readHook(std::make_shared<const ReadHook>())
    , m_postHook(std::make_shared<const PostHook>())
{
    // One exact picture at a time: an overtaken one gives its thread up at its
    // next check point. The first look has a thread of its own so that it is drawn
    // while the exact picture is still decoding; two threads at most, so a batch
    // started meanwhile keeps its cores.
    m_exactLane.setObjectName(QStringLiteral("preview exact"));
    m_exactLane.setMaxThreadCount(1);
    m_firstLookLane.setObjectName(QStringLiteral("preview first look"));
    m_firstLookLane.setMaxThreadCount(1);
}

PreviewRenderer::~PreviewRenderer()
{
    cancel();
    // The exact lane starts first looks: it is done with first.
    m_exactLane.waitForDone();
    m_firstLookLane.waitForDone();
}

void PreviewRenderer::setReadHook(ReadHook hook) { m_readHook = std::make_shared<const ReadHook>(std::move(hook)); }

void PreviewRenderer::setPostHook(PostHook hook) { m_postHook = std::make_shared<const PostHook>(std::move(hook)); }

quint64 PreviewRenderer::current() const { return m_current ? m_current->id : 0; }

RequestState PreviewRenderer::state() const { return m_current ? m_current->state : RequestState::Overtaken; }

quint64 PreviewRenderer::pending() const
{
    const RequestState s = state();
    return s == RequestState::Pending || s == RequestState::FirstLookShown ? m_current->id : 0;
}

quint64 PreviewRenderer::request(const PreviewRequest &request)
{
    cancel();
    auto task = std::make_shared<Task>();
    task->id = ++m_lastId;
    task->request = request;
    task->kept = m_kept;
    task->readHook = m_readHook;
    task->postHook = m_postHook;
    m_current = task;
    startOn(m_exactLane, [this, task] { runExact(task); });
    return task->id;
}

void PreviewRenderer::cancel()
{
    if (m_current) {
        m_current->state = RequestState::Overtaken;
        m_current->stop.requestStop();
        m_current->firstLookStop.requestStop();
    }
    m_current.reset();
}

void PreviewRenderer::runExact(const std::shared_ptr<Task> &task)
{
    // A request overtaken while it waited for the lane never starts.
    if (task->stop.stopRequested())
        return;
    const StopScope scope(task->stop);
    // The halves of a composition's rows go to the first look's thread, idle unless
    // a first look is being made: the exact picture then takes both cores, as the
    // batch's conversion of one row does.
    const RowSplitting halvesBeside(m_firstLookLane);
    const PreviewRequest &rq = task->request;
    const Job &job = rq.job;
    try {
        const QString key = KeptPictures::canvasKey(job, rq.complete);
        // Without an identity nothing is kept: the read below says what is wrong.
        const std::optional<FileIdentity> file = FileIdentity::of(job.path);
        if (file) {
            if (const std::optional<QImage> canvas = task->kept->canvas(*file, key)) {
                post(task, Picture, *canvas);
                return;
            }
        }
        if (*task->readHook)
            (*task->readHook)(job.path);
        checkPoint();
        // Opened, not read: the route reads the header first and the rest only for
        // a picture it can hold, as the batch does.
        PictureSource opened = openForPreview(job.path);
        checkPoint();
        // A first look needs the whole file in memory. The bytes are reserved from
        // the process's budget before they are read, by this thread, for the exact
        // picture's time: the first look sharing them is stopped when that picture
        // is made. A picture that takes the planes has no first look, and is read
        // as the batch reads it, as it goes.
        MemoryReservation bytesHeld;
        if (rq.firstLook && sniffPictureFormat(opened.head()) == PictureFormat::Jpeg
            && opened.size() <= std::min(kFirstLookBytes, memorybudget::capacity() / 4)
            && !takesPlanes(job, opened, rq.complete) && firstLookReaches(job, job.path, rq.complete)) {
            bytesHeld = MemoryReservation(opened.size(), 0, 0);
            const QByteArray data = opened.bytes(0, opened.size());
            startOn(m_firstLookLane, [this, task, data] { runFirstLook(task, data); });
            // The exact picture is made from the same bytes: the file is read once.
            opened = PictureSource::memory(data);
        }
        // Decoded in bands and reduced as they come: the memory follows the canvas,
        // and nothing of the decode outlives it.
        const QImage canvas = composeAsTheBatch(job, opened, rq.complete);
        checkPoint();
        task->firstLookStop.requestStop();
        // A file that changed while it was read is not kept under the identity it had.
        if (file && FileIdentity::of(job.path) == file)
            task->kept->keepCanvas(*file, key, canvas);
        post(task, Picture, canvas);
    } catch (const Stopped &) {
        // Overtaken: nobody waits for this picture any more.
    } catch (...) {
        post(task, Failed, {}, failureReason(std::current_exception()));
    }
}

void PreviewRenderer::runFirstLook(const std::shared_ptr<Task> &task, const QByteArray &data)
{
    if (task->firstLookStop.stopRequested())
        return;
    const StopScope scope(task->firstLookStop);
    const RowSplitting ownThreadOnly(false);
    const PreviewRequest &rq = task->request;
    try {
        // Not at 1/2: the entropy-coded data, most of a decode's work, is read whole
        // at any scale (a 24 MP photo decodes in 75 ms at 1/2, in 84 ms in full).
        const std::optional<DecodedPicture> quick = decodeQuickJpeg(
            data, [&](QSize upright) { return drawnSize(rq.job, upright, rq.complete); }, kFirstLookReduction);
        if (!quick)
            return;
        checkPoint();
        post(task, FirstLook, composeJob(rq.job, *quick, rq.complete));
    } catch (const std::exception &) {
        // Stopped, or a failure that the exact picture reports in its own words.
    }
}

void PreviewRenderer::post(const std::shared_ptr<Task> &task, int kind, const QImage &canvas, const QString &reason)
{
    auto result = std::make_shared<Result>();
    result->kind = kind;
    result->canvas = canvas;
    result->reason = reason;
    result->ready.store(true, std::memory_order_release);
    QMetaObject::invokeMethod(
        this,
        [this, task, result] {
            result->ready.load(std::memory_order_acquire);
            deliver(task, result->kind, result->canvas, result->reason);
        },
        Qt::QueuedConnection);
    if (*task->postHook)
        (*task->postHook)(task->id);
}

void PreviewRenderer::deliver(const std::shared_ptr<Task> &task, int kind, const QImage &canvas, const QString &reason)
{
    // The one place where the newest request wins: a request overtaken since its
    // result was posted, or done already, shows nothing more.
    if (task->state != RequestState::Pending && task->state != RequestState::FirstLookShown)
        return;
    switch (kind) {
    case FirstLook:
        task->state = RequestState::FirstLookShown;
        emit firstLook(task->id, canvas);
        break;
    case Picture:
        task->state = RequestState::ExactShown;
        emit picture(task->id, canvas);
        break;
    default:
        task->state = RequestState::Failed;
        emit failed(task->id, reason);
        break;
    }
}

} // namespace kestrovia
