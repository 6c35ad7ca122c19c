#pragma once
// The M command-line interpreter behind VR.Windows Xecute.
// A line is parsed whole before anything runs, so a syntax error changes nothing; a run-time
// error undoes the line's local variables and output (the caller's per-call transaction undoes
// its global writes). Errors are factory::Error with number 3000 + n and a description that
// starts with the M error name ("<SYNTAX>", "<UNDEFINED>", "<COMMAND>" ...).

#include "factory/error.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

namespace server::m {

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
};

// Local variables of one job: name -> (subscript list -> value); the empty list is the node itself.
using Locals = QHash<QString, std::map<QStringList, QString>>;

class Interpreter
{
public:
    // Runs one command line and answers what it wrote. Throws factory::Error on an M error.
    QString execute(const QString &line, Environment &env);
    Locals &locals() { return m_locals; }

private:
    Locals m_locals;
};

// M number helpers, used by the interpreter and by late-bound comparisons.
QString canonicNumber(double value);   // 1, 0.5 as .5, -3, 1E+25 -> M canonical form
double numericValue(const QString &text); // leading numeric interpretation, "" -> 0

} // namespace server::m
