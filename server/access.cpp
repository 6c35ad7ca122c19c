#include "server/access.h"

#include <QCborArray>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace server::access {

namespace {

QString lower(const wire::Request &request, QLatin1StringView key) { return request.text(key).toLower(); }

// The M lines the session sends while it connects and signs in, exactly in the form it sends
// them; tenant and branch are the ones typed, so they may be any plain word or number.
bool signInLine(const QString &line)
{
    static const QRegularExpression lines[] = {
        QRegularExpression(u"^S P0=\\$P\\(\\^FA\\(0\\),\"`\",2\\) W P0$"_s),
        QRegularExpression(u"^D \\^%XTT$"_s),
        QRegularExpression(u"^S \\^STAND\\(\\$J\\)=\"[^\"]*\"$"_s),
        QRegularExpression(u"^S FIRMA=[A-Za-z0-9.%]*,FIL=[A-Za-z0-9.%]*,PERSONAL=\"[^\"]*\"$"_s),
    };
    for (const QRegularExpression &re : lines)
        if (re.match(line).hasMatch())
            return true;
    return false;
}

bool personnelClass(const QString &cls)
{
    return cls == u"vr.parpersedv"_s || cls == u"vr.parpersabt"_s || cls == u"vr.persbasis"_s;
}

} // namespace

bool isPasswordCheck(const QString &op, const wire::Request &request)
{
    return op == u"query"_s && lower(request, "cls"_L1) == u"vr.parpersedv"_s
           && lower(request, "q"_L1) == u"userviapasswort"_s;
}

bool openBeforeSignIn(const QString &op, const wire::Request &request)
{
    // Result sets a connection has can only come from the queries below.
    if (op == u"next"_s || op == u"close"_s)
        return true;
    const QString cls = lower(request, "cls"_L1);
    if (op == u"open"_s)
        return cls == u"vr.kassasw"_s || personnelClass(cls);
    if (op == u"query"_s)
        return (cls == u"vr.kassasw"_s && lower(request, "q"_L1) == u"connstrg"_s) || isPasswordCheck(op, request);
    // The server list saves the entry it shows; it never makes one.
    if (op == u"save"_s)
        return cls == u"vr.kassasw"_s && !request.value("id"_L1).isNull() && !request.value("id"_L1).isUndefined();
    // Display forms of other values than the opened ones; no stored value is read.
    if (op == u"icall"_s)
        return (cls == u"vr.kassasw"_s || personnelClass(cls)) && lower(request, "m"_L1).endsWith(u"logicaltoodbc"_s)
               && request.value("a"_L1).toArray().size() == 1;
    if (op == u"call"_s) {
        if (cls == u"ruzavavir.menue"_s)
            return true;
        const QCborArray args = request.value("a"_L1).toArray();
        return cls == u"vr.windows"_s && lower(request, "m"_L1) == u"xecute"_s && args.size() == 1
               && args.at(0).isString() && signInLine(args.at(0).toString());
    }
    return false;
}

QString describe(const QString &op, const wire::Request &request)
{
    QString what = op;
    for (QLatin1StringView key : {"cls"_L1, "m"_L1, "q"_L1}) {
        if (request.isText(key))
            what += u' ' + request.text(key).left(100);
    }
    return what;
}

QString refusal(const QString &op, const wire::Request &request)
{
    return u"Anmeldung erforderlich: '"_s + describe(op, request)
           + u"' ist erst nach der Anmeldung mit Personalcode und Passwort erlaubt"_s;
}

} // namespace server::access
