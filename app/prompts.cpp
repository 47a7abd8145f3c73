#include "app/prompts.h"

#include <QMessageBox>
#include <QPushButton>

namespace kestrovia {

namespace {

struct State {
    bool scripted = false;
    QList<Prompts::Answer> answers;
    QList<Prompts::Message> shown;
};

State &state()
{
    static State s;
    return s;
}

QString caption(Prompts::Answer a)
{
    switch (a) {
    case Prompts::Ok: return QStringLiteral("OK");
    case Prompts::Overwrite: return QString::fromUtf8("上書き");
    case Prompts::Skip: return QString::fromUtf8("スキップ");
    case Prompts::Abort: return QString::fromUtf8("中止");
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

Prompts::Answer run(QWidget *parent, const Prompts::Message &m, const QList<Prompts::Answer> &buttons,
                    Prompts::Answer defaultAnswer, Prompts::Answer escapeAnswer)
{
    State &s = state();
    if (s.scripted) {
        s.shown.append(m);
        return s.answers.isEmpty() ? escapeAnswer : s.answers.takeFirst();
    }
    QMessageBox box(boxIcon(m.icon), m.title, m.text, QMessageBox::NoButton, parent);
    box.setInformativeText(m.informative);
    box.setDetailedText(m.details);
    QList<std::pair<QPushButton *, Prompts::Answer>> made;
    for (Prompts::Answer a : buttons) {
        QPushButton *b = box.addButton(caption(a), a == escapeAnswer ? QMessageBox::RejectRole
                                                                     : QMessageBox::AcceptRole);
        made.append({b, a});
        if (a == defaultAnswer)
            box.setDefaultButton(b);
        if (a == escapeAnswer)
            box.setEscapeButton(b);
    }
    box.exec();
    for (const auto &[button, answer] : made) {
        if (box.clickedButton() == button)
            return answer;
    }
    return escapeAnswer;
}

} // namespace

void Prompts::inform(QWidget *parent, const Message &message)
{
    run(parent, message, {Ok}, Ok, Ok);
}

Prompts::Answer Prompts::ask(QWidget *parent, const Message &message, const QList<Answer> &buttons,
                             Answer defaultAnswer, Answer escapeAnswer)
{
    return run(parent, message, buttons, defaultAnswer, escapeAnswer);
}

void Prompts::setNextAnswer(Answer answer)
{
    state().scripted = true;
    state().answers.append(answer);
}

void Prompts::setScripted(bool on)
{
    state().scripted = on;
    if (!on)
        state().answers.clear();
}

const QList<Prompts::Message> &Prompts::shown() { return state().shown; }

void Prompts::clearShown() { state().shown.clear(); }

} // namespace kestrovia
