#include "platform/messagebox.h"

#include <QMessageBox>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace platform {
namespace {
MessageBoxRecorder *g_recorder = nullptr;

QMessageBox::Icon toQt(Icon icon)
{
    switch (icon) {
    case Icon::Information: return QMessageBox::Information;
    case Icon::Warning: return QMessageBox::Warning;
    case Icon::Critical: return QMessageBox::Critical;
    case Icon::Question: return QMessageBox::Question;
    case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

MessageBoxRecorder::MessageBoxRecorder() { g_recorder = this; }
MessageBoxRecorder::~MessageBoxRecorder()
{
    if (g_recorder == this)
        g_recorder = nullptr;
}
void MessageBoxRecorder::queueAnswer(Answer answer) { queued.append(answer); }

Answer messageBox(QWidget *parent, const QString &text, Buttons buttons, Icon icon, const QString &title)
{
    if (g_recorder) {
        ShownMessage m{title, text, icon, buttons};
        g_recorder->shown.append(m);
        if (g_recorder->onShown)
            g_recorder->onShown(m);
        if (!g_recorder->queued.isEmpty())
            return g_recorder->queued.takeFirst();
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    // The platform fills an empty window title with the program's name; a blank is kept.
    const QString shownTitle = title.isEmpty() ? u" "_s : title;
    QPointer<QMessageBox> box = new QMessageBox(toQt(icon), shownTitle, text,
                                                buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                                          : QMessageBox::Ok,
                                                parent);
    const int result = box->exec();
    delete box.data();
    if (buttons == Buttons::YesNo)
        return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
    return Answer::Ok;
}

} // namespace platform
