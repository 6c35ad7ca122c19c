#pragma once
// The M command-line interpreter behind VR.Windows Xecute.
// A line is parsed whole before anything runs, so a syntax error changes nothing; a run-time
// error undoes the line's local variables and output (the caller's per-call transaction undoes
// its global writes). Errors are factory::Error with number 3000 + n and a description that
// starts with the M error name ("<SYNTAX>", "<UNDEFINED>", "<COMMAND>" ...).
// docs/protocol.md ("M command lines") lists the subset and the error numbers.

#include "factory/error.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>

namespace server::m {

namespace ErrorCode {
enum : int {
    Syntax = 3001,
    Undefined = 3002,
    Command = 3003,
    Function = 3004,
    Subscript = 3005,
    NoRoutine = 3006,
    Divide = 3007,
    MaxString = 3008,
    Transaction = 3009,
    NoLine = 3010,
    MaxNumber = 3011,
    Select = 3012,
    Store = 3013,
    IllegalValue = 3014,
};
}

// Longest string value (and longest output of one line).
inline constexpr qsizetype MaxStringLength = 3641144;
// Longest command line accepted.
inline constexpr qsizetype MaxLineLength = 1048576;

// What a line may touch outside its own local variables; the job implements it.
class Environment
{
public:
    virtual ~Environment() = default;
    virtual int jobNumber() const = 0;
    virtual std::optional<QString> globalGet(const QString &name, const QStringList &subscripts) = 0;
    virtual int globalData(const QString &name, const QStringList &subscripts) = 0; // 0, 1, 10, 11
    virtual void globalSet(const QString &name, const QStringList &subscripts, const QString &value) = 0;
    virtual void globalKill(const QString &name, const QStringList &subscripts) = 0;
    virtual void transactionStart() = 0;
    virtual void transactionCommit() = 0;
    virtual void transactionRollback() = 0;
    virtual int transactionLevel() const = 0;
    // DO ^routine: false when the server offers no such routine; out = what it wrote.
    virtual bool runRoutine(const QString &name, QString &out) = 0;
    // Asked again and again while a line runs: why it must stop now (it ran too long, its
    // client has gone), or "" to go on. The line then fails with <STORE>.
    virtual QString interruption() { return {}; }
    // $ORDER on a global: the subscript after (direction 1) or before (-1) the last of
    // `subscripts` on that level, in collate() order; "" starts from the edge and answers
    // "" when there is none. std::nullopt: this environment cannot walk globals.
    virtual std::optional<QString> globalOrder(const QString &name, const QStringList &subscripts,
                                               int direction)
    {
        return std::nullopt;
    }
};

// Local variables of one job: name -> (subscript list -> value); the empty list is the node itself.
using Locals = QHash<QString, std::map<QStringList, QString>>;

class Interpreter
{
public:
    // Runs one command line and answers what it wrote. Throws factory::Error on an M error.
    QString execute(const QString &line, Environment &env);
    Locals &locals() { return m_locals; }
    bool test() const { return m_test; } // $TEST, kept from line to line like the locals

private:
    Locals m_locals;
    bool m_test = false;
    // Clients send the same few lines again and again: each is parsed once per job.
    QHash<QString, std::shared_ptr<const struct Line>> m_parsed;
};

// M number helpers, used by the interpreter and by late-bound comparisons.
QString canonicNumber(double value);   // 1, 0.5 as .5, -3, 1E+25 -> M canonical form ("" for inf/NaN)
double numericValue(const QString &text); // leading numeric interpretation, "" -> 0
// True when text is a number in canonical form ("12", "-.5"), i.e. a numeric subscript.
bool isCanonicNumber(const QString &text);
// Subscript order: canonical numbers first, by value, then other strings by character code.
int collate(const QString &a, const QString &b);

} // namespace server::m
