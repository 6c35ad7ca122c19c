#pragma once
// The parsed form of one command line. Operator chains are kept flat (M evaluates strictly
// left to right), so a long chain never deepens the tree; only parentheses and function
// arguments do, and the parser bounds that depth.

#include <QString>

#include <memory>
#include <vector>

namespace server::m {

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct VarRef
{
    bool global = false;
    QString name;
    std::vector<ExprPtr> subscripts;
};

enum class BinaryOp {
    Concat, Add, Subtract, Multiply, Divide, IntDivide, Modulo,
    Equal, Less, Greater, And, Or, Contains, Follows, SortsAfter
};

struct BinaryStep
{
    BinaryOp op;
    bool negated = false; // '= '< '> '[ '] ']] '& '!
    ExprPtr operand;
};

enum class Special { Job, Test, Horolog, TLevel };

enum class Function {
    Ascii, Char, Data, Extract, Find, Get, Justify, Length, Order, Piece, Select, Translate
};

struct Expr
{
    enum class Kind { Constant, Variable, Special, Function, Unary, Chain };
    Kind kind = Kind::Constant;
    QString text;                  // Constant
    VarRef var;                    // Variable; first argument of $DATA, $GET, $ORDER
    Special special = Special::Job;
    Function function = Function::Length;
    std::vector<ExprPtr> args;     // Function (after var where it has one); $SELECT: cond, value...
    QString unaryOps;              // Unary: the prefix operators "+-'" in written order
    ExprPtr operand;               // Unary operand; Chain first operand
    std::vector<BinaryStep> steps; // Chain
};

struct SetTarget
{
    enum class Kind { Variable, Piece, Extract };
    Kind kind = Kind::Variable;
    VarRef var;
    std::vector<ExprPtr> args; // Piece: delimiter [, from [, to]]; Extract: [from [, to]]
};

struct SetArgument
{
    std::vector<SetTarget> targets;
    ExprPtr value;
};

struct WriteItem
{
    enum class Kind { Expression, NewLine, Tab, CharCode };
    Kind kind = Kind::Expression;
    ExprPtr expr;
};

struct Command
{
    enum class Kind { Set, Write, Kill, Do, Quit, If, Else, TStart, TCommit, TRollback };
    Kind kind = Kind::Set;
    ExprPtr postcondition;
    std::vector<SetArgument> sets;
    std::vector<WriteItem> writes;
    std::vector<VarRef> kills;        // empty and !killExclusive: kill all locals
    bool killExclusive = false;       // K (A,B): all locals but these
    std::vector<QString> routines;    // DO ^name
    std::vector<ExprPtr> conditions;  // IF arguments
};

struct Line
{
    std::vector<Command> commands;
};

} // namespace server::m
