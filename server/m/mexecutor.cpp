#include "server/m/mexecutor.h"

#include "server/m/merrors.h"
#include "server/m/mstrings.h"

#include <QDateTime>

using namespace Qt::StringLiterals;

namespace server::m {

namespace {

// Characters one line may create or scan: a line of 100 000 characters working on strings of
// the largest size must come to an end in a second or so, not occupy its job for minutes.
constexpr qint64 WorkLimit = 512LL * 1024 * 1024;
// Characters of new strings one line may make: with the locals, this bounds the memory a
// line can take (about 256 MiB), including old values kept to undo the line.
constexpr qint64 CreateLimit = 128LL * 1024 * 1024;
// Characters all locals of a job may hold.
constexpr qint64 LocalsLimit = 32LL * 1024 * 1024;

QString boolText(bool b)
{
    return b ? u"1"_s : u"0"_s;
}

QString operatorText(BinaryOp op)
{
    switch (op) {
    case BinaryOp::Divide: return u"/"_s;
    case BinaryOp::IntDivide: return u"\\"_s;
    case BinaryOp::Modulo: return u"#"_s;
    default: return {};
    }
}

} // namespace

Executor::Executor(Locals &locals, bool &test, Environment &env)
    : m_locals(locals), m_test(test), m_testBefore(test), m_env(env)
{
}

void Executor::run(const Line &line)
{
    for (const Command &cmd : line.commands) {
        if (!runCommand(cmd))
            return;
    }
}

void Executor::undo()
{
    m_locals.undo();
    m_test = m_testBefore;
    m_out.clear();
}

void Executor::checkFootprint() const
{
    if (m_locals.changed() && m_locals.footprint() > LocalsLimit)
        raise(ErrorCode::Store, u"lokale Variablen belegen mehr als %1 Zeichen"_s.arg(LocalsLimit));
}

void Executor::charge(qint64 work, qint64 created)
{
    m_work += work;
    m_created += created;
    if (m_work > WorkLimit)
        raise(ErrorCode::Store, u"die Zeile verarbeitet mehr als %1 Zeichen"_s.arg(WorkLimit));
    if (m_created > CreateLimit)
        raise(ErrorCode::Store, u"die Zeile erzeugt mehr als %1 Zeichen"_s.arg(CreateLimit));
    if (const QString why = m_env.interruption(); !why.isEmpty())
        raise(ErrorCode::Store, why);
}

void Executor::write(const QString &text)
{
    if (m_out.size() + text.size() > MaxStringLength)
        raise(ErrorCode::MaxString, u"Ausgabe länger als %1 Zeichen"_s.arg(MaxStringLength));
    m_out += text;
    const qsizetype nl = text.lastIndexOf(u'\n');
    m_column = nl < 0 ? m_column + text.size() : text.size() - nl - 1;
}

bool Executor::runCommand(const Command &cmd)
{
    charge(0);
    if (cmd.postcondition && !truth(eval(*cmd.postcondition)))
        return true;
    switch (cmd.kind) {
    case Command::Kind::Set:
        runSet(cmd);
        break;
    case Command::Kind::Write:
        runWrite(cmd);
        break;
    case Command::Kind::Kill:
        runKill(cmd);
        break;
    case Command::Kind::Do:
        for (const QString &routine : cmd.routines) {
            QString out;
            if (!m_env.runRoutine(routine, out))
                raise(ErrorCode::NoRoutine, u"^"_s + routine);
            write(out);
        }
        break;
    case Command::Kind::Quit:
        return false;
    case Command::Kind::If:
        if (cmd.conditions.empty())
            return m_test;
        for (const ExprPtr &condition : cmd.conditions) {
            m_test = truth(eval(*condition));
            if (!m_test)
                return false;
        }
        break;
    case Command::Kind::Else:
        return !m_test;
    case Command::Kind::TStart:
        m_env.transactionStart();
        break;
    case Command::Kind::TCommit:
        if (m_env.transactionLevel() <= 0)
            raise(ErrorCode::Transaction, u"TCOMMIT ohne TSTART"_s);
        m_env.transactionCommit();
        break;
    case Command::Kind::TRollback:
        // without a transaction there is nothing to undo; a cleanup TROLLBACK must not fail
        if (m_env.transactionLevel() > 0)
            m_env.transactionRollback();
        break;
    }
    return true;
}

void Executor::runSet(const Command &cmd)
{
    struct Resolved
    {
        const SetTarget *target = nullptr;
        QStringList subs;
        QString delimiter;
        qint64 from = 1;
        qint64 to = 1;
    };
    for (const SetArgument &arg : cmd.sets) {
        std::vector<Resolved> targets;
        for (const SetTarget &t : arg.targets) {
            Resolved r;
            r.target = &t;
            r.subs = subscripts(t.var);
            if (t.kind == SetTarget::Kind::Piece) {
                r.delimiter = eval(*t.args[0]);
                r.from = t.args.size() > 1 ? integer(*t.args[1]) : 1;
                r.to = t.args.size() > 2 ? integer(*t.args[2]) : r.from;
            } else if (t.kind == SetTarget::Kind::Extract) {
                r.from = !t.args.empty() ? integer(*t.args[0]) : 1;
                r.to = t.args.size() > 1 ? integer(*t.args[1]) : r.from;
            }
            targets.push_back(std::move(r));
        }
        const QString value = eval(*arg.value);
        for (const Resolved &r : targets) {
            const VarRef &var = r.target->var;
            switch (r.target->kind) {
            case SetTarget::Kind::Variable:
                store(var, r.subs, value);
                break;
            case SetTarget::Kind::Piece: {
                const QString old = fetch(var, r.subs).value_or(QString());
                charge(old.size() + value.size(), old.size() + value.size());
                store(var, r.subs, setPiece(old, r.delimiter, r.from, r.to, value));
                break;
            }
            case SetTarget::Kind::Extract: {
                const QString old = fetch(var, r.subs).value_or(QString());
                charge(old.size() + value.size(), old.size() + value.size());
                store(var, r.subs, setExtract(old, r.from, r.to, value));
                break;
            }
            }
        }
    }
}

void Executor::runWrite(const Command &cmd)
{
    for (const WriteItem &item : cmd.writes) {
        switch (item.kind) {
        case WriteItem::Kind::Expression:
            write(eval(*item.expr));
            break;
        case WriteItem::Kind::NewLine:
            write(u"\r\n"_s);
            break;
        case WriteItem::Kind::Tab: {
            const qint64 column = integer(*item.expr);
            if (column > m_column) {
                if (column - m_column > MaxStringLength)
                    write(QString(MaxStringLength + 1, u' ')); // raises
                write(QString(column - m_column, u' '));
            }
            break;
        }
        case WriteItem::Kind::CharCode: {
            const qint64 code = integer(*item.expr);
            if (code >= 0 && code <= 0xFFFF)
                write(QString(QChar(char16_t(code))));
            break;
        }
        }
    }
}

void Executor::runKill(const Command &cmd)
{
    if (cmd.killExclusive) {
        QStringList keep;
        for (const VarRef &ref : cmd.kills)
            keep << ref.name;
        m_locals.killAllExcept(keep);
        return;
    }
    if (cmd.kills.empty()) {
        m_locals.killAll();
        return;
    }
    for (const VarRef &ref : cmd.kills) {
        const QStringList subs = subscripts(ref);
        if (ref.global)
            m_env.globalKill(ref.name, subs);
        else
            m_locals.kill(ref.name, subs);
    }
}

QStringList Executor::subscripts(const VarRef &ref, bool emptyLastAllowed)
{
    QStringList subs;
    subs.reserve(qsizetype(ref.subscripts.size()));
    for (const ExprPtr &e : ref.subscripts)
        subs << eval(*e);
    for (qsizetype i = 0; i < subs.size(); ++i) {
        if (subs[i].isEmpty() && !(emptyLastAllowed && i == subs.size() - 1))
            raise(ErrorCode::Subscript, formatReference(ref.global, ref.name, subs));
    }
    return subs;
}

std::optional<QString> Executor::fetch(const VarRef &ref, const QStringList &subs)
{
    if (ref.global)
        return m_env.globalGet(ref.name, subs);
    return m_locals.get(ref.name, subs);
}

void Executor::store(const VarRef &ref, const QStringList &subs, const QString &value)
{
    if (ref.global)
        m_env.globalSet(ref.name, subs, value);
    else
        m_locals.set(ref.name, subs, value);
}

Number Executor::number(const QString &text)
{
    qsizetype consumed = 0;
    const Number n = Number::fromText(text, &consumed);
    charge(consumed); // a text of millions of digits is read whole
    if (n.tooLarge())
        raise(ErrorCode::MaxNumber, excerpt(text));
    return n;
}

QString Executor::numberText(const Number &n) const
{
    if (n.tooLarge())
        raise(ErrorCode::MaxNumber, u"Ergebnis größer als 1E146"_s);
    return n.canonic();
}

bool Executor::truth(const QString &text)
{
    qsizetype consumed = 0;
    const bool zero = Number::fromText(text, &consumed).isZero();
    charge(consumed);
    return !zero;
}

qint64 Executor::integer(const Expr &e)
{
    const QString text = eval(e);
    qsizetype consumed = 0;
    const qint64 value = Number::fromText(text, &consumed).toInt();
    charge(consumed);
    return value;
}

QString Executor::eval(const Expr &e)
{
    switch (e.kind) {
    case Expr::Kind::Constant:
        return e.text;
    case Expr::Kind::Variable: {
        const QStringList subs = subscripts(e.var);
        std::optional<QString> value = fetch(e.var, subs);
        if (!value)
            raise(ErrorCode::Undefined, formatReference(e.var.global, e.var.name, subs));
        return *value;
    }
    case Expr::Kind::Special:
        return evalSpecial(e.special);
    case Expr::Kind::Function:
        return evalFunction(e);
    case Expr::Kind::Unary:
        return evalUnary(e);
    case Expr::Kind::Chain:
        return evalChain(e);
    }
    return {};
}

QString Executor::evalSpecial(Special special)
{
    switch (special) {
    case Special::Job:
        return QString::number(m_env.jobNumber());
    case Special::Test:
        return boolText(m_test);
    case Special::TLevel:
        return QString::number(m_env.transactionLevel());
    case Special::Horolog: {
        const QDateTime now = QDateTime::currentDateTime();
        const qint64 days = QDate(1840, 12, 31).daysTo(now.date());
        return u"%1,%2"_s.arg(days).arg(now.time().msecsSinceStartOfDay() / 1000);
    }
    }
    return {};
}

QString Executor::evalUnary(const Expr &e)
{
    const QString value = eval(*e.operand);
    Number n;
    bool numeric = false;
    for (qsizetype i = e.unaryOps.size() - 1; i >= 0; --i) {
        const QChar op = e.unaryOps[i];
        if (op == u'\'') {
            const bool t = numeric ? !n.isZero() : truth(value);
            n = Number::fromInt(t ? 0 : 1);
            numeric = true;
            continue;
        }
        if (!numeric) {
            n = number(value);
            numeric = true;
        }
        if (op == u'-')
            n = n.negated();
    }
    return numberText(n);
}

QString Executor::evalChain(const Expr &e)
{
    QString left = eval(*e.operand);
    for (const BinaryStep &step : e.steps) {
        const QString right = eval(*step.operand);
        left = apply(step.op, left, right);
        if (step.negated)
            left = boolText(left == u"0"_s);
    }
    return left;
}

QString Executor::apply(BinaryOp op, const QString &left, const QString &right)
{
    switch (op) {
    case BinaryOp::Concat:
        checkLength(left.size() + right.size());
        charge(left.size() + right.size(), left.size() + right.size());
        return left + right;
    case BinaryOp::Add:
        return numberText(number(left) + number(right));
    case BinaryOp::Subtract:
        return numberText(number(left) - number(right));
    case BinaryOp::Multiply:
        return numberText(number(left) * number(right));
    case BinaryOp::Divide:
    case BinaryOp::IntDivide:
    case BinaryOp::Modulo: {
        const Number a = number(left);
        const Number b = number(right);
        if (b.isZero())
            raise(ErrorCode::Divide, excerpt(left) + operatorText(op) + excerpt(right));
        if (op == BinaryOp::Divide)
            return numberText(Number::divide(a, b));
        if (op == BinaryOp::IntDivide)
            return numberText(Number::integerDivide(a, b));
        return numberText(Number::modulo(a, b));
    }
    case BinaryOp::Equal:
        charge(std::min(left.size(), right.size()));
        return boolText(left == right);
    case BinaryOp::Less:
        return boolText(Number::compare(number(left), number(right)) < 0);
    case BinaryOp::Greater:
        return boolText(Number::compare(number(left), number(right)) > 0);
    case BinaryOp::And:
        return boolText(truth(left) && truth(right));
    case BinaryOp::Or:
        return boolText(truth(left) || truth(right));
    case BinaryOp::Contains:
        charge(left.size() + right.size());
        return boolText(search(left, right) >= 0);
    case BinaryOp::Follows:
        charge(std::min(left.size(), right.size()));
        return boolText(left > right);
    case BinaryOp::SortsAfter:
        charge(std::min(left.size(), right.size()));
        return boolText(collate(left, right) > 0);
    }
    return {};
}

QString Executor::evalFunction(const Expr &e)
{
    const auto &a = e.args;
    switch (e.function) {
    case Function::Ascii: {
        const QString s = eval(*a[0]);
        const qint64 pos = a.size() > 1 ? integer(*a[1]) : 1;
        if (pos < 1 || pos > s.size())
            return u"-1"_s;
        return QString::number(s[pos - 1].unicode());
    }
    case Function::Char: {
        QString out;
        for (const ExprPtr &arg : a) {
            const qint64 code = integer(*arg);
            if (code >= 0 && code <= 0xFFFF)
                out += QChar(char16_t(code));
        }
        return out;
    }
    case Function::Data: {
        const QStringList subs = subscripts(e.var);
        const int d = e.var.global ? m_env.globalData(e.var.name, subs) : m_locals.data(e.var.name, subs);
        return QString::number(d);
    }
    case Function::Extract: {
        const QString s = eval(*a[0]);
        const qint64 from = a.size() > 1 ? integer(*a[1]) : 1;
        const qint64 to = a.size() > 2 ? integer(*a[2]) : from;
        QString out = extract(s, from, to);
        charge(out.size(), out.size());
        return out;
    }
    case Function::Find: {
        const QString s = eval(*a[0]);
        const QString sub = eval(*a[1]);
        const qint64 start = a.size() > 2 ? integer(*a[2]) : 1;
        charge(s.size() + sub.size());
        return QString::number(find(s, sub, start));
    }
    case Function::Get: {
        const QStringList subs = subscripts(e.var);
        if (std::optional<QString> value = fetch(e.var, subs))
            return *value;
        return a.empty() ? QString() : eval(*a[0]);
    }
    case Function::Justify: {
        QString s = eval(*a[0]);
        const qint64 width = integer(*a[1]);
        if (a.size() > 2) {
            const qint64 decimals = integer(*a[2]);
            if (decimals < 0)
                raise(ErrorCode::IllegalValue, u"$JUSTIFY: negative Nachkommastellen"_s);
            checkLength(decimals + 2);
            charge(decimals, decimals);
            s = number(s).fixed(int(decimals));
        }
        if (width > s.size())
            charge(width, width);
        return justify(s, width);
    }
    case Function::Length: {
        const QString s = eval(*a[0]);
        if (a.size() == 1)
            return QString::number(s.size());
        const QString delimiter = eval(*a[1]);
        charge(s.size());
        return QString::number(pieceCount(s, delimiter));
    }
    case Function::Order: {
        const QStringList subs = subscripts(e.var, true);
        int direction = 1;
        if (!a.empty()) {
            const QString d = eval(*a[0]);
            const Number n = Number::fromText(d);
            if (Number::compare(n, Number::fromInt(1)) == 0)
                direction = 1;
            else if (Number::compare(n, Number::fromInt(-1)) == 0)
                direction = -1;
            else
                raise(ErrorCode::Function, u"$ORDER: Richtung 1 oder -1, nicht %1"_s.arg(excerpt(d)));
        }
        if (!e.var.global) {
            qint64 visited = 0;
            QString next = m_locals.order(e.var.name, subs, direction, &visited);
            charge(visited * 16);
            return next;
        }
        const std::optional<QString> next = m_env.globalOrder(e.var.name, subs, direction);
        if (!next)
            raise(ErrorCode::Function, u"$ORDER auf Globals wird nicht unterstützt"_s);
        return *next;
    }
    case Function::Piece: {
        const QString s = eval(*a[0]);
        const QString delimiter = eval(*a[1]);
        const qint64 from = a.size() > 2 ? integer(*a[2]) : 1;
        const qint64 to = a.size() > 3 ? integer(*a[3]) : from;
        charge(s.size() + delimiter.size(), s.size());
        return piece(s, delimiter, from, to);
    }
    case Function::Select:
        for (size_t i = 0; i + 1 < a.size(); i += 2) {
            if (truth(eval(*a[i])))
                return eval(*a[i + 1]);
        }
        raise(ErrorCode::Select, u"$SELECT: keine Bedingung ist wahr"_s);
    case Function::Translate: {
        const QString s = eval(*a[0]);
        const QString from = eval(*a[1]);
        const QString to = a.size() > 2 ? eval(*a[2]) : QString();
        charge(s.size() + from.size(), s.size());
        return translate(s, from, to);
    }
    }
    return {};
}

} // namespace server::m
