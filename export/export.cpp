#include "export/export.h"

#include "export/converter.h"
#include "export/outputname.h"
#include "export/safewrite.h"
#include "platform/failure.h"

namespace kestrovia {

QByteArray encodeJob(const QImage &canvas, const JobRow &job)
{
    return encodeJpeg(canvas, jpegQuality(job.level()));
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
