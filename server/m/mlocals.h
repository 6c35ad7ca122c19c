#pragma once
// The job's local variables as one line sees them: every change is logged, so a line that
// fails can be undone node by node.

#include "server/m/mengine.h"

#include <optional>
#include <vector>

namespace server::m {

class LocalStore
{
public:
    explicit LocalStore(Locals &locals) : m_locals(locals) {}

    std::optional<QString> get(const QString &name, const QStringList &subscripts) const;
    int data(const QString &name, const QStringList &subscripts) const; // 0, 1, 10, 11
    // The next (1) or previous (-1) subscript after the last of `subscripts`; "" = none.
    QString order(const QString &name, const QStringList &subscripts, int direction,
                  qint64 *visited = nullptr) const;

    void set(const QString &name, const QStringList &subscripts, const QString &value);
    void kill(const QString &name, const QStringList &subscripts);
    void killAll();
    void killAllExcept(const QStringList &names);

    bool changed() const { return !m_log.empty(); }
    void undo();
    qint64 footprint() const; // characters held by all locals, with a per-node overhead

private:
    struct Change
    {
        QString name;
        QStringList subscripts;
        std::optional<QString> old;
    };
    void killWhole(const QString &name);

    Locals &m_locals;
    std::vector<Change> m_log;
};

} // namespace server::m
