#include "joblist/cellview.h"

#include "compose/jobrow.h"
#include "joblist/jobcolumns.h"
#include "platform/failure.h"
#include "platform/japanese.h"
#include "platform/numbers.h"
#include "platform/syscolor.h"

#include <array>

namespace kestrovia {

namespace {

// The system colours by index, as a user's desktop settings call them.
constexpr std::array<const char *, 31> kSystemColorNames = {
    "スクロールバー",
    "デスクトップ",
    "アクティブなタイトルバー",
    "非アクティブなタイトルバー",
    "メニュー",
    "ウィンドウ背景",
    "ウィンドウの枠",
    "メニューの文字",
    "ウィンドウの文字",
    "タイトルバーの文字",
    "アクティブな境界",
    "非アクティブな境界",
    "アプリケーションの作業領域",
    "選択項目の背景",
    "選択項目の文字",
    "ボタンの表面",
    "ボタンの影",
    "淡色表示の文字",
    "ボタンの文字",
    "非アクティブなタイトルバーの文字",
    "ボタンの明るい縁",
    "立体の濃い影",
    "立体の明るい部分",
    "ヒントの文字",
    "ヒントの背景",
    "未使用の色",
    "ホットトラック項目",
    "アクティブなタイトルバーのグラデーション",
    "非アクティブなタイトルバーのグラデーション",
    "メニューの強調表示",
    "メニューバー",
};

QString hexName(const QColor &c) { return c.name(QColor::HexRgb).toUpper(); }

QString colorName(const QColor &c)
{
    if (c == QColor(Qt::white))
        return ja("白");
    if (c == QColor(Qt::black))
        return ja("黒");
    return hexName(c);
}

CellView sizeView(int column, const QString &stored)
{
    CellView v{stored, {}, {}};
    const qsizetype star = stored.indexOf(u'*');
    if (star >= 0) {
        const QString w = stored.left(star).trimmed();
        const QString h = stored.mid(star + 1).trimmed();
        if (parseDecimal(w) && parseDecimal(h))
            v.text = w + ja(" × ") + h;
    }
    if (column != ColNewSize || stored.isEmpty())
        return v;
    // The output size is what the batch makes of the text; say so where it is not
    // the text's own numbers.
    try {
        if (!canvasPixelSize(stored))
            v.toolTip = ja("元画像と同じサイズで作成します");
    } catch (const Failure &f) {
        v.toolTip = f.message();
        v.problem = true;
    }
    return v;
}

CellView colorView(const QString &stored)
{
    JobRow row;
    row.backColor = stored;
    std::int32_t value = 0;
    try {
        value = row.backColorValue();
    } catch (const Failure &f) {
        return {stored, f.message(), {}, true};
    }
    const QColor colour = resolveColorValue(value);
    if (!isSystemColorRef(value))
        return {colorName(colour), colour == Qt::white || colour == Qt::black ? hexName(colour) : QString(), colour};
    // The output gets the classic default of the system colour, whatever the
    // desktop's theme: the swatch shows that, and the tooltip names it.
    const auto index = static_cast<std::uint32_t>(value) & 0xFFu;
    const QString name =
        index < kSystemColorNames.size() ? ja(kSystemColorNames[index]) : ja("システム色 %1").arg(index);
    return {name, ja("システム色「%1」: %2（%3）で作成します").arg(name, colorName(colour), hexName(colour)), colour};
}

CellView levelView(const QString &stored)
{
    JobRow row;
    row.compression = stored;
    try {
        const QString level = QString::number(row.level());
        return {
            level, level == stored.trimmed() ? QString() : ja("「%1」はレベル %2 で作成します").arg(stored, level), {}};
    } catch (const Failure &f) {
        return {stored, f.message(), {}, true};
    }
}

} // namespace

CellView cellView(int column, const QString &stored)
{
    switch (column) {
    case ColOriginalSize:
    case ColNewSize: return sizeView(column, stored);
    case ColFit:
        if (stored == celltext::FitKeep)
            return {ja("保持"), ja("縦横比を保って背景色の上に置きます"), {}};
        if (stored == celltext::FitStretch)
            return {ja("伸縮"), ja("縦横比を無視して新サイズに合わせます"), {}};
        // Every text but "OFF" stretches.
        return {stored, ja("「%1」は伸縮として扱います").arg(stored), {}};
    case ColBackColor: return colorView(stored);
    case ColPosition:
        if (stored == celltext::Center)
            return {ja("中央"), {}, {}};
        // Every text but "Center" places the picture at the top-left.
        return {ja("左上"), stored == celltext::Top ? QString() : ja("「%1」は左上として扱います").arg(stored), {}};
    case ColRotation: {
        JobRow row;
        row.rotation = stored;
        switch (row.rotationCode()) {
        case 90: return {ja("+90°"), {}, {}};
        case 270: return {ja("−90°"), {}, {}};
        case 180: return {ja("+180°"), {}, {}};
        default: break;
        }
        const bool blank = stored.isEmpty() || stored == celltext::NoTurn;
        return {ja("なし"), blank ? QString() : ja("「%1」は回転なしとして扱います").arg(stored), {}};
    }
    case ColCompression: return levelView(stored);
    case ColMetadata:
        switch (metadataChoiceOf(stored)) {
        case MetadataChoice::KeepAll: return {ja("すべて残す"), {}, {}};
        case MetadataChoice::DropAll: return {ja("すべて除く"), {}, {}};
        case MetadataChoice::DropLocation: return {ja("位置情報を除く"), {}, {}};
        }
        return {stored, {}, {}};
    case ColFormat: {
        JobRow row;
        row.format = stored;
        const RowSettings s = rowSettingsOf(row);
        const QString name = QStringList{QStringLiteral("JPEG"), QStringLiteral("WebP"), QStringLiteral("AVIF"),
                                         QStringLiteral("PNG")}[int(s.format)];
        if (!s.keepTransparency)
            return {name, {}, {}};
        // JPEG stores no transparency: the row keeps the wish for another format.
        if (!s.keepsAlpha())
            return {name, ja("JPEG は透明を保存できないため、背景色で塗ります"), {}};
        return {name + ja("・透明"), ja("透明な部分を残します"), {}};
    }
    case ColNamePattern: {
        JobRow row;
        row.namePattern = stored;
        const QString pattern = rowSettingsOf(row).namePattern;
        // The default pattern is the names outputs always had.
        if (pattern == celltext::DefaultNamePattern)
            return {ja("標準"), ja("元画像の名前（JPEG の元画像には _b）"), {}};
        return {pattern, {}, {}};
    }
    case ColSizeRule: {
        // A row made without a rule keeps the size it was given.
        if (stored.isEmpty())
            return {ja("指定なし"), ja("新サイズのとおりに作成します"), {}};
        JobRow row;
        row.sizeRule = stored;
        return {rowSettingsOf(row).size.words(), {}, {}};
    }
    default: return {stored, {}, {}};
    }
}

} // namespace kestrovia
