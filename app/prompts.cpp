#include "app/prompts.h"

#include "app/dirselectform.h"
#include "compose/pictureformat.h"
#include "platform/japanese.h"

#include <QAction>
#include <QColorDialog>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

namespace kestrovia {

namespace {

struct State {
    bool scripted = false;
    QList<std::optional<Prompts::Answer>> answers; // nullopt: left open
    QList<QColor> colors;
    QList<QString> texts;
    QList<QString> folders;
    QList<QStringList> files;
    QList<QString> menuChoices;
    QList<bool> urlsOpened;
    QList<Prompts::Message> shown;
};

State &state()
{
    static State s;
    return s;
}

template <typename T> std::optional<T> next(QList<T> &queue)
{
    if (queue.isEmpty())
        return std::nullopt;
    return queue.takeFirst();
}

bool recorded(Prompts::Kind kind, const QString &text, QPoint position = {})
{
    State &s = state();
    if (s.scripted) {
        Prompts::Message m;
        m.kind = kind;
        m.text = text;
        m.position = position;
        s.shown.append(m);
    }
    return s.scripted;
}

QString caption(Prompts::Answer a)
{
    switch (a) {
    case Prompts::Ok: return QStringLiteral("OK");
    case Prompts::Overwrite: return ja("上書き");
    case Prompts::Skip: return ja("スキップ");
    case Prompts::Abort: return ja("中止");
    case Prompts::Stop: return ja("処理を中止");
    case Prompts::Continue: return ja("続ける");
    case Prompts::OpenFolder: return ja("保存先を開く");
    case Prompts::Delete: return ja("削除");
    case Prompts::Cancel: return ja("キャンセル");
    case Prompts::SkipLater: return ja("後の行をスキップ");
    case Prompts::Create: return ja("作成");
    }
    return {};
}

QMessageBox::Icon boxIcon(Prompts::Icon icon)
{
    switch (icon) {
    case Prompts::Information: return QMessageBox::Information;
    case Prompts::Warning: return QMessageBox::Warning;
    case Prompts::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QAction *findAction(QMenu *menu, const QString &name)
{
    for (QAction *a : menu->actions()) {
        if (a->objectName() == name && !a->menu())
            return a;
        if (a->menu())
            if (QAction *found = findAction(a->menu(), name))
                return found;
    }
    return nullptr;
}

// Only one folder chooser lives at a time.
QPointer<DirSelectForm> g_folderChooser;

} // namespace

void Prompts::inform(QWidget *parent, const Message &message) { ask(parent, message, {Ok}, Ok, Ok); }

Prompts::Answer Prompts::ask(QWidget *parent, const Message &m, const QList<Answer> &buttons, Answer defaultAnswer,
                             Answer escapeAnswer, const Dismisser &dismissWhen, Answer dismissedAnswer)
{
    State &s = state();
    if (s.scripted) {
        s.shown.append(m);
        const std::optional<std::optional<Answer>> queued = next(s.answers);
        if (!queued)
            return escapeAnswer;
        if (*queued)
            return **queued;
        // Left open: only the dismisser ends it.
        QEventLoop waiting;
        const QMetaObject::Connection c =
            dismissWhen ? dismissWhen([&waiting] { waiting.quit(); }) : QMetaObject::Connection();
        if (!c)
            return escapeAnswer;
        waiting.exec();
        QObject::disconnect(c);
        return dismissedAnswer;
    }
    QMessageBox box(boxIcon(m.icon), m.title, m.text, QMessageBox::NoButton, parent);
    box.setInformativeText(m.informative);
    box.setDetailedText(m.details);
    QList<std::pair<QPushButton *, Answer>> made;
    for (Answer a : buttons) {
        QPushButton *b =
            box.addButton(caption(a), a == escapeAnswer ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        made.append({b, a});
        if (a == defaultAnswer)
            box.setDefaultButton(b);
        if (a == escapeAnswer)
            box.setEscapeButton(b);
    }
    bool dismissed = false;
    const QMetaObject::Connection c = dismissWhen ? dismissWhen([&box, &dismissed] {
        dismissed = true;
        box.done(QDialog::Rejected);
    })
                                                  : QMetaObject::Connection();
    box.exec();
    QObject::disconnect(c);
    if (dismissed)
        return dismissedAnswer;
    for (const auto &[button, answer] : made) {
        if (box.clickedButton() == button)
            return answer;
    }
    return escapeAnswer;
}

std::optional<QString> Prompts::askText(QWidget *parent, const Message &message, const QString &initial)
{
    State &s = state();
    if (s.scripted) {
        Message m = message;
        m.kind = Kind::Text;
        s.shown.append(m);
        return next(s.texts);
    }
    QInputDialog dialog(parent);
    dialog.setWindowTitle(message.title);
    dialog.setLabelText(message.informative.isEmpty() ? message.text : message.text + u'\n' + message.informative);
    dialog.setTextValue(initial);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(ja("キャンセル"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

std::optional<QString> Prompts::chooseItem(QWidget *parent, const Message &message, const QStringList &items,
                                           int current)
{
    State &s = state();
    if (s.scripted) {
        Message m = message;
        m.kind = Kind::Text;
        m.details = items.join(u'\n');
        s.shown.append(m);
        const std::optional<QString> item = next(s.texts);
        return item && items.contains(*item) ? item : std::nullopt;
    }
    QInputDialog dialog(parent);
    dialog.setWindowTitle(message.title);
    dialog.setLabelText(message.informative.isEmpty() ? message.text : message.text + u'\n' + message.informative);
    dialog.setComboBoxItems(items);
    dialog.setComboBoxEditable(false);
    dialog.setTextValue(items.value(current));
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(ja("キャンセル"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

QColor Prompts::chooseColor(QWidget *parent)
{
    if (recorded(Kind::Color, {}))
        return next(state().colors).value_or(QColor());
    // No initial colour is offered: the dialog opens on its own default.
    return QColorDialog::getColor(Qt::white, parent, ja("色の設定"));
}

Prompts::FolderChoice Prompts::chooseFolder(QWidget *parent, const QString &startFolder)
{
    if (!g_folderChooser)
        g_folderChooser = new DirSelectForm(parent);
    else
        g_folderChooser->refreshDrives();
    DirSelectForm &dialog = *g_folderChooser;
    if (!dialog.setPath(startFolder))
        return {};
    if (recorded(Kind::Folder, startFolder)) {
        const std::optional<QString> folder = next(state().folders);
        return folder ? FolderChoice{FolderChoice::Chosen, *folder} : FolderChoice{FolderChoice::Cancelled, {}};
    }
    if (dialog.exec() == QDialog::Accepted)
        return {FolderChoice::Chosen, dialog.chosenFolder()};
    return {FolderChoice::Cancelled, {}};
}

QStringList Prompts::chooseFiles(QWidget *parent, const QString &startFolder)
{
    if (recorded(Kind::Files, startFolder))
        return next(state().files).value_or(QStringList());
    QStringList patterns;
    for (const QString &ext : pictureExtensions())
        patterns << QStringLiteral("*.") + ext << QStringLiteral("*.") + ext.toUpper();
    QFileDialog dialog(parent, ja("画像を追加"), startFolder);
    // Qt's own dialog speaks the program's language on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters({ja("画像 (%1)").arg(patterns.join(u' ')), ja("すべてのファイル (*)")});
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

QString Prompts::chooseFile(QWidget *parent, FileUse use, const QString &title, const QString &start,
                            const QString &filter, const QString &suffix)
{
    if (recorded(use == FileUse::Open ? Kind::OpenFile : Kind::SaveFile, start))
        return next(state().files).value_or(QStringList()).value(0);
    QFileDialog dialog(parent, title, start);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(use == FileUse::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(use == FileUse::Open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilters({filter, ja("すべてのファイル (*)")});
    dialog.setDefaultSuffix(suffix);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

void Prompts::popup(QMenu *menu, const QPoint &globalPos)
{
    if (recorded(Kind::Popup, menu->objectName(), globalPos)) {
        if (const std::optional<QString> choice = next(state().menuChoices))
            if (QAction *a = findAction(menu, *choice))
                a->trigger();
        return;
    }
    menu->exec(globalPos);
}

void Prompts::showModal(QDialog &dialog)
{
    if (recorded(Kind::Modal, dialog.objectName()))
        return;
    dialog.exec();
}

bool Prompts::openUrl(const QUrl &url)
{
    if (recorded(Kind::Url, url.toString()))
        return next(state().urlsOpened).value_or(true);
    return QDesktopServices::openUrl(url);
}

void Prompts::setScripted(bool on)
{
    State &s = state();
    s.scripted = on;
    s.answers.clear();
    s.colors.clear();
    s.texts.clear();
    s.folders.clear();
    s.files.clear();
    s.menuChoices.clear();
    s.urlsOpened.clear();
}

void Prompts::setNextAnswer(Answer answer) { state().answers.append(answer); }
void Prompts::setNextQuestionLeftOpen() { state().answers.append(std::nullopt); }
void Prompts::setNextColor(const QColor &color) { state().colors.append(color); }
void Prompts::setNextText(const QString &text) { state().texts.append(text); }
void Prompts::setNextFolder(const QString &folder) { state().folders.append(folder); }
void Prompts::setNextFiles(const QStringList &files) { state().files.append(files); }
void Prompts::setNextMenuChoice(const QString &actionName) { state().menuChoices.append(actionName); }
void Prompts::setNextUrlOpened(bool opened) { state().urlsOpened.append(opened); }
const QList<Prompts::Message> &Prompts::shown() { return state().shown; }
void Prompts::clearShown() { state().shown.clear(); }

} // namespace kestrovia
