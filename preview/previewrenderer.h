#pragma once
// The preview's renderer: makes a job row's picture off the window's thread.
//
// One request in, one picture out, the newest request winning: a request overtaken
// by a newer one is stopped at its next check point, and nothing of it is reported.
// The exact picture is made by the batch's own route (the file decoded in bands,
// each band reduced as it comes), so it costs what the batch's conversion of the
// row costs and shows the pixels the batch writes. The canvases of the rows shown
// last are kept, so that a return to one of them is drawn without a decode.
// The work runs on two threads of the renderer's own, never on Qt's global pool
// (the window's own image code waits on that one; not even the halves of a
// composition's rows go there): one makes the exact pictures, one at a time; the
// other makes a JPEG's quick first look from the same bytes meanwhile, and
// otherwise takes the other half of the exact picture's rows.
// Results come back on the renderer's own thread, where the request they belong to
// decides, in one place, whether they are still wanted.

#include "compose/jobrow.h"
#include "preview/keptpictures.h"

#include <QImage>
#include <QObject>
#include <QThreadPool>

#include <functional>
#include <memory>

namespace kestrovia {

struct PreviewRequest {
    Job job; // the row as it was when asked, read; never written back
    bool complete = false; // 完全プレビュー: with the turn
    // A JPEG drawn at a quarter of its size or less may first be shown from a
    // reduced decode (see decodeQuickJpeg), unless its exact picture takes the
    // colour planes, which cost about as much.
    bool firstLook = true;
};

// Where the newest request stands. Overtaken: a newer request or cancel() came
// before its picture; nothing of it is reported any more.
enum class RequestState { Pending, FirstLookShown, ExactShown, Failed, Overtaken };

class PreviewRenderer : public QObject {
    Q_OBJECT
public:
    explicit PreviewRenderer(QObject *parent = nullptr);
    // Stops the work in hand and waits for it.
    ~PreviewRenderer() override;

    // Starts making request's picture and returns its id (never 0). The request in
    // hand, if any, is overtaken: it stops at its next check point and reports nothing.
    quint64 request(const PreviewRequest &request);
    // Overtakes the request in hand with none.
    void cancel();
    // The newest request's id and state; 0 and Overtaken when there is none (never
    // asked, or cancelled).
    quint64 current() const;
    RequestState state() const;
    // The request whose results are still to come (pending or showing its first
    // look); 0 when none is.
    quint64 pending() const;

    KeptPictures &kept() { return *m_kept; }

    // For tests: called on a worker thread with the path before every read of a
    // source file; it may block, holding the request there until it returns. Set it
    // while no request is pending.
    using ReadHook = std::function<void(const QString &path)>;
    void setReadHook(ReadHook hook);
    // For tests: called on a worker thread with a request's id once one of its
    // results was handed to the renderer's thread, before it is reported there.
    using PostHook = std::function<void(quint64 id)>;
    void setPostHook(PostHook hook);

signals:
    // The quick first look of request id: the job's canvas composed from a reduced
    // decode. Never after id's picture.
    void firstLook(quint64 id, const QImage &canvas);
    // The job's canvas, as the batch composes it (the turn only in the complete
    // preview). The request is done.
    void picture(quint64 id, const QImage &canvas);
    // Why request id's picture cannot be made: the batch's own reason, in Japanese.
    // The request is done.
    void failed(quint64 id, const QString &reason);

private:
    struct Task;
    void runExact(const std::shared_ptr<Task> &task);
    void runFirstLook(const std::shared_ptr<Task> &task, const QByteArray &data);
    // Hands a result to the renderer's thread, where deliver() reports it if its
    // request still wants it.
    void post(const std::shared_ptr<Task> &task, int kind, const QImage &canvas, const QString &reason = {});
    void deliver(const std::shared_ptr<Task> &task, int kind, const QImage &canvas, const QString &reason);

    std::shared_ptr<KeptPictures> m_kept;
    std::shared_ptr<const ReadHook> m_readHook;
    std::shared_ptr<const PostHook> m_postHook;
    std::shared_ptr<Task> m_current;
    quint64 m_lastId = 0;
    QThreadPool m_exactLane;
    QThreadPool m_firstLookLane;
};

} // namespace kestrovia
