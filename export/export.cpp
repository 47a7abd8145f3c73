#include "export/export.h"

#include "export/converter.h"
#include "export/metadata.h"
#include "export/outputname.h"
#include "export/safewrite.h"
#include "platform/failure.h"

namespace kestrovia {

namespace {

QByteArray withMetadata(const QByteArray &jpeg, const QByteArray &source, QSize size, const QByteArray &iccProfile)
{
    if (source.isEmpty())
        return jpeg;
    return addSourceMetadata(jpeg, readSourceMetadata(source), size, iccProfile).jpeg;
}

} // namespace

QByteArray encodeJob(const QImage &canvas, const JobRow &job, const QByteArray &source, const QByteArray &iccProfile)
{
    return withMetadata(encodeJpeg(canvas, jpegQuality(job.level())), source, canvas.size(), iccProfile);
}

QByteArray encodeJob(const JpegPlanes &planes, const JobRow &job, const QByteArray &source)
{
    return withMetadata(encodeJpeg(planes, jpegQuality(job.level())), source, planes.y.size(), planes.iccProfile);
}

QString writeJobOutput(const JobRow &job, const QByteArray &jpeg)
{
    if (job.saveFolder.trimmed().isEmpty())
        throw Failure(QString::fromUtf8("保存先フォルダが指定されていません"));
    const QString output = outputPath(job.saveFolder, job.fileName);
    writeFileReplacing(output, jpeg);
    return output;
}

QString exportJob(const QImage &canvas, const JobRow &job) { return writeJobOutput(job, encodeJob(canvas, job)); }

} // namespace kestrovia
