// CMYK JPEGs to sRGB: through the profile they carry, else the standard press
// profile; a profile that is not CMYK, or whose chunks do not add up, counts as none.

#include "compose/colorprofile.h"
#include "compose/pictureformat.h"
#include "tests/common/formatpictures.h"
#include "tests/common/testpictures.h"

#include <QtTest>

#include <cmath>

using namespace kestrovia;
using namespace testpics;

Q_DECLARE_METATYPE(CmykRoute)

namespace {

// The ink of the patch: 50 % cyan, 30 % magenta, 10 % yellow, 20 % black.
const double kInk[4] = {0.5, 0.3, 0.1, 0.2};

// A press no standard profile resembles: ink spreads (coverage sqrt(ink)), so a
// mid-tone comes out far darker than the plain formula says.
QRgb pressModel(const double ink[4])
{
    const double k = 1 - std::sqrt(ink[3]);
    return qRgb(int(std::lround(255 * (1 - std::sqrt(ink[0])) * k)), int(std::lround(255 * (1 - std::sqrt(ink[1])) * k)),
                int(std::lround(255 * (1 - std::sqrt(ink[2])) * k)));
}

// A CMYK printer profile (CMYK to Lab table, 17 points a side) of pressModel.
QByteArray pressProfile()
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsStage *table = cmsStageAllocCLut16bit(nullptr, 17, 4, 3, nullptr);
    cmsStageSampleCLut16bit(
        table,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void *transform) -> cmsInt32Number {
            const double ink[4] = {in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0, in[3] / 65535.0};
            const QRgb c = pressModel(ink);
            const double rgb[3] = {qRed(c) / 255.0, qGreen(c) / 255.0, qBlue(c) / 255.0};
            cmsCIELab lab;
            cmsDoTransform(transform, rgb, &lab, 1);
            cmsFloat2LabEncoded(out, &lab);
            return 1;
        },
        toLab, 0);
    cmsPipeline *pipeline = cmsPipelineAlloc(nullptr, 4, 3);
    // lutAtoBType wants input and output curves around the table: plain ones here.
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, table);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsHPROFILE press = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(press, 4.3);
    cmsSetDeviceClass(press, cmsSigOutputClass);
    cmsSetColorSpace(press, cmsSigCmykData);
    cmsSetPCS(press, cmsSigLabData);
    cmsWriteTag(press, cmsSigAToB0Tag, pipeline);
    cmsPipelineFree(pipeline);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    return savedProfile(press);
}

// What lcms2 itself makes of the inverted CMYK pixel through profile.
QRgb reference(const QByteArray &profile, const unsigned char cmyk[4])
{
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(in, TYPE_CMYK_8_REV, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_BLACKPOINTCOMPENSATION);
    unsigned char rgb[3] = {};
    cmsDoTransform(t, cmyk, rgb, 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(in);
    cmsCloseProfile(srgb);
    return qRgb(rgb[0], rgb[1], rgb[2]);
}

// A 16x16 CMYK JPEG of one colour, inverted as Adobe stores it, with profile in
// APP2 chunks of at most chunkSize bytes (numbered from firstSeq).
QByteArray cmykPatchJpeg(const unsigned char cmyk[4], const QByteArray &profile, int chunkSize = 65519, int firstSeq = 1)
{
    QByteArray pixels;
    for (int i = 0; i < 16 * 16; ++i)
        pixels.append(reinterpret_cast<const char *>(cmyk), 4);
    tjhandle h = tjInitCompress();
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    tjCompress2(h, reinterpret_cast<const unsigned char *>(pixels.constData()), 16, 64, 16, TJPF_CMYK, &buf, &size,
                TJSAMP_444, 100, 0);
    const QByteArray plain(reinterpret_cast<const char *>(buf), qsizetype(size));
    tjFree(buf);
    tjDestroy(h);
    QByteArray segments;
    const int count = int((profile.size() + chunkSize - 1) / chunkSize);
    for (int i = 0; i < count; ++i) {
        const QByteArray part = profile.mid(qsizetype(i) * chunkSize, chunkSize);
        const int len = 2 + 12 + 2 + int(part.size());
        segments += QByteArray("\xFF\xE2", 2) + char(len >> 8) + char(len & 0xFF) + QByteArray("ICC_PROFILE\0", 12)
                    + char(firstSeq + i) + char(count) + part;
    }
    return plain.left(2) + segments + plain.mid(2);
}

} // namespace

