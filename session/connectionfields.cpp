#include "session/connectionfields.h"
#include "session/cacheapi.h"

using namespace Qt::StringLiterals;

namespace cacheapi {

ConnectionFields &ConnectionFields::instance()
{
    static ConnectionFields fields;
    return fields;
}

ConnectionFields::ConnectionFields() { reset(); }

// The server window's fields before anything is loaded into them.
void ConnectionFields::reset()
{
    m_bfirma = u"1"_s;
    m_bfil = u"0"_s;
    m_bserverip = DefaultServerIP;
    m_bport = u"1973"_s;
    m_bnamespace = u"VARELO"_s;
    m_bwj = u"0"_s;
    m_currentId = 255;
    m_buser.clear();
    m_bpasswort.clear();
    m_keinDefaultEintrag = false;
    Q_EMIT changed();
}

void ConnectionFields::set(QString &field, const QString &v)
{
    if (field == v)
        return;
    field = v;
    Q_EMIT changed();
}

void ConnectionFields::setBFIRMA(const QString &v) { set(m_bfirma, v); }
void ConnectionFields::setBFIL(const QString &v) { set(m_bfil, v); }
void ConnectionFields::setBSERVERIP(const QString &v) { set(m_bserverip, v); }
void ConnectionFields::setBPORT(const QString &v) { set(m_bport, v); }
void ConnectionFields::setBNAMESPACE(const QString &v) { set(m_bnamespace, v); }
void ConnectionFields::setBWJ(const QString &v) { set(m_bwj, v); }
void ConnectionFields::setBUSER(const QString &v) { set(m_buser, v); }
void ConnectionFields::setBPASSWORT(const QString &v) { set(m_bpasswort, v); }

void ConnectionFields::setCurrentId(int id)
{
    if (m_currentId == id)
        return;
    m_currentId = id;
    Q_EMIT changed();
}

void ConnectionFields::setKeinDefaultEintrag(bool v)
{
    if (m_keinDefaultEintrag == v)
        return;
    m_keinDefaultEintrag = v;
    Q_EMIT changed();
}

} // namespace cacheapi
