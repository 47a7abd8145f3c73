#include "export/outputname.h"

#include "compose/pictureformat.h"
#include "platform/filename.h"
#include "platform/japanese.h"

#include <algorithm>
#include <array>

namespace kestrovia {

QString GetExtension(QStringView fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? QString() : fileName.mid(dot + 1).toString();
}

QString outputExtension(OutputFormat format)
{
    switch (format) {
    case OutputFormat::WebP: return QStringLiteral("webp");
    case OutputFormat::Avif: return QStringLiteral("avif");
    case OutputFormat::Png: return QStringLiteral("png");
    case OutputFormat::Jpeg: break;
    }
    return QStringLiteral("jpg");
}

bool sourceOfOutputKind(QStringView sourceFileName, OutputFormat format)
{
    const QString ext = GetExtension(sourceFileName);
    return format == OutputFormat::Jpeg ? isJpegExtension(ext)
                                        : ext.compare(outputExtension(format), Qt::CaseInsensitive) == 0;
}

QString outputFileName(QStringView sourceFileName, OutputFormat format)
{
    NameFields fields;
    fields.sourceName = sourceFileName.toString();
    fields.sourceOfOutputKind = sourceOfOutputKind(sourceFileName, format);
    return NamePattern().expand(fields) + u'.' + outputExtension(format);
}

QString outputPath(const QString &saveFolder, QStringView sourceFileName, OutputFormat format)
{
    return saveFolder + outputFileName(sourceFileName, format);
}

int jpegQuality(std::int16_t level)
{
    // Chosen by file size, not spaced evenly in quality: libjpeg's quality scale
    // is steep near 100 and flat below 50, so even qualities give steps from 3.7x
    // down to 1.2x. These make the file of each level shrink by about the same
    // ratio (1.4-1.5x on 1600x1200 photos, bench/compare.sh case levels),
    // including the step where fullChroma halves the chroma (92 -> 89).
    static constexpr std::array<int, 11> kQuality = {100, 98, 95, 92, 89, 82, 74, 64, 53, 41, 25};
    return kQuality[size_t(std::clamp<int>(level, 0, 10))];
}

namespace {

// The longest extension a format gives (".avif", ".webp"): a pattern's own text
// must leave room for it.
constexpr qsizetype kLongestExtension = 5;
constexpr qsizetype kNameBytes = 255; // ext4, XFS, Btrfs; FAT and NTFS allow 255 UTF-16 units

// A file name's characters that no file system here takes, as a reason; empty when none.
QString refusedCharacter(QStringView name)
{
    for (const QChar c : name) {
        if (c == u'/')
            return ja("「/」はフォルダの区切りのため、ファイル名に使えません");
        if (c.unicode() == 0)
            return ja("NUL 文字はファイル名に使えません");
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return ja("制御文字（改行やタブなど）はファイル名に使えません");
    }
    return {};
}

QString tooLong(qsizetype bytes)
{
    return ja("名前が長すぎます（%1 バイト。ファイル名は拡張子を含めて 255 バイトまでです）").arg(bytes);
}

} // namespace

NamePattern::NamePattern(QStringView text)
    : m_text(text.toString())
{
    // An input method types full-width braces; they stand for the plain ones.
    m_text.replace(u'｛', u'{').replace(u'｝', u'}');
    parse();
}

void NamePattern::parse()
{
    static const QList<std::pair<QString, Field>> kFields = {
        {ja("名前"), Field::Name},    {QStringLiteral("name"), Field::Name},   {QStringLiteral("_b"), Field::Mark},
        {ja("幅"), Field::Width},     {QStringLiteral("width"), Field::Width}, {ja("高さ"), Field::Height},
        {QStringLiteral("height"), Field::Height}, {ja("連番"), Field::Number}, {QStringLiteral("n"), Field::Number},
        {ja("撮影日"), Field::Date},  {QStringLiteral("date"), Field::Date},
    };
    const auto fail = [this](const QString &reason) {
        m_error = reason;
        m_pieces.clear();
    };
    const auto addText = [this](QStringView text) {
        if (m_pieces.isEmpty() || m_pieces.last().field != Field::Text)
            m_pieces.append(Piece{});
        m_pieces.last().text += text;
    };

    if (m_text.isEmpty())
        return fail(ja("名前のパターンが空です"));
    for (qsizetype i = 0; i < m_text.size(); ++i) {
        const QChar c = m_text.at(i);
        const bool doubled = i + 1 < m_text.size() && m_text.at(i + 1) == c;
        if (c == u'}') {
            if (!doubled)
                return fail(ja("「}」に対応する「{」がありません（文字として使うときは「}}」と書きます）"));
            addText(u"}");
            ++i;
            continue;
        }
        if (c != u'{') {
            addText(QStringView(m_text).mid(i, 1));
            continue;
        }
        if (doubled) {
            addText(u"{");
            ++i;
            continue;
        }
        const qsizetype close = m_text.indexOf(u'}', i + 1);
        const qsizetype nextOpen = m_text.indexOf(u'{', i + 1);
        if (close < 0 || (nextOpen >= 0 && nextOpen < close))
            return fail(ja("「{」に対応する「}」がありません（文字として使うときは「{{」と書きます）"));
        // Full-width letters, digits and colons from an input method read as the
        // plain ones inside a field.
        const QString insideText = m_text.mid(i + 1, close - i - 1).normalized(QString::NormalizationForm_KC);
        const QStringView inside = insideText;
        const qsizetype colon = inside.indexOf(u':');
        const QStringView name = colon < 0 ? inside : inside.left(colon);
        const auto known = std::find_if(kFields.begin(), kFields.end(), [name](const auto &f) { return f.first == name; });
        if (known == kFields.end()) {
            return fail(ja("「{%1}」という項目はありません。使える項目: {名前} {_b} {幅} {高さ} {連番} {撮影日}")
                            .arg(name));
        }
        Piece piece{known->second, {}, 1};
        const QStringView argument = colon < 0 ? QStringView() : inside.mid(colon + 1);
        if (piece.field == Field::Number && colon >= 0) {
            bool ok = false;
            piece.digits = argument.toInt(&ok);
            if (!ok || piece.digits < 1 || piece.digits > 9)
                return fail(ja("「{%1}」の桁数は 1 から 9 までの数で書きます（例: {%2:3}）").arg(inside, name));
        } else if (piece.field == Field::Date) {
            piece.text = colon < 0 ? QStringLiteral("yyyyMMdd") : argument.toString();
            if (piece.text.isEmpty())
                return fail(ja("「{%1}」の「:」の後に日付の書き方がありません（例: {%2:yyyy-MM-dd}）").arg(inside, name));
        } else if (colon >= 0) {
            return fail(ja("「{%1}」には「:」で指定できるものがありません").arg(inside));
        }
        m_pieces.append(piece);
        i = close;
    }

    // The pattern's own text, and what its date formats make of a date, go into
    // every name: what no name may hold is refused here, where it is typed.
    QString fixed;
    for (const Piece &p : std::as_const(m_pieces)) {
        if (p.field == Field::Text)
            fixed += p.text;
        else if (p.field == Field::Date)
            fixed += QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59)).toString(p.text);
    }
    if (const QString refused = refusedCharacter(fixed); !refused.isEmpty())
        return fail(refused);
    if (const qsizetype bytes = encodeFileName(fixed).size(); bytes + kLongestExtension > kNameBytes)
        return fail(tooLong(bytes + kLongestExtension));

    m_warning = foreignNameWarning(fixed);
    if (std::all_of(m_pieces.begin(), m_pieces.end(),
                    [](const Piece &p) { return p.field == Field::Text || p.field == Field::Mark; })) {
        if (!m_warning.isEmpty())
            m_warning += u'\n';
        m_warning += ja("項目（{名前} や {連番} など）がないため、すべての行が同じ名前になります");
    }
}

