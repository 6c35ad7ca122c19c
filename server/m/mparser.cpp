#include "server/m/mparser.h"

#include "server/m/merrors.h"
#include "server/m/mnumber.h"

using namespace Qt::StringLiterals;

namespace server::m {

namespace {

// Parentheses, subscripts and function arguments nest no deeper than this; it keeps the
// recursion of parsing, running and freeing a line far inside any thread's stack.
constexpr int MaxDepth = 120;

bool isLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
}

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

struct CommandName
{
    QStringView abbreviation;
    QStringView full;
    Command::Kind kind;
};

constexpr CommandName Commands[] = {
    {u"S", u"SET", Command::Kind::Set},
    {u"W", u"WRITE", Command::Kind::Write},
    {u"K", u"KILL", Command::Kind::Kill},
    {u"D", u"DO", Command::Kind::Do},
    {u"Q", u"QUIT", Command::Kind::Quit},
    {u"I", u"IF", Command::Kind::If},
    {u"E", u"ELSE", Command::Kind::Else},
    {u"TS", u"TSTART", Command::Kind::TStart},
    {u"TC", u"TCOMMIT", Command::Kind::TCommit},
    {u"TRO", u"TROLLBACK", Command::Kind::TRollback},
};

struct FunctionName
{
    QStringView abbreviation;
    QStringView full;
    Function function;
    int minArgs;
    int maxArgs;
    bool variableFirst;
};

constexpr int Unlimited = 1 << 20;
constexpr FunctionName Functions[] = {
    {u"A", u"ASCII", Function::Ascii, 1, 2, false},
    {u"C", u"CHAR", Function::Char, 1, Unlimited, false},
    {u"D", u"DATA", Function::Data, 1, 1, true},
    {u"E", u"EXTRACT", Function::Extract, 1, 3, false},
    {u"F", u"FIND", Function::Find, 2, 3, false},
    {u"G", u"GET", Function::Get, 1, 2, true},
    {u"J", u"JUSTIFY", Function::Justify, 2, 3, false},
    {u"L", u"LENGTH", Function::Length, 1, 2, false},
    {u"O", u"ORDER", Function::Order, 1, 2, true},
    {u"P", u"PIECE", Function::Piece, 2, 4, false},
    {u"S", u"SELECT", Function::Select, 1, Unlimited, false},
    {u"TR", u"TRANSLATE", Function::Translate, 2, 3, false},
};

struct SpecialName
{
    QStringView abbreviation;
    QStringView full;
    Special special;
};

constexpr SpecialName Specials[] = {
    {u"J", u"JOB", Special::Job},
    {u"T", u"TEST", Special::Test},
    {u"H", u"HOROLOG", Special::Horolog},
    {u"TL", u"TLEVEL", Special::TLevel},
};

template<typename Table>
auto lookup(const Table &table, const QString &upper) -> decltype(&table[0])
{
    for (const auto &entry : table) {
        if (upper == entry.abbreviation || upper == entry.full)
            return &entry;
    }
    return nullptr;
}

QString argumentRange(int min, int max)
{
    if (max == Unlimited)
        return u"mindestens %1 Argument(e)"_s.arg(min);
    if (min == max)
        return u"%1 Argument(e)"_s.arg(min);
    return u"%1 bis %2 Argumente"_s.arg(min).arg(max);
}

} // namespace

struct Parser::DepthGuard
{
    explicit DepthGuard(Parser &p) : parser(p)
    {
        if (++parser.m_depth > MaxDepth)
            parser.syntax(u"zu tief verschachtelt"_s);
    }
    ~DepthGuard() { --parser.m_depth; }
    Parser &parser;
};

QChar Parser::peek(qsizetype ahead) const
{
    const qsizetype p = m_pos + ahead;
    return p < m_src.size() ? m_src[p] : QChar();
}

bool Parser::accept(QChar c)
{
    if (!atEnd() && m_src[m_pos] == c) {
        ++m_pos;
        return true;
    }
    return false;
}

void Parser::expect(QChar c)
{
    if (!accept(c))
        syntax(u"'%1' erwartet"_s.arg(c));
}

