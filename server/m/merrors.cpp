#include "server/m/merrors.h"

using namespace Qt::StringLiterals;

namespace server::m {

namespace {

QString errorName(int code)
{
    switch (code) {
    case ErrorCode::Syntax: return u"<SYNTAX>"_s;
    case ErrorCode::Undefined: return u"<UNDEFINED>"_s;
    case ErrorCode::Command: return u"<COMMAND>"_s;
    case ErrorCode::Function: return u"<FUNCTION>"_s;
    case ErrorCode::Subscript: return u"<SUBSCRIPT>"_s;
    case ErrorCode::NoRoutine: return u"<NOROUTINE>"_s;
    case ErrorCode::Divide: return u"<DIVIDE>"_s;
    case ErrorCode::MaxString: return u"<MAXSTRING>"_s;
    case ErrorCode::Transaction: return u"<TRANSACTION>"_s;
    case ErrorCode::NoLine: return u"<NOLINE>"_s;
    case ErrorCode::MaxNumber: return u"<MAXNUMBER>"_s;
    case ErrorCode::Select: return u"<SELECT>"_s;
    case ErrorCode::Store: return u"<STORE>"_s;
    case ErrorCode::IllegalValue: return u"<ILLEGAL VALUE>"_s;
    }
    return u"<ERROR>"_s;
}

} // namespace

void raise(int code, const QString &detail)
{
    QString text = errorName(code);
    if (!detail.isEmpty())
        text += u' ' + detail;
    throw factory::Error(code, text);
}

QString excerpt(const QString &text, qsizetype max)
{
    if (text.size() <= max)
        return text;
    return text.left(max) + u"..."_s;
}

QString formatReference(bool global, const QString &name, const QStringList &subscripts)
{
    QString out = global ? u"^"_s + name : name;
    if (subscripts.isEmpty())
        return out;
    out += u'(';
    for (qsizetype i = 0; i < subscripts.size(); ++i) {
        if (i > 0)
            out += u',';
        const QString &s = subscripts[i];
        if (isCanonicNumber(s)) {
            out += s;
        } else {
            QString quoted = excerpt(s);
            quoted.replace(u'"', u"\"\""_s);
            out += u'"' + quoted + u'"';
        }
    }
    out += u')';
    return out;
}

} // namespace server::m
