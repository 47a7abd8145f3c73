#include "export/export.h"

#include "export/converter.h"
#include "export/metadata.h"
#include "export/outputname.h"
#include "export/programmark.h"
#include "platform/failure.h"
#include "platform/filename.h"

#include <QFile>

#include <sys/stat.h>

namespace kestrovia {

namespace {

QByteArray withMetadata(const QByteArray &jpeg, const Job &job, const MetadataBlocks &metadata, QSize size,
                        const QByteArray &iccProfile)
{
    QByteArray file = addSourceMetadata(jpeg, readSourceMetadata(metadata), size, iccProfile, job.metadata).jpeg;
    sealOutput(file);
    return file;
}

} // namespace

QByteArray encodeJob(const QImage &canvas, const Job &job, const MetadataBlocks &metadata, const QByteArray &iccProfile)
{
    return withMetadata(encodeJpeg(canvas, jpegQuality(job.level)), job, metadata, canvas.size(), iccProfile);
}

QByteArray encodeJob(const JpegPlanes &planes, const Job &job, const MetadataBlocks &metadata)
{
    return withMetadata(encodeJpeg(planes, jpegQuality(job.level)), job, metadata, planes.y.size(), planes.iccProfile);
}

void writeJobOutput(const QString &output, const QByteArray &jpeg, WriteMode mode)
{
    if (mode == WriteMode::Replace) {
        // The user agreed to replace an earlier output. Something else may have
        // taken its place since: that is never replaced.
        struct stat st { };
        if (::lstat(encodeFileName(output).constData(), &st) != 0)
            mode = WriteMode::New;
        else if (!isKestroviaOutput(output))
            throw NameTaken(output);
    }
    writeOutputFile(output, jpeg, mode);
}

} // namespace kestrovia