void Parser::syntax(const QString &reason) const
{
    QString where;
    if (atEnd())
        where = u"am Zeilenende"_s;
    else
        where = u"bei \"%1\""_s.arg(excerpt(m_src.mid(m_pos).left(41).toString(), 20));
    raise(ErrorCode::Syntax, u"Zeichen %1: %2 %3"_s.arg(m_pos + 1).arg(reason, where));
}

Line Parser::parse()
{
    Line line;
    while (accept(u' ')) {
    }
    while (!atEnd()) {
        if (peek() == u';')
            break; // comment
        line.commands.push_back(parseCommand());
        if (atEnd())
            break;
        if (peek() != u' ')
            syntax(u"Leerzeichen oder Zeilenende erwartet"_s);
        while (accept(u' ')) {
        }
    }
    return line;
}

Command Parser::parseCommand()
{
    const qsizetype start = m_pos;
    while (!atEnd() && isLetter(peek()))
        ++m_pos;
    const QString word = m_src.mid(start, m_pos - start).toString().toUpper();
    if (word.isEmpty())
        syntax(u"Befehl erwartet"_s);
    const CommandName *name = lookup(Commands, word);
    if (!name)
        raise(ErrorCode::Command, word);

    Command cmd;
    cmd.kind = name->kind;
    if (accept(u':'))
        cmd.postcondition = parseExpr();
    if (!atEnd()) {
        if (peek() != u' ')
            syntax(u"Leerzeichen erwartet"_s);
        // one blank and something else: arguments; two blanks or a comment: none
        if (peek(1) != QChar() && peek(1) != u' ' && peek(1) != u';') {
            ++m_pos;
            parseArguments(cmd);
            return cmd;
        }
    }

    // argumentless
    switch (cmd.kind) {
    case Command::Kind::Set:
    case Command::Kind::Write:
    case Command::Kind::Do:
        syntax(u"%1 braucht ein Argument"_s.arg(name->full));
    default:
        break;
    }
    return cmd;
}

void Parser::parseArguments(Command &cmd)
{
    switch (cmd.kind) {
    case Command::Kind::Set:
        do {
            SetArgument arg;
            if (accept(u'(')) {
                do {
                    arg.targets.push_back(parseSetTarget());
                } while (accept(u','));
                expect(u')');
            } else {
                arg.targets.push_back(parseSetTarget());
            }
            expect(u'=');
            arg.value = parseExpr();
            cmd.sets.push_back(std::move(arg));
        } while (accept(u','));
        break;
    case Command::Kind::Write:
        parseWriteArguments(cmd);
        break;
    case Command::Kind::Kill:
        parseKillArguments(cmd);
        break;
    case Command::Kind::Do:
        parseDoArguments(cmd);
        break;
    case Command::Kind::If:
        do {
            cmd.conditions.push_back(parseExpr());
        } while (accept(u','));
        break;
    case Command::Kind::Quit:
        raise(ErrorCode::Command, u"QUIT mit Argument"_s);
    case Command::Kind::Else:
        syntax(u"ELSE hat keine Argumente"_s);
    case Command::Kind::TStart:
        syntax(u"TSTART hat hier keine Argumente"_s);
    case Command::Kind::TCommit:
        syntax(u"TCOMMIT hat keine Argumente"_s);
    case Command::Kind::TRollback:
        syntax(u"TROLLBACK hat hier keine Argumente"_s);
    }
}

