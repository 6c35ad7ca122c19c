#pragma once
// The connection fields of the server window and the sign-in dialog's fields that the
// session reads: one home, used by the session layer and by the windows that show them.

#include <QObject>
#include <QString>

namespace cacheapi {

class ConnectionFields final : public QObject
{
    Q_OBJECT
public:
    static ConnectionFields &instance();
    void reset(); // values of a fresh start

    // FMServer
    QString BFIRMA() const { return m_bfirma; }
    QString BFIL() const { return m_bfil; }
    QString BSERVERIP() const { return m_bserverip; }
    QString BPORT() const { return m_bport; }
    QString BNAMESPACE() const { return m_bnamespace; }
    QString BWJ() const { return m_bwj; }
    int CurrentId() const { return m_currentId; } // 0..255, 255 = no entry loaded
    void setBFIRMA(const QString &v);
    void setBFIL(const QString &v);
    void setBSERVERIP(const QString &v);
    void setBPORT(const QString &v);
    void setBNAMESPACE(const QString &v);
    void setBWJ(const QString &v);
    void setCurrentId(int id);

    // FMPass
    QString BUSER() const { return m_buser; }
    QString BPASSWORT() const { return m_bpasswort; }
    bool KeinDefaultEintrag() const { return m_keinDefaultEintrag; }
    void setBUSER(const QString &v);
    void setBPASSWORT(const QString &v);
    void setKeinDefaultEintrag(bool v);

Q_SIGNALS:
    void changed(); // any field; the windows refresh their widgets

private:
    ConnectionFields();
    void set(QString &field, const QString &v);
    QString m_bfirma, m_bfil, m_bserverip, m_bport, m_bnamespace, m_bwj;
    int m_currentId = 255;
    QString m_buser, m_bpasswort;
    bool m_keinDefaultEintrag = false;
};

} // namespace cacheapi
