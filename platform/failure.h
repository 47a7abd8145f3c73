#pragma once
// A failure that ends a composition or an export. The message is meant for the
// user (Japanese), e.g. "画像を読み込めません: …". Event handlers catch it; the
// engine itself catches nothing.

#include <QString>
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

} // namespace kestrovia