SetTarget Parser::parseSetTarget()
{
    SetTarget target;
    if (peek() != u'$') {
        target.var = parseVarRef();
        return target;
    }
    ++m_pos;
    const qsizetype start = m_pos;
    while (!atEnd() && isLetter(peek()))
        ++m_pos;
    const QString name = m_src.mid(start, m_pos - start).toString().toUpper();
    int minArgs = 0;
    int maxArgs = 0;
    QString full;
    if (name == u"P"_s || name == u"PIECE"_s) {
        target.kind = SetTarget::Kind::Piece;
        minArgs = 1;
        maxArgs = 3;
        full = u"$PIECE"_s;
    } else if (name == u"E"_s || name == u"EXTRACT"_s) {
        target.kind = SetTarget::Kind::Extract;
        minArgs = 0;
        maxArgs = 2;
        full = u"$EXTRACT"_s;
    } else {
        m_pos = start - 1;
        syntax(u"links vom = stehen nur Variablen, $PIECE und $EXTRACT"_s);
    }
    expect(u'(');
    target.var = parseVarRef();
    while (accept(u','))
        target.args.push_back(parseExpr());
    expect(u')');
    const int count = int(target.args.size());
    if (count < minArgs || count > maxArgs)
        raise(ErrorCode::Function, u"%1: %2"_s.arg(full, argumentRange(minArgs + 1, maxArgs + 1)));
    return target;
}

void Parser::parseWriteArguments(Command &cmd)
{
    do {
        const QChar c = peek();
        if (c == u'!' || c == u'#' || c == u'?') {
            while (!atEnd() && (peek() == u'!' || peek() == u'#' || peek() == u'?')) {
                if (peek() == u'#')
                    syntax(u"WRITE # (Seitenvorschub) wird nicht unterstützt"_s);
                WriteItem item;
                if (accept(u'!')) {
                    item.kind = WriteItem::Kind::NewLine;
                } else {
                    ++m_pos;
                    item.kind = WriteItem::Kind::Tab;
                    item.expr = parseExpr();
                }
                cmd.writes.push_back(std::move(item));
            }
        } else if (accept(u'*')) {
            WriteItem item;
            item.kind = WriteItem::Kind::CharCode;
            item.expr = parseExpr();
            cmd.writes.push_back(std::move(item));
        } else {
            WriteItem item;
            item.expr = parseExpr();
            cmd.writes.push_back(std::move(item));
        }
    } while (accept(u','));
}

void Parser::parseKillArguments(Command &cmd)
{
    if (accept(u'(')) {
        cmd.killExclusive = true;
        do {
            if (peek() == u'^')
                syntax(u"nur lokale Variablen in KILL (...)"_s);
            VarRef ref;
            ref.name = parseName();
            cmd.kills.push_back(std::move(ref));
        } while (accept(u','));
        expect(u')');
        return;
    }
    do {
        cmd.kills.push_back(parseVarRef());
    } while (accept(u','));
}

void Parser::parseDoArguments(Command &cmd)
{
    do {
        if (peek() == u'@')
            syntax(u"Indirektion wird nicht unterstützt"_s);
        if (accept(u'^')) {
            const qsizetype start = m_pos;
            if (!atEnd() && (peek() == u'%' || isLetter(peek())))
                ++m_pos;
            else
                syntax(u"Routinenname erwartet"_s);
            while (!atEnd() && (isLetter(peek()) || isDigit(peek()) || peek() == u'.'))
                ++m_pos;
            cmd.routines.push_back(m_src.mid(start, m_pos - start).toString());
            if (peek() == u'(')
                syntax(u"Parameter werden nicht unterstützt"_s);
            if (peek() == u':')
                syntax(u"Bedingungen an DO-Argumenten werden nicht unterstützt"_s);
            continue;
        }
        // label, label+offset or label^routine: a command line has no lines to go to
        const qsizetype start = m_pos;
        while (!atEnd() && (isLetter(peek()) || isDigit(peek()) || peek() == u'%' || peek() == u'+'
                            || peek() == u'^' || peek() == u'.'))
            ++m_pos;
        if (m_pos == start)
            syntax(u"Routine erwartet"_s);
        raise(ErrorCode::NoLine, m_src.mid(start, m_pos - start).toString());
    } while (accept(u','));
}

QString Parser::parseName()
{
    const qsizetype start = m_pos;
    if (!atEnd() && (peek() == u'%' || isLetter(peek())))
        ++m_pos;
    else
        syntax(u"Variable erwartet"_s);
    while (!atEnd() && (isLetter(peek()) || isDigit(peek())))
        ++m_pos;
    return m_src.mid(start, m_pos - start).toString();
}

