#pragma once
// Every question and message the program shows goes through here, so that tests
// answer them in advance instead of waiting on a modal box.
//
//   Prompts::setNextAnswer(Prompts::Skip);   // the next question is answered "スキップ"
//   ... click BtnMain ...
//   QCOMPARE(Prompts::shown().last().text, ...);
//
// In the program nothing is queued and the real dialogs are shown.

#include <QList>
#include <QString>

class QWidget;

namespace kestrovia {

class Prompts {
public:
    enum Answer { Ok, Overwrite, Skip, Abort };
    enum Icon { Information, Warning, Question };

    struct Message {
        Icon icon = Information;
        QString title;
        QString text;
        QString informative; // the second paragraph
        QString details;     // behind "詳細を表示", for long lists
    };

    // A message with one OK button.
    static void inform(QWidget *parent, const Message &message);

    // A question with the given buttons in order (Japanese captions), focus on
    // defaultAnswer; Escape and the close box give escapeAnswer.
    static Answer ask(QWidget *parent, const Message &message, const QList<Answer> &buttons, Answer defaultAnswer,
                      Answer escapeAnswer);

    // Tests: the next question returns answer without showing anything. While
    // scripted (after the first setNextAnswer or setScripted(true)) nothing is ever
    // shown: a question with no queued answer gets its escape answer.
    static void setNextAnswer(Answer answer);
    static void setScripted(bool on);
    // Every message and question shown or answered while scripted, oldest first.
    static const QList<Message> &shown();
    static void clearShown();
};

} // namespace kestrovia
