#include "factory/connection.h"
#include "factory/factory.h"
#include "factory/objects.h"

#include <vector>

using namespace Qt::StringLiterals;

namespace factory {

namespace {
constexpr auto DisplaySuffix = "LogicalToODBC"_L1;

struct Property
{
    QString name;   // canonical once the server has sent it
    QVariant value; // with the caller's changes
    QVariant stored; // as the server last sent it
    QString display; // display form of `stored`
    bool hasDisplay = false;
    bool dirty = false;
    // While >= 0, value and stored are still the CBOR at Instance::Private::raw[rawAt, rawAt + rawSize):
    // most opened objects are read for a few of their properties, or none.
    qsizetype rawAt = -1;
    qsizetype rawSize = 0;
};

bool sameName(QStringView a, QStringView b)
{
    return a.size() == b.size() && a.compare(b, Qt::CaseInsensitive) == 0;
}

bool identical(const QVariant &a, const QVariant &b)
{
    return a.typeId() == b.typeId() && a == b;
}
} // namespace

struct Instance::Private
{
    std::shared_ptr<Connection> conn;
    QString className;
    QString id;
    QVariant initialValue;
    std::vector<Property> props;
    QByteArray raw; // the values of props not decoded yet
    bool isNew = false;
    bool pending = false; // a pipelined save's answer has not been read yet

    // What the caller reads or changes next must include the pending save's answer.
    void settle()
    {
        if (pending) {
            pending = false;
            conn->collect();
        }
    }

    void saved(wire::CborReader &r)
    {
        read(r);
        isNew = false;
        initialValue = QVariant();
    }

    // The property with its value decoded.
    Property &decoded(Property &p)
    {
        if (p.rawAt >= 0) {
            wire::CborReader r(raw.constData() + p.rawAt, p.rawSize);
            p.value = p.stored = lateBound(r.value());
            p.rawAt = -1;
        }
        return p;
    }

    Property *find(QStringView name)
    {
        for (Property &p : props)
            if (p.name == name)
                return &p;
        for (Property &p : props)
            if (sameName(p.name, name))
                return &p;
        return nullptr;
    }

    // {cls, id, p:{…}, d:{…}}, as open and save answer.
    void read(wire::CborReader &r)
    {
        props.clear();
        raw.resize(0);
        for (auto c = r.enterMap(); r.more(c);) {
            const QByteArrayView key = r.textView();
            if (key == "cls") {
                const QByteArrayView name = r.textView();
                if (!sameAscii(name, className))
                    className = QString::fromUtf8(name);
            } else if (key == "id") {
                if (r.isText()) {
                    const QByteArrayView text = r.textView();
                    if (!sameAscii(text, id))
                        id = QString::fromUtf8(text);
                } else if (r.isNull()) {
                    r.skip();
                    id.clear();
                } else {
                    id = toText(r.value());
                }
            } else if (key == "p") {
                readValues(r);
            } else if (key == "d") {
                readDisplayForms(r);
            } else {
                r.skip();
            }
        }
    }

    void readValues(wire::CborReader &r)
    {
        std::vector<QString> &known = conn->propertyNames(className);
        const bool displaysFirst = !props.empty();
        props.reserve(known.size());
        size_t i = 0;
        auto m = r.enterMap();
        // The values stay where they are among the names: one copy of the map, not one a value.
        const char *base = r.position();
        for (; r.more(m); ++i) {
            const QByteArrayView view = r.textView();
            if (i >= known.size())
                known.emplace_back(QString::fromUtf8(view));
            else if (!sameAscii(view, known[i]))
                known[i] = QString::fromUtf8(view);
            Property *p = displaysFirst ? find(known[i]) : nullptr;
            if (!p) {
                p = &props.emplace_back();
                p->name = known[i];
            }
            const char *at = r.position();
            r.skip();
            p->rawAt = at - base;
            p->rawSize = r.position() - at;
        }
        raw = QByteArray(base, r.position() - base);
    }

    void readDisplayForms(wire::CborReader &r)
    {
        size_t hint = 0; // d lists the properties in the order p does
        for (auto m = r.enterMap(); r.more(m);) {
            const QByteArrayView view = r.textView();
            Property *p = nullptr;
            for (size_t k = 0; k < props.size() && !p; ++k) {
                const size_t at = (hint + k) % props.size();
                if (sameAscii(view, props[at].name)) {
                    p = &props[at];
                    hint = at + 1;
                }
            }
            if (!p) {
                QString name = QString::fromUtf8(view);
                p = find(name);
                if (!p)
                    p = &props.emplace_back(Property{std::move(name), QString(), QString(), {}, false, false});
            }
            p->display = r.isText() ? r.text() : toText(r.value());
            p->hasDisplay = true;
        }
    }

