#pragma once
// The generic object layer of one job: open, save and instance calls of stored classes,
// driven by their ClassDecl. Statements are prepared once per job and class.

#include "server/classdecl.h"

#include <QCborMap>
#include <QCborValue>

#include <memory>
#include <unordered_map>

class QSqlQuery;

namespace wire {
class CborWriter;
}

namespace server {

class ObjectLayer final
{
public:
    explicit ObjectLayer(CallContext &ctx) : m_ctx(ctx) {}
    Q_DISABLE_COPY_MOVE(ObjectLayer)

    // Writes {id, p, d, cls}, straight onto the wire; 2006 when there is no such object.
    void open(const ClassDecl &decl, const QString &id, wire::CborWriter &out);
    // id null: a new object. Answers {id, p, d} of the stored object.
    QCborMap save(const ClassDecl &decl, const QCborValue &id, const QCborValue &init, const QCborMap &changes);
    // An instance method, or "<property>LogicalToODBC".
    QVariant call(const ClassDecl &decl, const QString &id, const QString &method, const QVariantList &args);

    void clear() { m_infos.clear(); }

private:
    struct ClassInfo
    {
        const ClassDecl *decl = nullptr;
        QHash<QString, int> index; // lower-case property name -> position
        QList<int> idIndexes;
        // What an opened object's answer repeats: the names as UTF-8 and the counts.
        QList<QByteArray> namesUtf8;
        QByteArray classUtf8;
        quint64 shown = 0;     // properties the client sees
        quint64 displayed = 0; // of those, with a display form
        QString select;            // by id: every property in declared order
        std::weak_ptr<QSqlQuery> selectQuery; // prepared on the job's connection
        QString insert;
        QString update;
        bool tableChecked = false;
        bool insertReturnsId = false; // PostgreSQL numbers a new object in the INSERT itself
    };

    ClassInfo &info(const ClassDecl &decl);
    ClassInfo &stored(const ClassDecl &decl); // refuses classes without a table
    bool load(ClassInfo &info, const QString &id, QVariantList &values);
    QVariant keyOf(const ClassInfo &info, const QString &id) const; // the id as the table's key
    QVariantMap objectMap(const ClassInfo &info, const QString &id, const QVariantList &values) const;
    QCborMap describe(const ClassInfo &info, const QString &id, const QVariantList &values) const;
    [[noreturn]] void notFound(const ClassInfo &info, const QString &id) const;
    template<typename WriteValue, typename WriteDisplay>
    static void writeObject(const ClassInfo &info, const QString &id, wire::CborWriter &w, WriteValue value,
                            WriteDisplay display);

    CallContext &m_ctx;
    QVariantList m_values; // of the object being opened, kept for the next
    std::unordered_map<const ClassDecl *, ClassInfo> m_infos;
};

// The display form of a raw value as "<property>LogicalToODBC" answers it.
QString displayForm(const PropertyDecl &property, const QVariant &raw);

} // namespace server
