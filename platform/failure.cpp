#include "platform/failure.h"

#include "platform/japanese.h"

#include <QFileInfo>

#include <new>

namespace kestrovia {

Failure unreadablePicture(const QString &path, const Failure &cause)
{
    return Failure(ja("画像「%1」を読み込めません: %2").arg(QFileInfo(path).fileName(), cause.message()));
}

QString failureReason(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Failure &f) {
        return f.message();
    } catch (const std::bad_alloc &) {
        return ja("メモリが足りません。画像または新しいサイズが大きすぎる可能性があります");
    } catch (...) {
        return ja("予期しないエラーが発生しました");
    }
}

} // namespace kestrovia
