// The M interpreter on its own, against a small in-memory job environment.

#include "server/m/mengine.h"
#include "server/m/mstrings.h"

#include <QTest>

#include <map>
#include <vector>

using namespace Qt::StringLiterals;
using namespace server::m;

namespace {

// Globals keyed by name + subscripts; transactions keep snapshots as a real store would.
class MemoryEnvironment final : public Environment
{
public:
    using Store = std::map<QStringList, QString>;
    Store globals;
    std::vector<Store> snapshots;
    QStringList routinesRun;

    int jobNumber() const override { return 7; }
    std::optional<QString> globalGet(const QString &name, const QStringList &subs) override
    {
        auto it = globals.find(key(name, subs));
        if (it == globals.end())
            return std::nullopt;
        return it->second;
    }
    int globalData(const QString &name, const QStringList &subs) override
    {
        const QStringList k = key(name, subs);
        int d = 0;
        for (auto it = globals.lower_bound(k); it != globals.end() && startsWith(it->first, k); ++it)
            d |= it->first.size() == k.size() ? 1 : 10;
        return d == 11 ? 11 : d;
    }
    void globalSet(const QString &name, const QStringList &subs, const QString &value) override
    {
        globals[key(name, subs)] = value;
    }
    void globalKill(const QString &name, const QStringList &subs) override
    {
        const QStringList k = key(name, subs);
        auto it = globals.lower_bound(k);
        while (it != globals.end() && startsWith(it->first, k))
            it = globals.erase(it);
    }
    std::optional<QString> globalOrder(const QString &name, const QStringList &subs, int direction) override
    {
        const QStringList prefix = key(name, subs.mid(0, subs.size() - 1));
        const QString last = subs.last();
        std::optional<QString> best;
        for (const auto &[k, v] : globals) {
            if (!startsWith(k, prefix) || k.size() <= prefix.size())
                continue;
            const QString &s = k[prefix.size()];
            const bool beyond = last.isEmpty() || collate(s, last) * direction > 0;
            if (beyond && (!best || collate(s, *best) * direction < 0))
                best = s;
        }
        return best.value_or(QString());
    }
    void transactionStart() override { snapshots.push_back(globals); }
    void transactionCommit() override { snapshots.pop_back(); }
    void transactionRollback() override
    {
        globals = snapshots.front();
        snapshots.clear();
    }
    int transactionLevel() const override { return int(snapshots.size()); }
    bool runRoutine(const QString &name, QString &out) override
    {
        routinesRun << name;
        if (name == u"%XTT"_s)
            return true;
        if (name == u"HALLO"_s) {
            out = u"Hallo"_s;
            return true;
        }
        return false;
    }

private:
    static QStringList key(const QString &name, const QStringList &subs) { return QStringList{name} + subs; }
    static bool startsWith(const QStringList &k, const QStringList &prefix)
    {
        return k.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), k.begin());
    }
};

struct Outcome
{
    QString output;
    int error = 0;
    QString description;
};

Outcome run(Interpreter &m, MemoryEnvironment &env, const QString &line)
{
    try {
        return {m.execute(line, env), 0, {}};
    } catch (const factory::Error &e) {
        return {{}, e.number(), e.description()};
    }
}

} // namespace

class tst_MEngine : public QObject
{
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void errors_data();
    void errors();
    void failingLineChangesNothing();
    void syntaxErrorRunsNothing();
    void transactions();
    void postconditionAndTest();
    void robustness_data();
    void robustness();
    void arithmetic_data();
    void arithmetic();
    void pieceAndExtractSets_data();
    void pieceAndExtractSets();
    void localsAreBounded();
    void numberHelpers_data();
    void numberHelpers();
    void collation();
};

