#include "export/export.h"

#include "export/converter.h"
#include "export/levels.h"
#include "export/metadata.h"
#include "export/outputname.h"
#include "export/programmark.h"
#include "export/writers.h"
#include "platform/failure.h"
#include "platform/filename.h"
#include "platform/japanese.h"

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
    if (job.format == OutputFormat::Jpeg)
        return withMetadata(encodeJpeg(canvas, jpegQuality(job.level)), job, metadata, canvas.size(), iccProfile);
    const OutputMetadata blocks = outputMetadata(readSourceMetadata(metadata), canvas.size(), iccProfile, job.metadata);
    QByteArray file;
    switch (job.format) {
    case OutputFormat::WebP: file = encodeWebp(canvas, webpSettings(job.level), blocks); break;
    case OutputFormat::Avif: file = encodeAvif(canvas, avifSettings(job.level), blocks); break;
    case OutputFormat::Png: file = encodePng(canvas, pngSettings(job.level), blocks); break;
    case OutputFormat::Jpeg: break;
    }
    if (file.isEmpty())
        throw Failure(ja("出力形式が正しくありません"));
    sealOutput(file);
    return file;
}

QByteArray encodeJob(const JpegPlanes &planes, const Job &job, const MetadataBlocks &metadata)
{
    if (job.format != OutputFormat::Jpeg)
        throw Failure(ja("出力形式が正しくありません"));
    return withMetadata(encodeJpeg(planes, jpegQuality(job.level)), job, metadata, planes.y.size(), planes.iccProfile);
}

PlaneRoute planeRoute(const Job &job)
{
    if (job.format != OutputFormat::Jpeg)
        return PlaneRoute::None;
    return fullChroma(jpegQuality(job.level)) ? PlaneRoute::FullChroma : PlaneRoute::HalfChroma;
}

void writeJobOutput(const QString &output, const QByteArray &file, WriteMode mode)
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
    writeOutputFile(output, file, mode);
}

} // namespace kestrovia
