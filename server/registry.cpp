#include "server/classdecl.h"

namespace server {

namespace {
// A later declaration of a class keeps what earlier extensions added.
void mergeInto(ClassDecl &target, const ClassDecl &earlier)
{
    for (auto it = earlier.methods.begin(); it != earlier.methods.end(); ++it)
        if (!target.methods.contains(it.key()))
            target.methods.insert(it.key(), it.value());
    for (auto it = earlier.instanceMethods.begin(); it != earlier.instanceMethods.end(); ++it)
        if (!target.instanceMethods.contains(it.key()))
            target.instanceMethods.insert(it.key(), it.value());
    for (auto it = earlier.queries.begin(); it != earlier.queries.end(); ++it)
        if (!target.queries.contains(it.key()))
            target.queries.insert(it.key(), it.value());
}

template<typename Map>
Map lowerKeys(const Map &map)
{
    Map lowered;
    for (auto it = map.begin(); it != map.end(); ++it)
        lowered.insert(it.key().toLower(), it.value());
    return lowered;
}

// Class code may write its keys in any case; lookups are by lower case.
void normalise(ClassDecl &decl)
{
    decl.methods = lowerKeys(decl.methods);
    decl.instanceMethods = lowerKeys(decl.instanceMethods);
    decl.queries = lowerKeys(decl.queries);
}
} // namespace

void ClassRegistry::add(ClassDecl decl)
{
    normalise(decl);
    std::lock_guard lock(m_mutex);
    const QString key = decl.name.toLower();
    if (auto existing = m_classes.value(key))
        mergeInto(decl, *existing);
    m_classes.insert(key, std::make_shared<ClassDecl>(std::move(decl)));
}

void ClassRegistry::extend(const QString &name, const std::function<void(ClassDecl &)> &change)
{
    std::lock_guard lock(m_mutex);
    const QString key = name.toLower();
    auto &slot = m_classes[key];
    if (!slot) {
        slot = std::make_shared<ClassDecl>();
        slot->name = name;
    }
    change(*slot);
    normalise(*slot);
}

void ClassRegistry::addResolver(Resolver resolver)
{
    std::lock_guard lock(m_mutex);
    m_resolvers.append(std::move(resolver));
}

const ClassDecl *ClassRegistry::find(const QString &name, CallContext &ctx) const
{
    const QString key = name.toLower();
    // The declared classes are fixed once the server listens; only the resolved ones grow.
    if (auto it = m_classes.constFind(key); it != m_classes.constEnd())
        return it.value().get();
    // Resolvers run one at a time, but a resolver may itself look up another class.
    static std::recursive_mutex resolving;
    std::lock_guard serial(resolving);
    QList<Resolver> resolvers;
    {
        std::lock_guard lock(m_mutex);
        if (auto it = m_resolved.constFind(key); it != m_resolved.constEnd())
            return it.value().get();
        resolvers = m_resolvers;
    }
    for (const Resolver &resolver : resolvers) {
        std::optional<ClassDecl> decl = resolver(name, ctx);
        if (!decl)
            continue;
        normalise(*decl);
        if (decl->name.isEmpty())
            decl->name = name;
        auto shared = std::make_shared<ClassDecl>(std::move(*decl));
        std::lock_guard lock(m_mutex);
        m_resolved.insert(key, shared);
        return shared.get();
    }
    return nullptr;
}

QList<const ClassDecl *> ClassRegistry::all() const
{
    std::lock_guard lock(m_mutex);
    QList<const ClassDecl *> list;
    for (const auto &decl : m_classes)
        list.append(decl.get());
    return list;
}

void ClassRegistry::addRoutine(const QString &name, Routine routine)
{
    std::lock_guard lock(m_mutex);
    m_routines.insert(name, std::move(routine));
}

const Routine *ClassRegistry::routine(const QString &name) const
{
    auto it = m_routines.constFind(name);
    return it == m_routines.constEnd() ? nullptr : &it.value();
}

} // namespace server