// Each script runs line by line; every line must succeed; the outputs are concatenated.
void tst_MEngine::lines_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QString>("expected");

    auto add = [](const char *name, QStringList script, const QString &expected) {
        QTest::newRow(name) << script << expected;
    };

    // what the client sends
    add("client session values", {u"S FIRMA=1,FIL=0,PERSONAL=\"ADM\""_s, u"W FIRMA,\"/\",FIL,\"/\",PERSONAL"_s}, u"1/0/ADM"_s);
    add("client location", {u"S ^STAND($J)=\"1\""_s, u"W ^STAND(7)"_s}, u"1"_s);
    add("client routine", {u"D ^%XTT"_s}, u""_s);
    add("client WJ", {u"S ^FA(0)=\"1`2026`Orvanta Handelsgesellschaft mbH\""_s,
                      u"S P0=$P(^FA(0),\"`\",2) W P0"_s}, u"2026"_s);
    add("client transaction", {u"TSTART"_s, u"TCOMMIT"_s, u"TSTART"_s, u"TROLLBACK"_s}, u""_s);

    // commands, their spellings and separators
    add("empty line", {u""_s, u"   "_s, u" ; nur ein Kommentar"_s}, u""_s);
    add("full names, any case", {u"set x=1 write x"_s, u"Set X=2 Write X"_s}, u"12"_s);
    add("several commands", {u"S A=1 S B=2 W A+B W \"!\""_s}, u"3!"_s);
    add("blanks between commands", {u"S A=1   W A"_s}, u"1"_s);
    add("comment after commands", {u"W 1 ; W 2"_s}, u"1"_s);
    add("argumentless with two blanks", {u"S X=1"_s, u"K  W $D(X)"_s}, u"0"_s);
    add("argumentless then comment", {u"Q ;fertig"_s}, u""_s);
    add("set list and multiple targets", {u"S (A,B(1))=5,C=A+B(1) W A,B(1),C"_s}, u"5510"_s);
    add("set piece", {u"S X=\"a^b^c\",$P(X,\"^\",2)=\"B\" W X"_s}, u"a^B^c"_s);
    add("set piece pads", {u"S $P(Y,\"||\",3)=\"c\" W Y"_s}, u"||||c"_s);
    add("set piece range", {u"S X=\"1,2,3,4\",$P(X,\",\",2,3)=\"x\" W X"_s}, u"1,x,4"_s);
    add("set extract", {u"S X=\"Hallo\",$E(X,1)=\"h\",$E(X,8)=\"!\" W X"_s}, u"hallo  !"_s);
    add("kill node and subtree", {u"S A(1)=1,A(1,2)=2,A(2)=3 K A(1) W $D(A(1)),$D(A(1,2)),$D(A(2))"_s}, u"001"_s);
    add("kill exclusive", {u"S A=1,B=2,C=3 K (A,C) W $D(A),$D(B),$D(C)"_s}, u"101"_s);
    add("kill global subtree", {u"S ^G(1)=1,^G(1,2)=2,^G(2)=3 K ^G(1) W $D(^G(1)),$D(^G(2))"_s}, u"01"_s);
    add("quit ends the line", {u"W 1 Q  W 2"_s}, u"1"_s);
    add("if and else", {u"I 1=2 W \"ja\""_s, u"E  W \"nein\""_s, u"I 1,2 W $T"_s}, u"nein1"_s);
    add("do routine", {u"W \"<\" D ^HALLO W \">\""_s}, u"<Hallo>"_s);
    add("write formats", {u"W \"a\",!,\"b\",?4,\"c\",*65"_s}, u"a\r\nb   cA"_s);
    add("write newlines in a row", {u"W !!,1"_s}, u"\r\n\r\n1"_s);

    // expressions: strictly left to right
    add("no precedence", {u"W 2+3*4,\" \",1-2-3,\" \",2*(3+4)"_s}, u"20 -4 14"_s);
    add("unary binds to its operand", {u"W -3+1,\" \",--5,\" \",'0,\" \",-'0"_s}, u"-2 5 1 -1"_s);
    add("division family", {u"W 10/4,\" \",7\\2,\" \",-7\\2,\" \",7#3,\" \",-7#3,\" \",7#-3,\" \",5.5#2"_s},
        u"2.5 3 -3 1 2 -2 1.5"_s);
    add("decimal arithmetic", {u"W .1+.2,\" \",1/3,\" \",2/3,\" \",1.1*1.1"_s},
        u".3 .3333333333333333333 .6666666666666666667 1.21"_s);
    add("long integers stay exact", {u"W 123456789012345678+1,\" \",999999999999999999*10"_s},
        u"123456789012345679 9999999999999999990"_s);
    add("concatenation", {u"W \"a\"_1.50_\"b\"_(1+1)"_s}, u"a1.5b2"_s);
    add("string equality is exact", {u"W 1.0=1,\"1.0\"=1,\"01\"=1,+\"01\"=1"_s}, u"1001"_s);
    add("numeric comparisons", {u"W 10>9,\"10\">\"9\",2<1,-1<0,\"abc\"<1"_s}, u"11011"_s);
    add("negated operators", {u"W 1'=2,1'<2,1'>2,\"abc\"'[\"d\",1'&0,0'!0"_s}, u"101111"_s);
    add("logic", {u"W 1&0,1!0,2&\"3x\",0!\"\""_s}, u"0110"_s);
    add("contains, follows, sorts after", {u"W \"abc\"[\"b\",\"abc\"[\"\",\"b\"]\"a\",\"a\"]\"b\",2]]10,\"a\"]]10"_s},
        u"111001"_s);
    add("quotes doubled", {u"W \"er sagte \"\"ja\"\"\""_s}, u"er sagte \"ja\""_s);

    // canonical numbers
    add("canonical literals", {u"W 1.50,\" \",.5,\" \",-0.5,\" \",007,\" \",1E3,\" \",2.5E-3,\" \",0.0"_s},
        u"1.5 .5 -.5 7 1000 .0025 0"_s);
    add("literal strings stay", {u"W \"1.50\",\" \",\"007\""_s}, u"1.50 007"_s);
    add("numeric interpretation", {u"W +\"1.50\",\" \",+\"12abc\",\" \",+\"abc\",\" \",+\"-+-3\",\" \",+\" 5\",\" \",+\"2E2x\""_s},
        u"1.5 12 0 3 0 200"_s);
    add("large and small", {u"W 1E25,\" \",1E-10"_s}, u"10000000000000000000000000 .0000000001"_s);
    add("numeric subscripts are canonical", {u"S A(1.0)=\"x\",A(\"1.0\")=\"y\" W A(1),A(\"1.0\"),$D(A(\"01\"))"_s}, u"xy0"_s);

    // functions
    add("piece 2 to 4 args", {u"S X=\"a^b^c^d\" W $P(X,\"^\"),$P(X,\"^\",3),$P(X,\"^\",2,3),$P(X,\"^\",9),$P(X,\"^\",0)"_s},
        u"acb^c"_s);
    add("piece with ||", {u"W $P(\"1||ADM\",\"||\",2),\"/\",$P(\"1||ADM\",\"||\",1)"_s}, u"ADM/1"_s);
    add("piece odd cases", {u"W $P(\"abc\",\"\"),\"/\",$P(\"a,,c\",\",\",2),\"/\",$P(\"abc\",\"x\",1),\"/\",$P(\"a,b\",\",\",2,1)"_s},
        u"//abc/"_s);
    add("length", {u"W $L(\"\"),$L(\"abc\"),$L(\"a,b,c\",\",\"),$L(\"\",\",\"),$L(\"abc\",\"\"),$L(\"aaa\",\"aa\")"_s},
        u"033102"_s);
    add("extract", {u"S X=\"Hallo\" W $E(X),$E(X,2),\"/\",$E(X,2,4),\"/\",$E(X,4,99),\"/\",$E(X,0),$E(X,3,2)"_s},
        u"Ha/all/lo/"_s);
    add("get", {u"S A(1)=\"x\" W $G(A(1)),$G(A(2)),$G(A(2),\"d\"),$G(^NIX,\"g\")"_s}, u"xdg"_s);
    add("data", {u"S A=1,B(1)=1,C=1,C(1)=1 W $D(A),\" \",$D(B),\" \",$D(C),\" \",$D(D),\" \",$D(B(1,2))"_s},
        u"1 10 11 0 0"_s);
    add("data of globals", {u"S ^D(1)=1,^D(1,1)=1 W $D(^D),$D(^D(1)),$D(^D(2))"_s}, u"10110"_s);
    add("job", {u"W $J,\" \",$JOB"_s}, u"7 7"_s);
    add("order of locals", {u"S A(2)=1,A(10)=1,A(\"b\")=1,A(\"a\")=1,A(-1)=1 W $O(A(\"\")),\",\",$O(A(-1)),\",\",$O(A(10)),\",\",$O(A(\"b\")),\",\",$O(A(\"\"),-1),\",\",$O(A(2),-1)"_s},
        u"-1,2,a,,b,-1"_s);
    add("order of globals", {u"S ^O(1)=1,^O(2,1)=1 W $O(^O(\"\")),$O(^O(1)),\"/\",$O(^O(2,\"\"))"_s}, u"12/1"_s);
    add("select", {u"W $S(0:\"a\",1=1:\"b\",1:\"c\")"_s}, u"b"_s);
    add("char, ascii, find", {u"W $C(72,105,-1),$A(\"A\"),$A(\"AB\",2),$A(\"\"),\" \",$F(\"abcabc\",\"c\"),$F(\"abcabc\",\"c\",4),$F(\"abc\",\"x\")"_s},
        u"Hi6566-1 470"_s);
    add("justify and translate", {u"W $J(5,3),\"|\",$J(3.14159,7,2),\"|\",$J(.5,0,0),\"|\",$J(-.005,0,2),\"|\",$TR(\"Hallo\",\"al\",\"A\")"_s},
        u"  5|   3.14|1|-0.01|HAo"_s);
    add("special variables", {u"S X=$H W $L(X,\",\"),\" \",$TL"_s}, u"2 0"_s);
}

