// varelo-cli: a command-line client for administrators and scripts.
#include "factory/certificatepins.h"
#include "factory/factory.h"
#include "factory/signin.h"

#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSettings>
#include <QStringList>

#include <optional>

#include <cstdio>
#include <iostream>
#include <string>

using namespace Qt::StringLiterals;

namespace {

enum Exit { Ok = 0, ServerError = 1, Unreachable = 2, Usage = 64 };

const QString DefaultConnection = u"cn_iptcp:127.0.0.1[1973]:VARELO"_s;

void out(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void err(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

// Trust on first use in the CLI's own per-user settings (section "Zertifikate", one key per
// "host[port]"), or with --tls-pin exactly the certificate given, remembering nothing.
class CliPins final : public factory::CertificatePins
{
public:
    explicit CliPins(QString required) : m_required(std::move(required)) {}
    QString pinned(const QString &address) override
    {
        return m_required.isEmpty() ? settings().value(key(address)).toString() : m_required;
    }
    void remember(const QString &address, const QString &fingerprint) override
    {
        if (m_required.isEmpty())
            settings().setValue(key(address), fingerprint);
    }

private:
    static QSettings settings() { return QSettings(QSettings::IniFormat, QSettings::UserScope, u"Orvanta"_s, u"varelo-cli"_s); }
    static QString key(const QString &address) { return u"Zertifikate/"_s + address; }
    QString m_required;
};

// What the server wrote, ended by a line feed unless it ends with one or is empty.
void line(const QString &text)
{
    out(text);
    if (!text.isEmpty() && !text.endsWith(u'\n'))
        out(u"\n"_s);
}

int usage(const QString &problem = {})
{
    if (!problem.isEmpty())
        err(u"varelo-cli: "_s + problem + u'\n');
    err(u"Aufruf: varelo-cli [--conn \"cn_iptcp:ADRESSE[PORT]:NAMESPACE\"] [--timeout MS] [--tls-pin SHA256:…]\n"
        u"                  [--user PERSONALCODE [--firma MANDANT]] BEFEHL ...\n"
        u"  Mit --user meldet sich der Aufruf an; das Passwort kommt aus VARELO_PASSWORD oder wird\n"
        u"  am Terminal abgefragt. Ohne Anmeldung geht nur, was die Anmeldung selbst braucht.\n"
        u"  xecute ZEILE                    M-Zeile ausführen, ausgeben, was sie schreibt\n"
        u"  open KLASSE ID                  Objekt öffnen: \"Name<TAB>Wert\" je Zeile\n"
        u"  query KLASSE ABFRAGE [ARG...]   Abfrage ausführen: eine Zeile je Treffer, Spalten mit TAB\n"
        u"  call KLASSE METHODE [ARG...]    Klassenmethode aufrufen, Antwort ausgeben\n"
        u"--tls-pin: nur ein TLS-Server mit genau diesem Zertifikat; sonst wird das Zertifikat beim ersten Kontakt\n"
        u"  gemerkt (~/.config/Orvanta/varelo-cli.ini) und danach verlangt.\n"
        u"Vorgabe für --conn: "_s
        + DefaultConnection + u'\n');
    return Usage;
}

QVariantList toArgs(const QStringList &words)
{
    QVariantList args;
    args.reserve(words.size());
    for (const QString &w : words)
        args.append(w);
    return args;
}

int run(factory::Factory &f, const QString &verb, const QStringList &rest)
{
    if (verb == u"xecute") {
        line(factory::toText(f.Static(u"VR.Windows"_s)->call(u"Xecute"_s, {rest.at(0)})));
    } else if (verb == u"open") {
        const factory::InstancePtr object = f.OpenId(rest.at(0), rest.at(1));
        for (const QString &name : object->propertyNames())
            out(name + u'\t' + factory::toText(object->get(name)) + u'\n');
    } else if (verb == u"query") {
        const factory::ResultSetPtr rs = f.ResultSet(rest.at(0), rest.at(1));
        rs->Execute(toArgs(rest.mid(2)));
        QString row;
        while (rs->Next()) {
            row.clear();
            for (int c = 1; c <= rs->columnCount(); ++c) {
                if (c > 1)
                    row += u'\t';
                row += factory::toText(rs->GetData(c));
            }
            row += u'\n';
            out(row);
        }
    } else if (verb == u"call") {
        line(factory::toText(f.Static(rest.at(0))->call(rest.at(1), toArgs(rest.mid(2)))));
    }
    return Ok;
}

// The password for --user: VARELO_PASSWORD, else asked on the terminal without echo.
// nullopt: neither is there.
std::optional<QString> password()
{
    if (qEnvironmentVariableIsSet("VARELO_PASSWORD"))
        return qEnvironmentVariable("VARELO_PASSWORD");
    if (!::isatty(STDIN_FILENO))
        return std::nullopt;
    err(u"Passwort: "_s);
    termios old{};
    const bool quiet = ::tcgetattr(STDIN_FILENO, &old) == 0;
    if (quiet) {
        termios silent = old;
        silent.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    std::string typed;
    std::getline(std::cin, typed);
    if (quiet)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    err(u"\n"_s);
    return QString::fromLocal8Bit(typed);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);

    QString conn = DefaultConnection;
    QString user;
    QString firma = u"1"_s;
    int timeout = 0;
    QString tlsPin;
    while (!args.isEmpty() && args.front().startsWith(u"--"_s)) {
        const QString option = args.takeFirst();
        if (option == u"--help") {
            usage();
            return Ok;
        }
        QString value;
        const qsizetype eq = option.indexOf(u'=');
        const QString name = eq < 0 ? option : option.left(eq);
        if (eq >= 0)
            value = option.mid(eq + 1);
        else if (!args.isEmpty())
            value = args.takeFirst();
        else
            return usage(u"%1 ohne Wert"_s.arg(name));
        if (name == u"--conn") {
            conn = value;
        } else if (name == u"--user") {
            user = value;
        } else if (name == u"--firma") {
            firma = value;
        } else if (name == u"--timeout") {
            bool ok = false;
            timeout = value.toInt(&ok);
            if (!ok || timeout <= 0)
                return usage(u"--timeout erwartet Millisekunden"_s);
        } else if (name == u"--tls-pin") {
            if (!value.startsWith(u"SHA256:"_s, Qt::CaseInsensitive))
                return usage(u"--tls-pin erwartet SHA256:… (openssl x509 -fingerprint -sha256)"_s);
            tlsPin = value;
        } else {
            return usage(u"unbekannte Option %1"_s.arg(name));
        }
    }
    if (args.isEmpty())
        return usage(u"kein Befehl"_s);

    const QString verb = args.takeFirst();
    const qsizetype needed = verb == u"xecute" ? 1 : verb == u"open" || verb == u"query" || verb == u"call" ? 2 : -1;
    if (needed < 0)
        return usage(u"unbekannter Befehl %1"_s.arg(verb));
    if (args.size() < needed || (verb != u"query" && verb != u"call" && args.size() > needed))
        return usage(u"falsche Zahl von Argumenten für %1"_s.arg(verb));

    std::optional<QString> secret;
    if (!user.isEmpty()) {
        secret = password();
        if (!secret)
            return usage(u"--user braucht ein Passwort: VARELO_PASSWORD setzen oder am Terminal aufrufen"_s);
    }

    factory::Factory f;
    f.setCertificatePins(std::make_shared<CliPins>(tlsPin));
    if (timeout > 0)
        f.setCallTimeout(timeout);
    try {
        if (!f.Connect(conn)) {
            err(u"varelo-cli: Server unter %1 nicht erreichbar\n"_s.arg(conn));
            return Unreachable;
        }
        if (secret && factory::checkPassword(f, *secret, firma, user).isEmpty()) {
            err(u"varelo-cli: Anmeldung als %1 (Mandant %2) abgelehnt: Passwort falsch\n"_s.arg(user, firma));
            return ServerError;
        }
        const int status = run(f, verb, args);
        std::fflush(stdout);
        return status;
    } catch (const factory::Error &e) {
        std::fflush(stdout);
        err(u"Fehler %1: %2\n"_s.arg(e.number()).arg(e.description()));
        return e.number() == factory::ErrorCode::BadConnectionString ? Usage : ServerError;
    } catch (const std::exception &e) {
        std::fflush(stdout);
        err(u"varelo-cli: "_s + QString::fromLocal8Bit(e.what()) + u'\n');
        return ServerError;
    }
}
