#pragma once
// Parses one whole command line before anything of it runs.

#include "server/m/mast.h"

#include <QStringView>

#include <optional>
#include <utility>

namespace server::m {

class Parser
{
public:
    explicit Parser(QStringView line) : m_src(line) {}
    Line parse(); // throws factory::Error (<SYNTAX>, <COMMAND>, <FUNCTION>, <NOLINE>, <MAXNUMBER>)

private:
    struct DepthGuard;

    bool atEnd() const { return m_pos >= m_src.size(); }
    QChar peek(qsizetype ahead = 0) const;
    bool accept(QChar c);
    void expect(QChar c);
    [[noreturn]] void syntax(const QString &reason) const;

    Command parseCommand();
    void parseArguments(Command &cmd);
    SetTarget parseSetTarget();
    void parseWriteArguments(Command &cmd);
    void parseKillArguments(Command &cmd);
    void parseDoArguments(Command &cmd);

    ExprPtr parseExpr();
    ExprPtr parseAtom();
    ExprPtr parsePrimary();
    ExprPtr parseString();
    ExprPtr parseNumber();
    ExprPtr parseDollar();
    VarRef parseVarRef();
    QString parseName();
    std::optional<std::pair<BinaryOp, bool>> takeBinaryOp();

    QStringView m_src;
    qsizetype m_pos = 0;
    int m_depth = 0;
};

} // namespace server::m