void tst_MEngine::lines()
{
    QFETCH(QStringList, script);
    QFETCH(QString, expected);
    Interpreter m;
    MemoryEnvironment env;
    QString output;
    for (const QString &line : script) {
        const Outcome o = run(m, env, line);
        QVERIFY2(o.error == 0, qPrintable(line + u" -> "_s + o.description));
        output += o.output;
    }
    QCOMPARE(output, expected);
}

void tst_MEngine::errors_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("description"); // the whole text, or its start when ending in "*"

    auto add = [](const char *name, const QString &line, int error, const QString &description) {
        QTest::newRow(name) << line << error << description;
    };
    add("undefined local", u"W X"_s, 3002, u"<UNDEFINED> X"_s);
    add("undefined node", u"S X(1)=1 W X(1,\"a\")"_s, 3002, u"<UNDEFINED> X(1,\"a\")"_s);
    add("undefined global", u"W ^FA(1)"_s, 3002, u"<UNDEFINED> ^FA(1)"_s);
    add("unknown command", u"FOR I=1:1:3 W I"_s, 3003, u"<COMMAND> FOR"_s);
    add("command prefix is no command", u"SE X=1"_s, 3003, u"<COMMAND> SE"_s);
    add("quit with argument", u"Q 1"_s, 3003, u"<COMMAND> QUIT mit Argument"_s);
    add("unknown function", u"W $ZDATE(1)"_s, 3004, u"<FUNCTION> $ZDATE"_s);
    add("too few arguments", u"W $P(\"a\")"_s, 3004, u"<FUNCTION> $PIECE: 2 bis 4 Argumente"_s);
    add("too many arguments", u"W $E(1,2,3,4)"_s, 3004, u"<FUNCTION> $EXTRACT*"_s);
    add("extrinsic function", u"W $$X^Y"_s, 3004, u"<FUNCTION> $$X^Y*"_s);
    add("order direction", u"S A(1)=1 W $O(A(\"\"),2)"_s, 3004, u"<FUNCTION> $ORDER*"_s);
    add("empty subscript", u"S X(\"\")=1"_s, 3005, u"<SUBSCRIPT> X(\"\")"_s);
    add("empty global subscript", u"W $D(^G(1,\"\"))"_s, 3005, u"<SUBSCRIPT> ^G(1,\"\")"_s);
    add("unknown routine", u"D ^NIXDA"_s, 3006, u"<NOROUTINE> ^NIXDA"_s);
    add("label", u"D TAG^XTT"_s, 3010, u"<NOLINE> TAG^XTT"_s);
    add("divide by zero", u"W 1/0"_s, 3007, u"<DIVIDE> 1/0"_s);
    add("integer divide by zero", u"W 5\\\"abc\""_s, 3007, u"<DIVIDE>*"_s);
    add("modulo by zero", u"W 5#0"_s, 3007, u"<DIVIDE>*"_s);
    add("string too long", u"S X=$J(\"\",3641145)"_s, 3008, u"<MAXSTRING>*"_s);
    add("concatenation too long", u"S X=$J(\"\",3000000) S Y=X_X"_s, 3008, u"<MAXSTRING>*"_s);
    add("commit without start", u"TCOMMIT"_s, 3009, u"<TRANSACTION> TCOMMIT ohne TSTART"_s);
    add("number too large", u"W 1E146"_s, 3011, u"<MAXNUMBER>*"_s);
    add("result too large", u"W 1E145*100"_s, 3011, u"<MAXNUMBER>*"_s);
    add("select without match", u"W $S(0:1)"_s, 3012, u"<SELECT>*"_s);
    add("negative decimals", u"W $J(1,5,-1)"_s, 3014, u"<ILLEGAL VALUE>*"_s);
    add("unterminated string", u"W \"abc"_s, 3001, u"<SYNTAX> Zeichen 3: Zeichenkette nicht abgeschlossen*"_s);
    add("missing parenthesis", u"W (1+2"_s, 3001, u"<SYNTAX>*"_s);
    add("stray character", u"W 1§"_s, 3001, u"<SYNTAX>*"_s);
    add("one blank too few", u"TSTART S X=1"_s, 3001, u"<SYNTAX>*"_s);
    add("argument missing", u"S"_s, 3001, u"<SYNTAX>*"_s);
    add("set without value", u"S X="_s, 3001, u"<SYNTAX>*"_s);
    add("pattern match", u"W X?1N"_s, 3001, u"<SYNTAX>*"_s);
    add("power", u"W 2**3"_s, 3001, u"<SYNTAX>*"_s);
    add("indirection", u"W @X"_s, 3001, u"<SYNTAX>*"_s);
    add("naked reference", u"W ^(1)"_s, 3001, u"<SYNTAX>*"_s);
    add("unknown special variable", u"W $ZV"_s, 3001, u"<SYNTAX>*"_s);
    add("write form feed", u"W #"_s, 3001, u"<SYNTAX>*"_s);
    add("tab is no separator", u"S X=1\tW X"_s, 3001, u"<SYNTAX>*"_s);
    add("less or equal", u"W 1<=2"_s, 3001, u"<SYNTAX>*"_s);
    add("dangling operator", u"W 1+"_s, 3001, u"<SYNTAX>*"_s);
    add("empty parentheses", u"W X()"_s, 3001, u"<SYNTAX>*"_s);
}

