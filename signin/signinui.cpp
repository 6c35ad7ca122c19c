#include "signin/signin.h"

#include "signin/FMPass.h"
#include "signin/FMServer.h"

#include "session/cacheapi.h"
#include "session/forms.h"

#include <QApplication>
#include <QPointer>
#include <QScopedValueRollback>
#include <QTimer>
#include <QWindow>

namespace signin {
namespace {

// Owned, not parented: the owner's end must not destroy a window that lives until the
// program ends.
void setOwner(QDialog *dialog, QWidget *owner)
{
    if (!owner)
        owner = QApplication::activeWindow();
    if (!owner || owner == dialog)
        return;
    dialog->winId();
    if (QWindow *handle = dialog->windowHandle())
        handle->setTransientParent(owner->window()->windowHandle());
}

void execOwned(QDialog *dialog, QWidget *owner)
{
    if (!dialog || dialog->isVisible())
        return; // already up (and modal): the caller goes on when it closes
    setOwner(dialog, owner);
    dialog->setModal(true);
    dialog->exec();
}

class SignInWindows final : public cacheapi::SignInUi
{
public:
    void showSignInDialogModal() override
    {
        FMPass *dialog = cacheapi::form<FMPass>();
        if (cacheapi::Beendet)
            return;
        execOwned(dialog, nullptr);
    }
    bool signInDialogVisible() override
    {
        FMPass *dialog = cacheapi::formIfLoaded<FMPass>();
        return dialog && dialog->isVisible();
    }
    void hideSignInDialog() override
    {
        if (FMPass *dialog = cacheapi::formIfLoaded<FMPass>())
            dialog->hide();
    }
    void selectPasswordText() override
    {
        if (FMPass *dialog = cacheapi::formIfLoaded<FMPass>())
            dialog->selectPassword();
    }
    void showServerWindowModal() override { signin::showServerWindowModal(nullptr); }
    void hideServerWindow() override
    {
        if (FMServer *window = cacheapi::formIfLoaded<FMServer>())
            window->hide();
    }
    void signInExitAction() override { signInExit(); }
    void stopLockTimer() override
    {
        // Only a loaded window has a timer running; this must not load it.
        if (FMServer *window = cacheapi::formIfLoaded<FMServer>())
            window->Lock()->stop();
    }
    void serverReached() override
    {
        // The window's own load begins server work and gets here again.
        static bool loading = false;
        if (loading || !qobject_cast<QApplication *>(QCoreApplication::instance()) ||
            cacheapi::formIfLoaded<FMServer>())
            return;
        const QScopedValueRollback guard(loading, true);
        cacheapi::form<FMServer>();
    }
};

} // namespace

void install()
{
    static SignInWindows windows;
    cacheapi::setSignInUi(&windows);
}

void showSignInDialog(QWidget *owner)
{
    FMPass *dialog = cacheapi::form<FMPass>();
    if (cacheapi::Beendet)
        return;
    setOwner(dialog, owner);
    dialog->setModal(false);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void showServerWindowModal(QWidget *owner)
{
    FMServer *window = cacheapi::form<FMServer>();
    if (cacheapi::Beendet)
        return;
    execOwned(window, owner);
}

} // namespace signin