class TestColorProfile : public QObject {
    Q_OBJECT

private slots:
    void cmykToSrgb_data();
    void cmykToSrgb();
};

void TestColorProfile::cmykToSrgb_data()
{
    QTest::addColumn<QByteArray>("jpegData");
    QTest::addColumn<CmykRoute>("route");
    QTest::addColumn<QByteArray>("used"); // the profile the result must match

    QFile standardFile(standardCmykProfilePath());
    const QByteArray standard = standardFile.open(QIODevice::ReadOnly) ? standardFile.readAll() : QByteArray();
    const QByteArray press = pressProfile();
    QVERIFY2(press.size() > 65519, qPrintable(QString::number(press.size()))); // several APP2 chunks
    unsigned char patch[4];
    for (int i = 0; i < 4; ++i)
        patch[i] = static_cast<unsigned char>(std::lround(255 * (1 - kInk[i])));
    const QByteArray rgb = adobeLikeProfile();

    QTest::newRow("own profile") << cmykPatchJpeg(patch, press) << CmykRoute::EmbeddedProfile << press;
    QTest::newRow("own profile, small chunks") << cmykPatchJpeg(patch, press, 9000) << CmykRoute::EmbeddedProfile << press;
    QTest::newRow("no profile") << cmykPatchJpeg(patch, {}) << CmykRoute::StandardProfile << standard;
    QTest::newRow("rgb profile") << cmykPatchJpeg(patch, rgb) << CmykRoute::StandardProfile << standard;
    QTest::newRow("chunks misnumbered") << cmykPatchJpeg(patch, press, 65519, 2) << CmykRoute::StandardProfile << standard;
    QTest::newRow("profile cut") << cmykPatchJpeg(patch, press.left(70000)) << CmykRoute::StandardProfile << standard;
}

void TestColorProfile::cmykToSrgb()
{
    QFETCH(QByteArray, jpegData);
    QFETCH(CmykRoute, route);
    QFETCH(QByteArray, used);
    if (used.isEmpty())
        QSKIP("the standard CMYK profile is not installed (Debian package libgs-common)");

    tjhandle h = tjInitDecompress();
    QByteArray cmyk(16 * 16 * 4, '\0');
    QCOMPARE(tjDecompress2(h, reinterpret_cast<const unsigned char *>(jpegData.constData()),
                           static_cast<unsigned long>(jpegData.size()), reinterpret_cast<unsigned char *>(cmyk.data()),
                           16, 64, 16, TJPF_CMYK, 0),
             0);
    tjDestroy(h);
    QImage out(16, 16, QImage::Format_RGB32);
    const QByteArray profile = embeddedIccProfile(jpegData, PictureFormat::Jpeg);
    QCOMPARE(convertCmykToSrgb(reinterpret_cast<const unsigned char *>(cmyk.constData()), 64, out, profile), route);

    const QRgb got = out.pixel(8, 8);
    QCOMPARE(qAlpha(got), 255);
    const QRgb want = reference(used, reinterpret_cast<const unsigned char *>(cmyk.constData()) + (8 * 16 + 8) * 4);
    QVERIFY2(near(got, want, 2), qPrintable(describe(got) + " vs lcms2 " + describe(want)));
    if (route == CmykRoute::EmbeddedProfile) {
        // And what the press really prints, worked out without lcms2.
        QVERIFY2(near(got, pressModel(kInk), 6), qPrintable(describe(got) + " vs model " + describe(pressModel(kInk))));
    }
}

QTEST_GUILESS_MAIN(TestColorProfile)
#include "tst_colorprofile.moc"