void tst_MEngine::errors()
{
    QFETCH(QString, line);
    QFETCH(int, error);
    QFETCH(QString, description);
    Interpreter m;
    MemoryEnvironment env;
    const Outcome o = run(m, env, line);
    QCOMPARE(o.error, error);
    if (description.endsWith(u'*'))
        QVERIFY2(o.description.startsWith(description.chopped(1)), qPrintable(o.description));
    else
        QCOMPARE(o.description, description);
}

void tst_MEngine::failingLineChangesNothing()
{
    Interpreter m;
    MemoryEnvironment env;
    QCOMPARE(run(m, env, u"S A=1,B(1)=\"x\",B(1,2)=\"y\",C=3"_s).error, 0);
    QCOMPARE(run(m, env, u"I 1"_s).error, 0);
    const Locals before = m.locals();

    // changes, kills (node, whole, all) and output before a run-time error
    for (const QString &line : QStringList{u"S A=2,N=1,B(1)=\"z\",B(3)=1 K C W \"out\" S D=1/0"_s,
                                u"K B(1) S $P(A,\",\",3)=1 W X"_s,
                                u"K  S Z=1 W $S(0:1)"_s,
                                u"K (A) D ^NIXDA"_s,
                                u"S (A,B(1))=9 W $P(\"a\",\"b\",1) S Y(\"\")=1"_s}) {
        const Outcome o = run(m, env, line);
        QVERIFY2(o.error != 0, qPrintable(line));
        QVERIFY(o.output.isEmpty());
        QVERIFY2(m.locals() == before, qPrintable(line));
        QCOMPARE(m.test(), true);
    }
    // and the next line sees the old values
    QCOMPARE(run(m, env, u"W A,B(1),B(1,2),C,$D(N)"_s).output, u"1xy30"_s);
}