bool NamePattern::uses(Field field) const
{
    return std::any_of(m_pieces.begin(), m_pieces.end(), [field](const Piece &p) { return p.field == field; });
}

bool NamePattern::needsSize() const { return uses(Field::Width) || uses(Field::Height); }
bool NamePattern::needsDate() const { return uses(Field::Date); }

QString NamePattern::expand(const NameFields &fields) const
{
    QString name;
    for (const Piece &p : m_pieces) {
        switch (p.field) {
        case Field::Text: name += p.text; break;
        case Field::Name: {
            const qsizetype dot = fields.sourceName.lastIndexOf(u'.');
            name += dot < 0 ? fields.sourceName : fields.sourceName.left(dot);
            break;
        }
        case Field::Mark:
            if (fields.sourceOfOutputKind)
                name += QStringLiteral("_b");
            break;
        case Field::Width: name += QString::number(fields.size.width()); break;
        case Field::Height: name += QString::number(fields.size.height()); break;
        case Field::Number: name += QStringLiteral("%1").arg(fields.number, p.digits, 10, QChar(u'0')); break;
        case Field::Date: name += fields.date.toString(p.text); break;
        }
    }
    return name;
}

QString invalidNameReason(const QString &fileName)
{
    if (fileName.isEmpty())
        return ja("名前が空です");
    if (fileName == QLatin1String(".") || fileName == QLatin1String(".."))
        return ja("「%1」はフォルダを指す名前のため、ファイル名に使えません").arg(fileName);
    if (const QString refused = refusedCharacter(fileName); !refused.isEmpty())
        return refused;
    if (const qsizetype bytes = encodeFileName(fileName).size(); bytes > kNameBytes)
        return tooLong(bytes);
    return {};
}

QString foreignNameWarning(QStringView name)
{
    QString found;
    for (const QChar c : name) {
        if (QStringView(u"<>:\"\\|?*").contains(c) && !found.contains(c))
            found += c;
    }
    if (found.isEmpty())
        return {};
    return ja("「%1」は Windows やメモリーカードのファイル名には使えないため、そこへコピーできません").arg(found);
}

} // namespace kestrovia