VarRef Parser::parseVarRef()
{
    VarRef ref;
    if (peek() == u'@')
        syntax(u"Indirektion wird nicht unterstützt"_s);
    if (accept(u'^')) {
        ref.global = true;
        if (peek() == u'(')
            syntax(u"nackte Referenzen werden nicht unterstützt"_s);
        if (peek() == u'[' || peek() == u'|')
            syntax(u"erweiterte Referenzen werden nicht unterstützt"_s);
    }
    ref.name = parseName();
    if (accept(u'(')) {
        do {
            ref.subscripts.push_back(parseExpr());
        } while (accept(u','));
        expect(u')');
    }
    return ref;
}

ExprPtr Parser::parseExpr()
{
    DepthGuard guard(*this);
    ExprPtr first = parseAtom();
    auto op = takeBinaryOp();
    if (!op)
        return first;
    auto chain = std::make_unique<Expr>();
    chain->kind = Expr::Kind::Chain;
    chain->operand = std::move(first);
    while (op) {
        BinaryStep step;
        step.op = op->first;
        step.negated = op->second;
        step.operand = parseAtom();
        chain->steps.push_back(std::move(step));
        op = takeBinaryOp();
    }
    return chain;
}

std::optional<std::pair<BinaryOp, bool>> Parser::takeBinaryOp()
{
    qsizetype p = m_pos;
    bool negated = false;
    if (p < m_src.size() && m_src[p] == u'\'') {
        negated = true;
        ++p;
    }
    if (p >= m_src.size())
        return std::nullopt;
    const QChar c = m_src[p];
    const QChar next = p + 1 < m_src.size() ? m_src[p + 1] : QChar();
    BinaryOp op;
    bool relational = true;
    qsizetype length = 1;
    switch (c.unicode()) {
    case u'_': op = BinaryOp::Concat; relational = false; break;
    case u'+': op = BinaryOp::Add; relational = false; break;
    case u'-': op = BinaryOp::Subtract; relational = false; break;
    case u'*':
        if (next == u'*') {
            m_pos = p;
            syntax(u"Potenzieren (**) wird nicht unterstützt"_s);
        }
        op = BinaryOp::Multiply;
        relational = false;
        break;
    case u'/': op = BinaryOp::Divide; relational = false; break;
    case u'\\': op = BinaryOp::IntDivide; relational = false; break;
    case u'#': op = BinaryOp::Modulo; relational = false; break;
    case u'=': op = BinaryOp::Equal; break;
    case u'<': op = BinaryOp::Less; break;
    case u'>': op = BinaryOp::Greater; break;
    case u'&': op = BinaryOp::And; break;
    case u'!': op = BinaryOp::Or; break;
    case u'[': op = BinaryOp::Contains; break;
    case u']':
        if (next == u']') {
            op = BinaryOp::SortsAfter;
            length = 2;
        } else {
            op = BinaryOp::Follows;
        }
        break;
    case u'?':
        m_pos = p;
        syntax(u"Mustervergleich (?) wird nicht unterstützt"_s);
    default:
        return std::nullopt;
    }
    if (negated && !relational)
        return std::nullopt;
    m_pos = p + length;
    return std::make_pair(op, negated);
}

ExprPtr Parser::parseAtom()
{
    QString unary;
    while (!atEnd() && (peek() == u'+' || peek() == u'-' || peek() == u'\'')) {
        unary += peek();
        ++m_pos;
    }
    ExprPtr primary = parsePrimary();
    if (unary.isEmpty())
        return primary;
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Unary;
    e->unaryOps = unary;
    e->operand = std::move(primary);
    return e;
}

ExprPtr Parser::parsePrimary()
{
    if (atEnd())
        syntax(u"Ausdruck erwartet"_s);
    const QChar c = peek();
    if (c == u'"')
        return parseString();
    if (isDigit(c) || (c == u'.' && isDigit(peek(1))))
        return parseNumber();
    if (c == u'(') {
        ++m_pos;
        ExprPtr inner = parseExpr();
        expect(u')');
        return inner;
    }
    if (c == u'$')
        return parseDollar();
    if (c == u'^' || c == u'%' || isLetter(c) || c == u'@') {
        auto e = std::make_unique<Expr>();
        e->kind = Expr::Kind::Variable;
        e->var = parseVarRef();
        return e;
    }
    syntax(u"Ausdruck erwartet"_s);
}