void tst_MEngine::syntaxErrorRunsNothing()
{
    Interpreter m;
    MemoryEnvironment env;
    const Outcome o = run(m, env, u"S ^G=1,X=1 TSTART  D ^HALLO W \"a\" W (1"_s);
    QCOMPARE(o.error, 3001);
    QVERIFY(env.globals.empty());
    QVERIFY(env.routinesRun.isEmpty());
    QCOMPARE(env.transactionLevel(), 0);
    QVERIFY(m.locals().isEmpty());
    // an unknown command at the end is found before the first command runs
    QCOMPARE(run(m, env, u"S ^G=1 XECUTE \"W 1\""_s).error, 3003);
    QVERIFY(env.globals.empty());
}

void tst_MEngine::transactions()
{
    Interpreter m;
    MemoryEnvironment env;
    QCOMPARE(run(m, env, u"TS  S ^T=1 TS  W $TL"_s).output, u"2"_s);
    QCOMPARE(run(m, env, u"TC  W $TL"_s).output, u"1"_s);
    QCOMPARE(run(m, env, u"TRO  W $TL,$D(^T)"_s).output, u"00"_s);
    // nothing to roll back is no error; a commit without a start is
    QCOMPARE(run(m, env, u"TROLLBACK"_s).error, 0);
    QCOMPARE(run(m, env, u"TCOMMIT"_s).error, 3009);
    // a line that opens the first transaction and fails leaves none open
    QCOMPARE(run(m, env, u"TSTART  S ^T=2 W 1/0"_s).error, 3007);
    QCOMPARE(env.transactionLevel(), 0);
    QCOMPARE(env.globals.count({u"T"_s}), size_t(0));
    // an outer transaction opened by an earlier line stays open, the inner one is closed
    QCOMPARE(run(m, env, u"TSTART  S ^T=3"_s).error, 0);
    QCOMPARE(run(m, env, u"TSTART  TSTART  W X"_s).error, 3002);
    QCOMPARE(env.transactionLevel(), 1);
    QCOMPARE(run(m, env, u"TCOMMIT  W ^T"_s).output, u"3"_s);
}

