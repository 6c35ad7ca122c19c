#pragma once
// Runs a parsed line against the job's locals and its Environment.

#include "server/m/mast.h"
#include "server/m/mengine.h"
#include "server/m/mlocals.h"
#include "server/m/mnumber.h"

namespace server::m {

class Executor
{
public:
    Executor(Locals &locals, bool &test, Environment &env);

    void run(const Line &line);       // throws factory::Error
    void checkFootprint() const;      // <STORE> when the locals grew too big
    void undo();                      // locals and $TEST as before the line
    QString output() const { return m_out; }

private:
    bool runCommand(const Command &cmd); // false: the rest of the line is skipped
    void runSet(const Command &cmd);
    void runWrite(const Command &cmd);
    void runKill(const Command &cmd);

    QString eval(const Expr &e);
    QString evalUnary(const Expr &e);
    QString evalChain(const Expr &e);
    QString evalFunction(const Expr &e);
    QString evalSpecial(Special special);
    QString apply(BinaryOp op, const QString &left, const QString &right);

    Number number(const QString &text); // <MAXNUMBER> when out of range
    QString numberText(const Number &n) const;
    bool truth(const QString &text);
    qint64 integer(const Expr &e);

    QStringList subscripts(const VarRef &ref, bool emptyLastAllowed = false);
    std::optional<QString> fetch(const VarRef &ref, const QStringList &subs);
    void store(const VarRef &ref, const QStringList &subs, const QString &value);

    void write(const QString &text);
    // work: characters scanned or made; created: of them, characters of new strings, which
    // bound what the line can hold in memory (values, their old versions kept for undo).
    void charge(qint64 work, qint64 created = 0);

    LocalStore m_locals;
    bool &m_test;
    const bool m_testBefore;
    Environment &m_env;
    QString m_out;
    qsizetype m_column = 0;
    qint64 m_work = 0;
    qint64 m_created = 0;
};

} // namespace server::m
