#include "session/connectionfields.h"

namespace cacheapi {

ConnectionFields &ConnectionFields::instance()
{
    static ConnectionFields fields;
    return fields;
}

ConnectionFields::ConnectionFields() = default;

void ConnectionFields::reset()
{
    m_bfirma.clear();
    m_bfil.clear();
    m_bserverip.clear();
    m_bport.clear();
    m_bnamespace.clear();
    m_bwj.clear();
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