void tst_MEngine::postconditionAndTest()
{
    Interpreter m;
    MemoryEnvironment env;
    QCOMPARE(run(m, env, u"S X=1 S:X=1 Y=2 S:X=2 Y=3 W Y W:0 \"nie\" Q:X  W \"nie\""_s).output, u"2"_s);
    // postconditions leave $TEST alone; IF sets it for later lines
    QCOMPARE(run(m, env, u"I 0"_s).output, u""_s);
    QCOMPARE(run(m, env, u"W:1 $T I  W \"nie\""_s).output, u"0"_s);
    QCOMPARE(run(m, env, u"E  W \"sonst\""_s).output, u"sonst"_s);
    QCOMPARE(run(m, env, u"I 1 E  W \"nie\""_s).output, u""_s);
}

void tst_MEngine::robustness_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("output");

    QString deep = QString(100000, u'(') + u"1"_s + QString(100000, u')');
    QTest::newRow("100000 parentheses") << (u"W "_s + deep) << 3001 << QString();
    QString nested = QString(50, u'(') + u"1"_s + QString(50, u')');
    QTest::newRow("50 parentheses") << (u"W "_s + nested) << 0 << u"1"_s;
    QString functions;
    for (int i = 0; i < 30; ++i)
        functions += u"$L("_s;
    functions += u"\"abc\""_s + QString(30, u')');
    QTest::newRow("30 nested functions") << (u"W "_s + functions) << 0 << u"1"_s;
    QString chain = u"W 0"_s;
    for (int i = 0; i < 50000; ++i)
        chain += u"+1"_s;
    QTest::newRow("chain of 50000 operators") << chain << 0 << u"50000"_s;
    QTest::newRow("100000 unary minus") << (u"W "_s + QString(100000, u'-') + u"1"_s) << 0 << u"1"_s;
    QString many = u"S X=\"\""_s;
    for (int i = 0; i < 12000; ++i)
        many += u" S X=X_1"_s;
    QTest::newRow("100000 characters of commands") << (many + u" W $L(X)"_s) << 0 << u"12000"_s;
    QTest::newRow("line too long") << (u"W \""_s + QString(MaxLineLength, u'a') + u"\""_s) << 3008 << QString();
    QTest::newRow("huge number literal") << (u"W "_s + QString(5000, u'9')) << 3011 << QString();
    QTest::newRow("many digits after the point")
        << (u"W ."_s + QString(5000, u'3') + u"+0"_s) << 0 << u".3333333333333333333"_s;
    QTest::newRow("tiny numbers vanish") << u"W 1E-200,\" \",+\"1E-99999999999\""_s << 0 << u"0 0"_s;
    QTest::newRow("huge exponent in a string") << u"W +\"1E99999999999999\""_s << 3011 << QString();
    QTest::newRow("huge positions") << u"W $E(\"abc\",1E18,1E19),$P(\"a\",\"a\",1E30),$F(\"a\",\"a\",1E20)"_s << 0 << u"0"_s;
    QTest::newRow("piece set far out") << u"S $P(X,\"^\",1E9)=1"_s << 3008 << QString();
    QTest::newRow("extract set far out") << u"S $E(X,1E12)=1"_s << 3008 << QString();
    QTest::newRow("tab far out") << u"W ?1E12"_s << 3008 << QString();
    QTest::newRow("output too long") << u"S X=$J(\"\",3000000) W X,X"_s << 3008 << QString();
    QString work = u"S X=$J(\"\",3000000)"_s;
    for (int i = 0; i < 400; ++i)
        work += u" S Y=$L(X_1)"_s;
    QTest::newRow("too much work") << work << 3013 << QString();
    QTest::newRow("stray characters") << u"}{§$%&"_s << 3001 << QString();
    QTest::newRow("only a quote") << u"W \""_s << 3001 << QString();
    QTest::newRow("control characters") << u"W \"a\u0000b\""_s << 0 << u"a\u0000b"_s;
}

