#include "compose/presets.h"

#include "platform/failure.h"
#include "platform/japanese.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace kestrovia {

namespace {

Preset shipped(const QString &name, SizeRule::Mode mode, int longEdge, double level, bool centred = false)
{
    Preset p{name, {}};
    p.settings.size.mode = mode;
    if (mode == SizeRule::LongEdge)
        p.settings.size.longEdge = longEdge;
    else if (mode == SizeRule::Exact)
        p.settings.size.exact = QSize(longEdge, longEdge);
    p.settings.level = level;
    p.settings.centred = centred;
    return p;
}

Failure notAPreset(const QString &fileName, const QString &why)
{
    return Failure(ja("「%1」はプリセットとして読み込めません: %2").arg(QFileInfo(fileName).fileName(), why));
}

} // namespace

QList<Preset> shippedPresets()
{
    // Every one drops the place a photo was taken: they make copies to hand out.
    return {
        shipped(ja("ウェブ用"), SizeRule::LongEdge, 1600, 5),
        shipped(QStringLiteral("SNS"), SizeRule::LongEdge, 2048, 5),
        shipped(ja("メール"), SizeRule::LongEdge, 1024, 6),
        shipped(ja("サムネイル"), SizeRule::Exact, 320, 5, true),
    };
}

QByteArray presetFileBytes(const Preset &preset)
{
    QJsonObject settings;
    for (const auto &[key, text] : settingsTexts(preset.settings))
        settings.insert(key, text);
    QJsonObject file;
    file.insert(QStringLiteral("format"), kPresetMarker.toString());
    file.insert(QStringLiteral("version"), kPresetVersion);
    file.insert(QStringLiteral("name"), preset.name);
    file.insert(QStringLiteral("settings"), settings);
    return QJsonDocument(file).toJson(QJsonDocument::Indented);
}

Preset presetOfFileBytes(const QByteArray &bytes, const QString &fileName)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        throw notAPreset(fileName, ja("JSON として読めません（%1 バイト目）").arg(error.offset));
    const QJsonObject file = document.object();
    if (file.value(QStringLiteral("format")).toString() != kPresetMarker)
        throw notAPreset(fileName, ja("Kestrovia のプリセットの印（\"format\": \"%1\"）がありません").arg(kPresetMarker));
    const QJsonValue version = file.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() != kPresetVersion)
        throw notAPreset(fileName, ja("このバージョンの Kestrovia が知らない形式です（version %1）")
                                       .arg(version.isDouble() ? QString::number(version.toDouble()) : ja("なし")));
    Preset preset;
    preset.name = file.value(QStringLiteral("name")).toString().trimmed();
    if (preset.name.isEmpty())
        throw notAPreset(fileName, ja("プリセットの名前がありません"));
    const QJsonObject settings = file.value(QStringLiteral("settings")).toObject();
    for (const RowFieldEntry &entry : rowFields()) {
        const QString key = QString::fromLatin1(entry.key);
        if (!settings.contains(key))
            continue;
        const QJsonValue value = settings.value(key);
        const QString text = value.toString();
        const Failure bad =
            notAPreset(fileName, ja("設定「%1」の値「%2」は使えません")
                                     .arg(key, value.isString() ? text : QString::fromUtf8(QJsonDocument(QJsonObject{{key, value}}).toJson(QJsonDocument::Compact))));
        if (!value.isString())
            throw bad;
        try {
            entry.read(preset.settings, text);
        } catch (const Failure &) {
            throw bad;
        }
        // The field table reads leniently (an unknown turn is none); a preset names
        // what it means, so a text that does not read back as itself is refused.
        if (entry.text(preset.settings).compare(text.trimmed(), Qt::CaseInsensitive) != 0)
            throw bad;
        if (entry.field == RowField::Level && (preset.settings.level < 0 || preset.settings.level > 10))
            throw bad;
    }
    return preset;
}

QString presetsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/kestrovia/presets");
}

QString presetFilePath(const QString &name, const QString &folder)
{
    QString file = name;
    file.replace(u'%', QStringLiteral("%25")).replace(u'/', QStringLiteral("%2F"));
    if (file.startsWith(u'.'))
        file = QStringLiteral("%2E") + file.mid(1);
    return folder + u'/' + file + kPresetSuffix.toString();
}

Preset readPresetFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw notAPreset(path, ja("ファイルを開けません（%1）").arg(file.errorString()));
    // A preset is a few hundred bytes: anything far larger is not one.
    if (file.size() > 1 << 20)
        throw notAPreset(path, ja("プリセットとしては大きすぎます"));
    return presetOfFileBytes(file.readAll(), path);
}

void writePresetFile(const Preset &preset, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(presetFileBytes(preset)) < 0 || !file.commit())
        throw Failure(ja("プリセット「%1」を「%2」に保存できません: %3")
                          .arg(preset.name, QDir::toNativeSeparators(path), file.errorString()));
}

QList<Preset> loadPresets(const QString &folder)
{
    QList<Preset> presets = shippedPresets();
    QList<Preset> own;
    QDirIterator files(folder, {u'*' + kPresetSuffix.toString()}, QDir::Files);
    while (files.hasNext()) {
        try {
            Preset p = readPresetFile(files.next());
            const auto same = std::find_if(presets.begin(), presets.end(), [&p](const Preset &s) { return s.name == p.name; });
            if (same != presets.end())
                *same = p;
            else
                own.append(p);
        } catch (const Failure &) {
        }
    }
    std::sort(own.begin(), own.end(), [](const Preset &a, const Preset &b) { return a.name < b.name; });
    return presets + own;
}

std::optional<Preset> findPreset(const QString &name, const QString &folder)
{
    for (const Preset &p : loadPresets(folder)) {
        if (p.name == name)
            return p;
    }
    return std::nullopt;
}

void savePreset(const Preset &preset, const QString &folder)
{
    if (!QDir().mkpath(folder))
        throw Failure(ja("プリセットのフォルダ「%1」を作成できません").arg(QDir::toNativeSeparators(folder)));
    writePresetFile(preset, presetFilePath(preset.name, folder));
}

bool removePreset(const QString &name, const QString &folder) { return QFile::remove(presetFilePath(name, folder)); }

void renamePreset(const QString &from, const QString &to, const QString &folder)
{
    std::optional<Preset> preset = findPreset(from, folder);
    if (!preset)
        throw Failure(ja("プリセット「%1」がありません").arg(from));
    if (findPreset(to, folder))
        throw Failure(ja("プリセット「%1」はすでにあります").arg(to));
    preset->name = to;
    savePreset(*preset, folder);
    removePreset(from, folder);
}

Preset importPreset(const QString &path, const QString &folder)
{
    const Preset preset = readPresetFile(path);
    savePreset(preset, folder);
    return preset;
}

} // namespace kestrovia
