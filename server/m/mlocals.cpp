#include "server/m/mlocals.h"

#include <algorithm>

namespace server::m {

namespace {

using Node = std::map<QStringList, QString>;

bool startsWith(const QStringList &key, const QStringList &prefix)
{
    return key.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), key.begin());
}

} // namespace

std::optional<QString> LocalStore::get(const QString &name, const QStringList &subscripts) const
{
    const auto var = m_locals.constFind(name);
    if (var == m_locals.constEnd())
        return std::nullopt;
    const auto it = var->find(subscripts);
    if (it == var->end())
        return std::nullopt;
    return it->second;
}

int LocalStore::data(const QString &name, const QStringList &subscripts) const
{
    const auto var = m_locals.constFind(name);
    if (var == m_locals.constEnd())
        return 0;
    auto it = var->lower_bound(subscripts);
    int result = 0;
    if (it != var->end() && it->first == subscripts) {
        result = 1;
        ++it;
    }
    if (it != var->end() && startsWith(it->first, subscripts))
        result += 10;
    return result;
}

QString LocalStore::order(const QString &name, const QStringList &subscripts, int direction,
                          qint64 *visited) const
{
    const auto var = m_locals.constFind(name);
    if (var == m_locals.constEnd() || subscripts.isEmpty())
        return {};
    const QStringList prefix = subscripts.mid(0, subscripts.size() - 1);
    const QString &last = subscripts.last();
    const qsizetype level = prefix.size();
    std::optional<QString> best;
    for (auto it = var->lower_bound(prefix); it != var->end() && startsWith(it->first, prefix); ++it) {
        if (visited)
            ++*visited;
        if (it->first.size() <= level)
            continue;
        const QString &s = it->first[level];
        if (direction > 0) {
            if ((last.isEmpty() || collate(s, last) > 0) && (!best || collate(s, *best) < 0))
                best = s;
        } else {
            if ((last.isEmpty() || collate(s, last) < 0) && (!best || collate(s, *best) > 0))
                best = s;
        }
    }
    return best.value_or(QString());
}

void LocalStore::set(const QString &name, const QStringList &subscripts, const QString &value)
{
    Node &var = m_locals[name];
    auto it = var.find(subscripts);
    if (it == var.end()) {
        m_log.push_back({name, subscripts, std::nullopt});
        var.emplace(subscripts, value);
    } else {
        m_log.push_back({name, subscripts, it->second});
        it->second = value;
    }
}

void LocalStore::kill(const QString &name, const QStringList &subscripts)
{
    if (subscripts.isEmpty()) {
        killWhole(name);
        return;
    }
    auto var = m_locals.find(name);
    if (var == m_locals.end())
        return;
    auto it = var->lower_bound(subscripts);
    while (it != var->end() && startsWith(it->first, subscripts)) {
        m_log.push_back({name, it->first, it->second});
        it = var->erase(it);
    }
    if (var->empty())
        m_locals.erase(var);
}

void LocalStore::killWhole(const QString &name)
{
    auto var = m_locals.find(name);
    if (var == m_locals.end())
        return;
    for (const auto &[subs, value] : *var)
        m_log.push_back({name, subs, value});
    m_locals.erase(var);
}

void LocalStore::killAll()
{
    const QStringList names = m_locals.keys();
    for (const QString &name : names)
        killWhole(name);
}

void LocalStore::killAllExcept(const QStringList &names)
{
    const QStringList all = m_locals.keys();
    for (const QString &name : all) {
        if (!names.contains(name))
            killWhole(name);
    }
}

void LocalStore::undo()
{
    for (auto change = m_log.rbegin(); change != m_log.rend(); ++change) {
        if (change->old) {
            m_locals[change->name][change->subscripts] = *change->old;
            continue;
        }
        auto var = m_locals.find(change->name);
        if (var == m_locals.end())
            continue;
        var->erase(change->subscripts);
        if (var->empty())
            m_locals.erase(var);
    }
    m_log.clear();
}

qint64 LocalStore::footprint() const
{
    constexpr qint64 NodeOverhead = 32;
    qint64 total = 0;
    for (auto var = m_locals.cbegin(); var != m_locals.cend(); ++var) {
        total += var.key().size();
        for (const auto &[subs, value] : var.value()) {
            total += value.size() + NodeOverhead;
            for (const QString &s : subs)
                total += s.size();
        }
    }
    return total;
}

} // namespace server::m