void tst_MEngine::robustness()
{
    QFETCH(QString, line);
    QFETCH(int, error);
    QFETCH(QString, output);
    Interpreter m;
    MemoryEnvironment env;
    const Outcome o = run(m, env, line);
    QCOMPARE(o.error, error);
    QCOMPARE(o.output, output);
}

// Decimal arithmetic where doubles or a naive decimal would go wrong.
void tst_MEngine::arithmetic_data()
{
    QTest::addColumn<QString>("expr");
    QTest::addColumn<QString>("result");
    auto add = [](const char *name, const QString &expr, const QString &result) {
        QTest::newRow(name) << expr << result;
    };
    add("carry into a 20th digit", u"9999999999999999999+1"_s, u"10000000000000000000"_s);
    add("rounding at 19 digits", u"2/3*3"_s, u"2"_s);
    add("half away from zero", u"-2/3"_s, u"-.6666666666666666667"_s);
    add("tiny summand is lost", u"1E30+1"_s, u"1000000000000000000000000000000"_s);
    add("cancellation is exact", u"1E18+1-1E18"_s, u"1"_s);
    add("small times large", u"1E-5*1E5"_s, u"1"_s);
    add("tenths", u".1*3-.3"_s, u"0"_s);
    add("integer division of decimals", u".3\\.1"_s, u"3"_s);
    add("integer division negative", u"-7\\-2"_s, u"3"_s);
    add("integer division tiny result", u"1\\1E30"_s, u"0"_s);
    add("modulo of decimals", u"10#3.3"_s, u".1"_s);
    add("modulo negative dividend", u"-1E-5#1"_s, u".99999"_s);
    add("modulo exact zero", u"5#-2.5"_s, u"0"_s);
    add("modulo negative divisor", u"2.5#-1"_s, u"-.5"_s);
    add("comparison of close values", u"1.000000000000000001>1"_s, u"1"_s);
    add("comparison across exponents", u"1E20>99999999999999999999"_s, u"0"_s);
    add("negative zero", u"-0.0_\"/\"_-\"0\""_s, u"0/0"_s);
    add("many leading zeros", u"+\"0000000000000000000000000012.5000\""_s, u"12.5"_s);
    // Checked against exact decimal arithmetic (19 digits, half away from zero; remainders cut).
    add("large difference keeps its digits", u"1E38-9999999999999999999"_s, u"99999999999999999990000000000000000000"_s);
    add("quotient of a large power", u"1E25/7"_s, u"1428571428571428571000000"_s);
    add("modulo of a large power", u"1E25#7"_s, u"3"_s);
    add("modulo negative large by decimal", u"-1E20#3.3"_s, u"2.3"_s);
    add("modulo beyond 19 digits", u"1234567890123456789E5#-97"_s, u"-70"_s);
    add("modulo of tiny values", u"7.5E-20#1E-21"_s, u"0"_s);
}

void tst_MEngine::arithmetic()
{
    QFETCH(QString, expr);
    QFETCH(QString, result);
    Interpreter m;
    MemoryEnvironment env;
    const Outcome o = run(m, env, u"W "_s + expr);
    QVERIFY2(o.error == 0, qPrintable(o.description));
    QCOMPARE(o.output, result);
}

