#include "session/forms.h"

#include <QSet>

namespace cacheapi {
namespace {
QList<QPointer<QWidget>> &registry()
{
    static QList<QPointer<QWidget>> forms;
    return forms;
}
QSet<QWidget *> &unloading()
{
    static QSet<QWidget *> set;
    return set;
}
} // namespace

void registerForm(QWidget *window)
{
    if (!window)
        return;
    unregisterForm(window);
    registry().append(window);
}

void unregisterForm(QWidget *window)
{
    auto &forms = registry();
    for (qsizetype i = forms.size() - 1; i >= 0; --i)
        if (forms[i].isNull() || forms[i].data() == window)
            forms.removeAt(i);
}

QList<QWidget *> openForms()
{
    QList<QWidget *> result;
    for (const QPointer<QWidget> &w : std::as_const(registry()))
        if (w)
            result.append(w.data());
    return result;
}

void Unload(QWidget *window)
{
    // A window whose Form_Unload ends the program is reached a second time by Ende.
    if (!window || unloading().contains(window))
        return;
    unloading().insert(window);
    QPointer<QWidget> guard(window);
    try {
        if (auto *u = dynamic_cast<Unloadable *>(window))
            u->Form_Unload();
    } catch (...) {
    }
    unloading().remove(window);
    if (guard) {
        unregisterForm(guard.data());
        delete guard.data();
    }
}

} // namespace cacheapi