    [[noreturn]] void unknownProperty(const QString &property) const
    {
        throw Error(ErrorCode::UnknownProperty,
                    u"Eigenschaft '%1' der Klasse %2 unbekannt"_s.arg(property, className));
    }
};

InstancePtr openInstance(const std::shared_ptr<Connection> &conn, const QString &className, const QString &id)
{
    wire::CborWriter &w = conn->begin("open"_L1, 2);
    w.key("cls"_L1);
    w.text(className);
    w.key("id"_L1);
    w.text(id);
    wire::CborReader &r = conn->exchange({"OpenId"_L1, className, {}, id});
    auto d = std::make_unique<Instance::Private>();
    d->conn = conn;
    d->className = className;
    d->id = id;
    d->read(r);
    return std::make_shared<Instance>(std::move(d));
}

InstancePtr newInstance(const std::shared_ptr<Connection> &conn, const QString &className,
                        const QVariant &initialValue)
{
    auto d = std::make_unique<Instance::Private>();
    d->conn = conn;
    d->className = className;
    d->initialValue = initialValue;
    d->isNew = true;
    return std::make_shared<Instance>(std::move(d));
}

Instance::Instance(std::unique_ptr<Private> data) : d(std::move(data)) {}

Instance::Instance(std::shared_ptr<Connection> conn, QString className, QString id, QVariantMap properties,
                   QVariantMap displayForms, bool isNew, QVariant initialValue)
    : d(std::make_unique<Private>())
{
    d->conn = std::move(conn);
    d->className = std::move(className);
    d->id = std::move(id);
    d->isNew = isNew;
    d->initialValue = std::move(initialValue);
    for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
        const QVariant v = lateBound(it.value());
        d->props.push_back(Property{it.key(), v, v, {}, false, isNew});
    }
    for (auto it = displayForms.cbegin(); it != displayForms.cend(); ++it) {
        if (Property *p = d->find(it.key())) {
            p->display = toText(it.value());
            p->hasDisplay = true;
        }
    }
}

Instance::~Instance() = default;

QString Instance::className() const
{
    d->settle();
    return d->className;
}

QString Instance::id() const
{
    d->settle();
    return d->id;
}

bool Instance::isNew() const
{
    d->settle();
    return d->isNew;
}

QStringList Instance::propertyNames() const
{
    d->settle();
    QStringList names;
    names.reserve(qsizetype(d->props.size()));
    for (const Property &p : d->props)
        names.append(p.name);
    return names;
}

QVariant Instance::get(const QString &property) const
{
    d->settle();
    if (Property *p = d->find(property))
        return d->decoded(*p).value;
    if (d->isNew)
        return QVariant(QString());
    d->unknownProperty(property);
}

void Instance::set(const QString &property, const QVariant &value)
{
    d->settle();
    Property *p = d->find(property);
    if (!p) {
        if (!d->isNew)
            d->unknownProperty(property);
        p = &d->props.emplace_back(Property{property, {}, {}, {}, false, false});
    }
    d->decoded(*p).value = lateBound(value);
    // Writing back what the server holds changes nothing and costs no round trip.
    p->dirty = p->dirty || d->isNew || !identical(p->value, p->stored);
}

QVariant Instance::call(const QString &method, const QVariantList &args)
{
    if (sameName(method, u"sys_Save")) {
        sys_Save();
        return qint64(1);
    }
    if (sameName(method, u"sys_close")) {
        sys_close();
        return {};
    }
    d->settle();

    if (method.size() > DisplaySuffix.size() && method.endsWith(DisplaySuffix, Qt::CaseInsensitive)) {
        Property *p = d->find(QStringView(method).chopped(DisplaySuffix.size()));
        if (!p && !d->isNew)
            throw Error(ErrorCode::UnknownMethod,
                        u"Methode '%1' der Klasse %2 unbekannt"_s.arg(method, d->className));
        if (args.size() != 1)
            throw Error(ErrorCode::ArgumentCount,
                        u"Methode '%1' der Klasse %2 erwartet 1 Argument, nicht %3"_s.arg(method, d->className)
                            .arg(args.size()));
        // The object brought the display form of what it holds; a property without one
        // shows its raw value as it is.
        if (p && !d->isNew) {
            if (!p->hasDisplay)
                return toText(args.front());
            if (toText(args.front()) == toText(d->decoded(*p).stored))
                return p->display;
        }
    }

    wire::CborWriter &w = d->conn->begin("icall"_L1, 4);
    w.key("cls"_L1);
    w.text(d->className);
    w.key("id"_L1);
    if (d->isNew)
        w.null();
    else
        w.text(d->id);
    w.key("m"_L1);
    w.text(method);
    w.key("a"_L1);
    w.array(quint64(args.size()));
    for (const QVariant &a : args)
        w.value(a);
    return lateBound(d->conn->exchange({"Methode"_L1, d->className, method, d->id}).value());
}

void Instance::sys_Save()
{
    d->settle();
    qsizetype changed = 0;
    for (const Property &p : d->props)
        changed += p.dirty ? 1 : 0;
    if (!d->isNew && changed == 0)
        return;

    wire::CborWriter &w = d->conn->begin("save"_L1, 4);
    w.key("cls"_L1);
    w.text(d->className);
    w.key("id"_L1);
    if (d->isNew)
        w.null();
    else
        w.text(d->id);
    w.key("init"_L1);
    if (d->initialValue.isValid())
        w.value(d->initialValue);
    else
        w.null();
    w.key("p"_L1);
    w.map(quint64(changed));
    for (const Property &p : d->props) {
        if (!p.dirty)
            continue;
        w.text(p.name);
        w.value(p.value);
    }
    // A refused save keeps the changes, so the caller can mend them and save again.
    const CallInfo info{"sys_Save"_L1, d->className, {}, d->id};
    if (d->conn->pipelining()) {
        d->conn->send(info, [weak = std::weak_ptr<Private>(d)](wire::CborReader &r) {
            if (const std::shared_ptr<Private> p = weak.lock()) {
                p->pending = false;
                p->saved(r);
            }
        });
        d->pending = true;
        return;
    }
    d->saved(d->conn->exchange(info));
}

void Instance::sys_close()
{
    // Nothing is held open on the server; forget what was not saved. A pending save's answer
    // still fills the object in when it is collected.
    for (Property &p : d->props) {
        if (p.rawAt < 0)
            p.value = p.stored;
        p.dirty = false;
    }
}

} // namespace factory