void tst_MEngine::pieceAndExtractSets_data()
{
    QTest::addColumn<QString>("old");
    QTest::addColumn<QString>("target"); // "P,delimiter,from,to" or "E,from,to"
    QTest::addColumn<QString>("result");
    QTest::newRow("replace middle") << u"a^b^c"_s << u"P,^,2,2"_s << u"a^X^c"_s;
    QTest::newRow("replace first") << u"a^b^c"_s << u"P,^,1,1"_s << u"X^b^c"_s;
    QTest::newRow("replace last two") << u"a^b^c"_s << u"P,^,2,3"_s << u"a^X"_s;
    QTest::newRow("range beyond end") << u"a^b"_s << u"P,^,2,9"_s << u"a^X"_s;
    QTest::newRow("append one") << u"a^b"_s << u"P,^,3,3"_s << u"a^b^X"_s;
    QTest::newRow("pad empty") << u""_s << u"P,^,3,3"_s << u"^^X"_s;
    QTest::newRow("from below one") << u"a^b"_s << u"P,^,0,1"_s << u"X^b"_s;
    QTest::newRow("to before from") << u"a^b"_s << u"P,^,2,1"_s << u"a^b"_s;
    QTest::newRow("empty delimiter") << u"a^b"_s << u"P,,1,1"_s << u"a^b"_s;
    QTest::newRow("long delimiter") << u"1||2||3"_s << u"P,||,2,2"_s << u"1||X||3"_s;
    QTest::newRow("extract replace") << u"Hallo"_s << u"E,2,3"_s << u"HXlo"_s;
    QTest::newRow("extract beyond end") << u"Ha"_s << u"E,2,9"_s << u"HX"_s;
    QTest::newRow("extract pads") << u"Ha"_s << u"E,5,5"_s << u"Ha  X"_s;
    QTest::newRow("extract nothing") << u"Ha"_s << u"E,0,0"_s << u"Ha"_s;
}

void tst_MEngine::pieceAndExtractSets()
{
    QFETCH(QString, old);
    QFETCH(QString, target);
    QFETCH(QString, result);
    const QStringList t = target.split(u',');
    if (t[0] == u"P"_s)
        QCOMPARE(setPiece(old, t[1], t[2].toLongLong(), t[3].toLongLong(), u"X"_s), result);
    else
        QCOMPARE(setExtract(old, t[1].toLongLong(), t[2].toLongLong(), u"X"_s), result);
}

void tst_MEngine::localsAreBounded()
{
    Interpreter m;
    MemoryEnvironment env;
    int stored = 0;
    Outcome o;
    for (int i = 0; i < 20 && o.error == 0; ++i) {
        o = run(m, env, u"S V%1=$J(\"\",3000000)"_s.arg(i));
        if (o.error == 0)
            ++stored;
    }
    QCOMPARE(o.error, 3013);
    QVERIFY(stored >= 10);
    QCOMPARE(m.locals().size(), stored); // the refused line left nothing behind
    QCOMPARE(run(m, env, u"K  S X=1 W X"_s).output, u"1"_s);
}

void tst_MEngine::numberHelpers_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("canonic");
    QTest::newRow("integer") << 1.0 << u"1"_s;
    QTest::newRow("half") << 0.5 << u".5"_s;
    QTest::newRow("negative half") << -0.5 << u"-.5"_s;
    QTest::newRow("negative") << -3.0 << u"-3"_s;
    QTest::newRow("zero") << 0.0 << u"0"_s;
    QTest::newRow("negative zero") << -0.0 << u"0"_s;
    QTest::newRow("tenth") << 0.1 << u".1"_s;
    QTest::newRow("large") << 1e25 << u"10000000000000000000000000"_s;
    QTest::newRow("small") << 1.5e-7 << u".00000015"_s;
    QTest::newRow("infinite") << qInf() << QString();
}

void tst_MEngine::numberHelpers()
{
    QFETCH(double, value);
    QFETCH(QString, canonic);
    QCOMPARE(canonicNumber(value), canonic);
    if (!canonic.isEmpty())
        QCOMPARE(numericValue(canonic), value);

    // numericValue reads the leading number only
    QCOMPARE(numericValue(u""_s), 0.0);
    QCOMPARE(numericValue(u"12abc"_s), 12.0);
    QCOMPARE(numericValue(u"-1.5E2x"_s), -150.0);
    QCOMPARE(numericValue(u"abc"_s), 0.0);
    QCOMPARE(numericValue(u"007"_s), 7.0);
}

void tst_MEngine::collation()
{
    QStringList subs = {u"b"_s, u"10"_s, u"a"_s, u"-1"_s, u"2"_s, u"01"_s, u".5"_s, u"1E2"_s};
    std::sort(subs.begin(), subs.end(), [](const QString &a, const QString &b) { return collate(a, b) < 0; });
    QCOMPARE(subs, (QStringList{u"-1"_s, u".5"_s, u"2"_s, u"10"_s, u"01"_s, u"1E2"_s, u"a"_s, u"b"_s}));
    QVERIFY(isCanonicNumber(u"-.5"_s));
    QVERIFY(!isCanonicNumber(u"-0"_s));
    QVERIFY(!isCanonicNumber(u"1."_s));
    QVERIFY(!isCanonicNumber(u""_s));
}

QTEST_APPLESS_MAIN(tst_MEngine)
#include "tst_mengine.moc"
