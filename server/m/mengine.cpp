#include "server/m/mengine.h"

#include "server/m/merrors.h"
#include "server/m/mexecutor.h"
#include "server/m/mnumber.h"
#include "server/m/mparser.h"

#include <QLocale>

#include <cmath>
#include <new>

using namespace Qt::StringLiterals;

namespace server::m {

namespace {
constexpr qsizetype MaxKeptLine = 2000; // longer lines are rarely sent twice
constexpr qsizetype MaxKeptLines = 64;

bool startsTransaction(const Line &line)
{
    for (const Command &cmd : line.commands) {
        if (cmd.kind == Command::Kind::TStart)
            return true;
    }
    return false;
}

} // namespace

QString Interpreter::execute(const QString &line, Environment &env)
{
    if (line.size() > MaxLineLength)
        raise(ErrorCode::MaxString, u"Zeile länger als %1 Zeichen"_s.arg(MaxLineLength));
    std::shared_ptr<const Line> kept = m_parsed.value(line);
    if (!kept) {
        try {
            kept = std::make_shared<const Line>(Parser(line).parse());
        } catch (const std::bad_alloc &) {
            raise(ErrorCode::Store, u"kein Speicher für die Zeile"_s);
        }
        if (line.size() <= MaxKeptLine) {
            if (m_parsed.size() >= MaxKeptLines)
                m_parsed.clear();
            m_parsed.insert(line, kept);
        }
    }
    const Line &parsed = *kept; // held here: a line run inside this one may empty the cache

    // A failing line must not leave the transaction levels it opened: the first one is
    // rolled back, inner ones are closed again (they hold nothing of their own).
    const bool opens = startsTransaction(parsed);
    const int levelBefore = opens ? env.transactionLevel() : 0;
    Executor executor(m_locals, m_test, env);
    auto undo = [&] {
        executor.undo();
        if (!opens)
            return;
        try {
            int level = env.transactionLevel();
            if (levelBefore == 0 && level > 0) {
                env.transactionRollback();
            } else {
                for (; level > levelBefore && levelBefore > 0; --level)
                    env.transactionCommit();
            }
        } catch (...) {
            // the caller's own rollback of the call follows anyway
        }
    };
    try {
        executor.run(parsed);
        executor.checkFootprint();
        return executor.output();
    } catch (const std::bad_alloc &) {
        undo();
        raise(ErrorCode::Store, u"kein Speicher für die Zeile"_s);
    } catch (...) {
        undo();
        throw;
    }
}

QString canonicNumber(double value)
{
    if (!std::isfinite(value))
        return {};
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    text.replace(u'e', u'E');
    return Number::fromText(text).canonic();
}

double numericValue(const QString &text)
{
    return Number::fromText(text).toDouble();
}

bool isCanonicNumber(const QString &text)
{
    if (text.isEmpty())
        return false;
    qsizetype consumed = 0;
    const Number n = Number::fromText(text, &consumed);
    return consumed == text.size() && n.canonic() == text;
}

int collate(const QString &a, const QString &b)
{
    const bool an = isCanonicNumber(a);
    const bool bn = isCanonicNumber(b);
    if (an && bn)
        return Number::compare(Number::fromText(a), Number::fromText(b));
    if (an != bn)
        return an ? -1 : 1;
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace server::m
