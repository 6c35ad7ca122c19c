#include "server/access.h"

#include <QCborArray>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace server::access {

namespace {

// The request's text under `key` as it came: every call before a sign-in passes here, and a
// QString of each name would cost more than the check. Empty unless the value is a text in
// one piece, as the session sends every name.
QLatin1StringView textOf(const wire::Request &request, QLatin1StringView key)
{
    const QByteArrayView utf8 = request.plainText(key);
    return QLatin1StringView(utf8.data(), utf8.size());
}

// Compared as Latin-1, in any case: bytes of characters beyond ASCII never fold to an ASCII letter.
bool is(QLatin1StringView text, QLatin1StringView word)
{
    return text.compare(word, Qt::CaseInsensitive) == 0;
}

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

bool personnelClass(QLatin1StringView cls)
{
    return is(cls, "vr.parpersedv"_L1) || is(cls, "vr.parpersabt"_L1) || is(cls, "vr.persbasis"_L1);
}

} // namespace

bool isPasswordCheck(const QString &op, const wire::Request &request)
{
    return op == "query"_L1 && is(textOf(request, "cls"_L1), "vr.parpersedv"_L1)
           && is(textOf(request, "q"_L1), "userviapasswort"_L1);
}

bool openBeforeSignIn(const QString &op, const wire::Request &request)
{
    // Result sets a connection has can only come from the queries below.
    if (op == "next"_L1 || op == "close"_L1)
        return true;
    const QLatin1StringView cls = textOf(request, "cls"_L1);
    const bool serverList = is(cls, "vr.kassasw"_L1);
    if (op == "open"_L1)
        return serverList || personnelClass(cls);
    if (op == "query"_L1)
        return (serverList && is(textOf(request, "q"_L1), "connstrg"_L1)) || isPasswordCheck(op, request);
    // The server list saves the entry it shows; it never makes one.
    if (op == "save"_L1)
        return serverList && !request.value("id"_L1).isNull() && !request.value("id"_L1).isUndefined();
    // Display forms of other values than the opened ones; no stored value is read.
    if (op == "icall"_L1)
        return (serverList || personnelClass(cls))
               && textOf(request, "m"_L1).endsWith("logicaltoodbc"_L1, Qt::CaseInsensitive)
               && request.value("a"_L1).toArray().size() == 1;
    if (op == "call"_L1) {
        if (is(cls, "ruzavavir.menue"_L1))
            return true;
        const QCborArray args = request.value("a"_L1).toArray();
        return is(cls, "vr.windows"_L1) && is(textOf(request, "m"_L1), "xecute"_L1) && args.size() == 1
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
