#pragma once
// A failure that ends a composition or an export. The message is meant for the
// user (Japanese), e.g. "画像「a.jpg」を読み込めません: …". Event handlers catch it; the
// engine itself catches nothing.

#include <QString>

#include <exception>
#include <stdexcept>

namespace kestrovia {

class Failure : public std::runtime_error {
public:
    explicit Failure(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

// The failure to read the picture file at path, naming it before the cause:
// 「画像「<name>」を読み込めません: <cause>」. The one wording every reader of a
// picture (the batch, the preview, the drop's header reads) gives.
Failure unreadablePicture(const QString &path, const Failure &cause);

// The reason to show for the exception that ended a row's work (the batch's or the
// preview's): a Failure's own message, else that memory ran out, else an
// unexpected error; always Japanese, never a library's English text. A stop
// request (Stopped) is the caller's to catch first: it is no failure.
QString failureReason(const std::exception_ptr &error);

} // namespace kestrovia
