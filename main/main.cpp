#include "main/FMStart.h"
#include "main/frmAbout.h"
#include "main/translation.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "signin/signin.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(orvanta::appTitle());
    QApplication::setApplicationVersion(orvanta::versionText());
    orvanta::installGermanTranslation(app);

    platform::setCommandLine(QApplication::arguments().mid(1).join(u' '));
    cacheapi::setTerminateHandler([] {
        // Ende has unloaded every window and every setting is written through.
        std::fflush(nullptr);
        std::_Exit(0);
    });

    signin::install();

    FMStart *start = cacheapi::form<FMStart>();
    if (!start->Form_Load())
        return 0;
    start->show();
    return QApplication::exec();
}
