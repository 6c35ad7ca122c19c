#pragma once
// Every message box of the program goes through here, so tests can read and answer them.

#include <QList>
#include <QString>

#include <functional>

class QWidget;

namespace platform {

enum class Icon { None, Information, Warning, Critical, Question };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

struct ShownMessage
{
    QString title; // as the caller gave it
    QString text;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
};

// Shows a modal box and answers the button pressed. An empty title shows an empty title bar
// (a single blank, which the platform does not replace by the program's name).
Answer messageBox(QWidget *parent, const QString &text, Buttons buttons, Icon icon, const QString &title);

// Tests: while a recorder lives, boxes are not shown; each is recorded and answered by the
// handler (default: Ok for an OK box, Yes for a Yes/No box, or the next queued answer).
class MessageBoxRecorder
{
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder &) = delete;
    MessageBoxRecorder &operator=(const MessageBoxRecorder &) = delete;

    void queueAnswer(Answer answer);
    // Called for every box before it is answered; may run code (e.g. stop a test loop).
    std::function<void(const ShownMessage &)> onShown;

    QList<ShownMessage> shown;
    QList<Answer> queued;
    void clear() { shown.clear(); }
    int count() const { return int(shown.size()); }
    const ShownMessage &last() const { return shown.constLast(); }
};

} // namespace platform
