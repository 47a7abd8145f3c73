#pragma once
// Every dialog, question, message, popup menu and browser request of the program
// goes through here, so that tests answer them in advance instead of waiting on a
// modal window (as KeePassXC's MessageBox::setNextAnswer does):
//
//   Prompts::setScripted(true);              // nothing is shown from now on
//   Prompts::setNextAnswer(Prompts::Skip);   // the next question: 「スキップ」
//   ... click BtnMain ...
//   QCOMPARE(Prompts::shown().last().text, ...);
//
// In the program nothing is scripted and the real windows are shown.

#include <QColor>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QDialog;
class QMenu;
class QUrl;
class QWidget;

namespace kestrovia {

class Prompts {
public:
    enum Answer { Ok, Overwrite, Skip, Abort, Stop, Continue, OpenFolder, Delete, Cancel, SkipLater, Create };
    enum Icon { Information, Warning, Question };
    enum class Kind { Message, Color, Folder, Files, Popup, Modal, Url, Text, OpenFile, SaveFile };

    struct Message {
        Kind kind = Kind::Message;
        Icon icon = Information;
        QString title;
        QString text; // for the other kinds: the menu's or dialog's name, the URL
        QString informative; // the second paragraph
        QString details; // behind 「詳細を表示」, for long lists
        QPoint position; // where a popup menu opened
    };

    // A message with one OK button.
    static void inform(QWidget *parent, const Message &message);
    // What can end a question without an answer, e.g. the run it asks about ending
    // meanwhile: called with the function that takes the question away, it returns
    // the connection that calls it.
    using Dismisser = std::function<QMetaObject::Connection(const std::function<void()> &dismiss)>;

    // A question with the given buttons in order (Japanese captions), focus on
    // defaultAnswer; Escape and the close box give escapeAnswer. When dismissWhen
    // fires first, the question goes away and dismissedAnswer is given.
    static Answer ask(QWidget *parent, const Message &message, const QList<Answer> &buttons, Answer defaultAnswer,
                      Answer escapeAnswer, const Dismisser &dismissWhen = {}, Answer dismissedAnswer = Ok);

    // A line of text asked for (message.text says what for; initial is offered,
    // selected): what was typed, or nullopt when cancelled.
    static std::optional<QString> askText(QWidget *parent, const Message &message, const QString &initial);
    // One of items chosen from a list (message.text says what for; current is
    // offered first), OK or キャンセル: the item, or nullopt when cancelled.
    static std::optional<QString> chooseItem(QWidget *parent, const Message &message, const QStringList &items,
                                             int current = 0);

    // The colour chooser; an invalid colour when cancelled.
    static QColor chooseColor(QWidget *parent);

    // The save-folder chooser (DirSelectForm), opened at startFolder. NotShown when
    // that folder cannot be listed; Chosen carries the open folder with one trailing
    // separator. The chooser is made on first use and kept hidden between uses (it
    // keeps its drive); its close box destroys it.
    struct FolderChoice {
        enum Result { NotShown, Cancelled, Chosen } result = NotShown;
        QString folder;
    };
    static FolderChoice chooseFolder(QWidget *parent, const QString &startFolder);

    // Qt's own file dialog (in Japanese, whatever the desktop) for pictures to add,
    // several at once, filtered to the pictures the program reads (names in any
    // letter case), opened in startFolder. The chosen files; none when cancelled.
    static QStringList chooseFiles(QWidget *parent, const QString &startFolder);

    // Qt's own file dialog (in Japanese) for one file of the kind filter names
    // ("名前 (*.ext)"), opened at start (a folder, or a file name in one): to open
    // one that exists, or to save (a name typed without the suffix takes it; a file
    // that exists is asked about first). The chosen path; empty when cancelled.
    enum class FileUse { Open, Save };
    static QString chooseFile(QWidget *parent, FileUse use, const QString &title, const QString &start,
                              const QString &filter, const QString &suffix);

    // menu as a popup at a global position; returns once it is closed, after the
    // chosen action ran.
    static void popup(QMenu *menu, const QPoint &globalPos);
    // dialog, modally; returns once it is closed.
    static void showModal(QDialog &dialog);
    // Asks the desktop to open url in the browser; false when it could not be asked.
    static bool openUrl(const QUrl &url);

    // Tests. While scripted nothing is ever shown: every prompt is recorded in
    // shown() and answered from what was queued, or else with its escape answer,
    // no colour, a cancelled chooser or text, no menu choice, and a browser that
    // opens.
    static void setScripted(bool on);
    static void setNextAnswer(Answer answer);
    // The next question is left open, as by a user who does not answer, until its
    // dismisser takes it away (events are processed meanwhile).
    static void setNextQuestionLeftOpen();
    static void setNextColor(const QColor &color);
    // The text the next askText or chooseItem returns (none queued: cancelled).
    static void setNextText(const QString &text);
    static void setNextFolder(const QString &folder);
    // The files the next file dialog returns (recorded with the folder it opened in);
    // for a dialog of one file, the first of them.
    static void setNextFiles(const QStringList &files);
    // The objectName of the action the next popup menu triggers.
    static void setNextMenuChoice(const QString &actionName);
    static void setNextUrlOpened(bool opened);
    static const QList<Message> &shown();
    static void clearShown();
};

} // namespace kestrovia