ExprPtr Parser::parseString()
{
    const qsizetype open = m_pos;
    ++m_pos;
    QString text;
    for (;;) {
        const qsizetype close = m_src.indexOf(u'"', m_pos);
        if (close < 0) {
            m_pos = open;
            syntax(u"Zeichenkette nicht abgeschlossen"_s);
        }
        text += m_src.mid(m_pos, close - m_pos);
        m_pos = close + 1;
        if (peek() != u'"')
            break;
        text += u'"';
        ++m_pos;
    }
    auto e = std::make_unique<Expr>();
    e->text = text;
    return e;
}

ExprPtr Parser::parseNumber()
{
    const qsizetype start = m_pos;
    while (isDigit(peek()))
        ++m_pos;
    if (peek() == u'.') {
        ++m_pos;
        while (isDigit(peek()))
            ++m_pos;
    }
    if (peek() == u'E') {
        qsizetype p = m_pos + 1;
        if (p < m_src.size() && (m_src[p] == u'+' || m_src[p] == u'-'))
            ++p;
        if (p < m_src.size() && isDigit(m_src[p])) {
            m_pos = p;
            while (isDigit(peek()))
                ++m_pos;
        }
    }
    const QStringView literal = m_src.mid(start, m_pos - start);
    const Number n = Number::fromText(literal);
    if (n.tooLarge())
        raise(ErrorCode::MaxNumber, excerpt(literal.toString()));
    auto e = std::make_unique<Expr>();
    e->text = n.canonic();
    return e;
}

ExprPtr Parser::parseDollar()
{
    const qsizetype start = m_pos;
    ++m_pos;
    if (accept(u'$')) {
        while (!atEnd() && (isLetter(peek()) || isDigit(peek()) || peek() == u'%' || peek() == u'^'))
            ++m_pos;
        raise(ErrorCode::Function,
              m_src.mid(start, m_pos - start).toString() + u" (eigene Funktionen gibt es hier nicht)"_s);
    }
    const qsizetype nameStart = m_pos;
    while (!atEnd() && (isLetter(peek()) || isDigit(peek())))
        ++m_pos;
    const QString name = m_src.mid(nameStart, m_pos - nameStart).toString().toUpper();
    if (name.isEmpty()) {
        m_pos = start;
        syntax(u"Funktionsname erwartet"_s);
    }

    auto e = std::make_unique<Expr>();
    if (peek() != u'(') {
        const SpecialName *special = lookup(Specials, name);
        if (!special) {
            m_pos = start;
            syntax(u"unbekannte Systemvariable $%1"_s.arg(name));
        }
        e->kind = Expr::Kind::Special;
        e->special = special->special;
        return e;
    }

    const FunctionName *fn = lookup(Functions, name);
    if (!fn)
        raise(ErrorCode::Function, u"$"_s + name);
    ++m_pos; // (
    e->kind = Expr::Kind::Function;
    e->function = fn->function;
    int count = 0;
    if (fn->function == Function::Select) {
        do {
            e->args.push_back(parseExpr());
            expect(u':');
            e->args.push_back(parseExpr());
            ++count;
        } while (accept(u','));
    } else {
        if (fn->variableFirst) {
            e->var = parseVarRef();
            ++count;
        } else {
            e->args.push_back(parseExpr());
            ++count;
        }
        while (accept(u',')) {
            e->args.push_back(parseExpr());
            ++count;
        }
    }
    expect(u')');
    const QString fullName = u"$"_s + fn->full.toString();
    if (count < fn->minArgs || count > fn->maxArgs)
        raise(ErrorCode::Function, u"%1: %2"_s.arg(fullName, argumentRange(fn->minArgs, fn->maxArgs)));
    if (fn->function == Function::Order && e->var.subscripts.empty())
        raise(ErrorCode::Function, u"$ORDER braucht eine Variable mit Index"_s);
    return e;
}

} // namespace server::m
