#pragma once
// Single-instance windows: created on first use, "unloaded" (destroyed) when done; Ende
// unloads every open one, the most recently opened first.

#include <QList>
#include <QPointer>
#include <QWidget>

namespace cacheapi {

// A window that does something when it is unloaded (store its placement...).
class Unloadable
{
public:
    virtual ~Unloadable() = default;
    virtual void Form_Unload() = 0;
};

void registerForm(QWidget *window);   // every window's constructor
void unregisterForm(QWidget *window); // its destructor
QList<QWidget *> openForms();         // oldest first
// Runs Form_Unload (if the window has one) and destroys the window; failures are ignored.
void Unload(QWidget *window);

// The default instance of a window class: created on first use.
template <class T> T *form()
{
    static QPointer<T> instance;
    if (!instance)
        instance = new T();
    return instance.data();
}
template <class T> T *formIfLoaded()
{
    const auto forms = openForms();
    for (QWidget *w : forms)
        if (auto *t = qobject_cast<T *>(w))
            return t;
    return nullptr;
}

} // namespace cacheapi
