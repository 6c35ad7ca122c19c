// What one factory call costs next to a raw loopback echo of the same size, what list
// reads and customer searches cost, and how many calls per second the server answers.
//
//   bench_calls --conn CONNSTRING --echo-port PORT --label pinned|unpinned
//               [--iterations N] [--rows N] [--throughput-seconds S] [--no-throughput]
//               [--throughput-only] [--conn2 CONNSTRING (throughput on two servers)]

#include "bench/stats.h"
#include "factory/factory.h"
#include "factory/signin.h"
#include "factory/wire.h"

#include <QCborMap>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <cstring>
#include <thread>

using namespace Qt::StringLiterals;
using namespace bench;

namespace {

struct Options
{
    QString conn;
    int echoPort = 0;
    QString label = u"unpinned"_s;
    int iterations = 5000;
    int rows = 10000;
    double throughputSeconds = 2.0;
    bool throughput = true;
    bool throughputOnly = false;
    QString conn2; // throughput only: every other connection goes here
};

int echoSocket(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
        return -1;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool echoOnce(int fd, const QByteArray &frame, QByteArray &buffer)
{
    if (::write(fd, frame.constData(), size_t(frame.size())) != frame.size())
        return false;
    qsizetype got = 0;
    buffer.resize(frame.size());
    while (got < frame.size()) {
        const ssize_t r = ::read(fd, buffer.data() + got, size_t(frame.size() - got));
        if (r <= 0)
            return false;
        got += r;
    }
    return true;
}

const QString Xline = u"S P0=$P(^FA(0),\"`\",2) W P0"_s;

// Calls a second under load, next to the raw echo under the same load. With conn2 the
// connections alternate between two servers (on one database).
void measureThroughput(const Options &o, const QByteArray &frame, const QString &L)
{
    // The same load on the raw echo is the floor: on a small machine the wake-ups of the
    // kernel, not the software at either end, decide how many calls a second fit. The two
    // loads take turns on connections made before the clock starts, so that a busy spell
    // of the machine falls on both alike.
    constexpr int Turns = 4;
    enum Phase { Connecting = -1, Echo = 0, Open = 1, Stop = 2 };
    for (int clients : {1, 8, 32}) {
        std::atomic<int> phase{Connecting};
        std::atomic<int> ready{0};
        std::atomic<quint64> calls[2] = {0, 0};
        QList<Sample> samples[2] = {QList<Sample>(clients), QList<Sample>(clients)};
        std::vector<std::thread> threads;
        for (int t = 0; t < clients; ++t) {
            threads.emplace_back([&, t] {
                const int efd = echoSocket(o.echoPort);
                factory::Factory g;
                const bool connected = efd >= 0 && g.Connect(t % 2 && !o.conn2.isEmpty() ? o.conn2 : o.conn);
                ++ready;
                QByteArray buf;
                for (int p; connected && (p = phase.load(std::memory_order_relaxed)) != Stop;) {
                    if (p == Connecting) {
                        std::this_thread::yield();
                        continue;
                    }
                    const auto t0 = Clock::now();
                    if (p == Echo)
                        echoOnce(efd, frame, buf);
                    else
                        g.OpenId(u"VR.ParPersEdv"_s, u"1||ADM"_s);
                    samples[p][t].add(Clock::now() - t0);
                    calls[p].fetch_add(1, std::memory_order_relaxed);
                }
                if (efd >= 0)
                    ::close(efd);
            });
        }
        while (ready.load() < clients)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto slice = std::chrono::duration<double>(o.throughputSeconds / Turns);
        for (int turn = 0; turn < Turns; ++turn) {
            phase = Echo;
            std::this_thread::sleep_for(slice);
            phase = Open;
            std::this_thread::sleep_for(slice);
        }
        phase = Stop;
        for (auto &th : threads)
            th.join();
        Sample latency[2];
        for (int p : {Echo, Open})
            for (const Sample &s : samples[p])
                latency[p].micros.append(s.micros);
        const double echoRate = double(calls[Echo].load()) / o.throughputSeconds;
        const double openRate = double(calls[Open].load()) / o.throughputSeconds;
        const QString n = QString::number(clients) + u" connections"_s + L;
        row(u"TCP echo throughput, "_s + n, us(latency[Echo].median()), us(latency[Echo].p99()), u"1.00x"_s,
            QString::number(qRound64(echoRate)) + u" calls/s"_s);
        row(u"OpenId throughput, "_s + n, us(latency[Open].median()), us(latency[Open].p99()),
            ratio(openRate, echoRate),
            QString::number(qRound64(openRate)) + u" calls/s (ratio: share of the echo's)"_s);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        const QString &a = args[i];
        if (a == u"--conn")
            o.conn = args[++i];
        else if (a == u"--echo-port")
            o.echoPort = args[++i].toInt();
        else if (a == u"--label")
            o.label = args[++i];
        else if (a == u"--iterations")
            o.iterations = args[++i].toInt();
        else if (a == u"--rows")
            o.rows = args[++i].toInt();
        else if (a == u"--conn2")
            o.conn2 = args[++i];
        else if (a == u"--throughput-seconds")
            o.throughputSeconds = args[++i].toDouble();
    }
    if (args.contains(u"--no-throughput"_s))
        o.throughput = false;
    o.throughputOnly = args.contains(u"--throughput-only"_s) || !o.conn2.isEmpty();

    try {
        factory::Factory f;
        if (!f.Connect(o.conn)) {
            qCritical("bench_calls: cannot connect to %s", qPrintable(o.conn));
            return 2;
        }
        // The demo server's administrator: everything measured below but OpenId needs a sign-in.
        if (factory::checkPassword(f, u"admin"_s, u"1"_s, u"ADM"_s).isEmpty()) {
            qCritical("bench_calls: sign-in as ADM refused by %s", qPrintable(o.conn));
            return 2;
        }
        const QString L = u" ("_s + o.label + u')';

        // The floor: the same bytes an OpenId request carries, echoed back.
        QCborMap openRequest;
        openRequest.insert(u"op"_s, u"open"_s);
        openRequest.insert(u"cls"_s, u"VR.ParPersEdv"_s);
        openRequest.insert(u"id"_s, u"1||ADM"_s);
        const QByteArray frame = wire::encode(openRequest);
        if (o.throughputOnly) {
            measureThroughput(o, frame, L);
            return 0;
        }
        const int fd = echoSocket(o.echoPort);
        if (fd < 0) {
            qCritical("bench_calls: no echo server on port %d", o.echoPort);
            return 2;
        }
        QByteArray buffer;
        auto param = f.Static(u"orvanta.param"_s);
        auto windows = f.Static(u"VR.Windows"_s);
        // In turns with the echo: each ratio is to the echo under the same conditions.
        const QList<Sample> calls = measureInTurns(o.iterations, QList<std::function<void()>>{
            [&] { echoOnce(fd, frame, buffer); },
            [&] { f.OpenId(u"VR.ParPersEdv"_s, u"1||ADM"_s); },
            [&] { param->call(u"GetMode"_s, {u"1"_s}); },
            [&] { windows->call(u"Xecute"_s, {Xline}); },
        });
        ::close(fd);
        const Sample &echo = calls[0];
        const double floor = echo.median();
        row(u"TCP echo round trip"_s + L, us(echo.median()), us(echo.p99()), u"1.00x"_s,
            QString::number(frame.size()) + u" bytes each way"_s);
        const QStringList names{u"OpenId VR.ParPersEdv"_s, u"class method GetMode"_s, u"Xecute $P(^FA(0))"_s};
        for (qsizetype k = 1; k < calls.size(); ++k)
            row(names[k - 1] + L, us(calls[k].median()), us(calls[k].p99()), ratio(calls[k].median(), floor), {});

        const Sample save = measure(std::max(50, o.iterations / 10), [&] {
            auto obj = f.New(u"orvanta.wargr"_s);
            obj->set(u"Firma"_s, u"1"_s);
            obj->set(u"numwarengruppe"_s, u"0100"_s);
            obj->set(u"txtwarengruppe"_s, u"Benchmark"_s);
            obj->set(u"numkunde"_s, u""_s);
            obj->sys_Save();
            obj->sys_close();
        }, 5);
        row(u"sys_Save new orvanta.wargr"_s + L, us(save.median()), us(save.p99()), ratio(save.median(), floor),
            u"durable commit"_s);
        f.Static(u"orvanta.wargr"_s)->call(u"Delete"_s, {u"1"_s, u""_s});

        // A customer list of `rows` numbers, then read back through VR.XW "Liste".
        QStringList numbers;
        {
            auto rs = f.ResultSet(u"VR.Windows"_s, u"KkrSuche"_s);
            rs->Execute({u"1"_s, u"K"_s, u""_s, u""_s, u""_s});
            while (numbers.size() < o.rows && rs->Next())
                numbers.append(factory::toText(rs->GetData(1)));
            rs->Close();
        }
        auto kunde = f.Static(u"orvanta.wexlkunde"_s);
        kunde->call(u"Save"_s, {u"1"_s, numbers.join(u'|'), u"orvanta.wexl"_s});
        quint64 trips = 0;
        int read = 0;
        Sample build, readAll;
        measure(10, [&] {
            const auto t0 = Clock::now();
            const int handle = int(factory::toNumber(kunde->call(u"getkund"_s, {u"1"_s, u"orvanta.wexl"_s})));
            const auto t1 = Clock::now();
            build.add(t1 - t0);
            const quint64 before = f.roundTrips();
            auto rs = f.ResultSet(u"VR.XW"_s, u"Liste"_s);
            rs->Execute({handle});
            read = 0;
            while (rs->Next()) {
                rs->GetData(1);
                ++read;
            }
            rs->Close();
            readAll.add(Clock::now() - t1);
            trips = f.roundTrips() - before;
        }, 1);
        row(u"build a list of "_s + QString::number(read) + u" (getkund)"_s + L, ms(build.median()),
            ms(build.p99()), {}, u"1 round trip"_s);
        row(u"read "_s + QString::number(read) + u" list rows (VR.XW Liste)"_s + L, ms(readAll.median()),
            ms(readAll.p99()), {}, QString::number(trips) + u" round trips"_s);
        kunde->call(u"Save"_s, {u"1"_s, u"10001|10002|10003"_s, u"orvanta.wexl"_s});

        auto search = [&](const QString &term, int &hits) {
            hits = 0;
            auto rs = f.ResultSet(u"VR.Windows"_s, u"KkrSuche"_s);
            rs->Execute({u"1"_s, u"K"_s, term, u""_s, u""_s});
            while (rs->Next()) {
                for (int c = 1; c <= 5; ++c)
                    rs->GetData(c);
                if (++hits >= 500)
                    break;
            }
            rs->Close();
        };
        int hits = 0;
        const Sample many = measure(std::max(20, o.iterations / 50), [&] { search(u"MA"_s, hits); }, 3);
        row(u"KkrSuche \"MA\", rows read to the last"_s + L, ms(many.median()), ms(many.p99()), {},
            QString::number(hits) + u" hits kept"_s);
        const Sample none = measure(std::max(20, o.iterations / 50), [&] { search(u"ZZZZQX"_s, hits); }, 3);
        row(u"KkrSuche without hits"_s + L, ms(none.median()), ms(none.p99()), ratio(none.median(), floor),
            QString::number(hits) + u" hits"_s);

        if (o.throughput)
            measureThroughput(o, frame, L);
    } catch (const factory::Error &e) {
        qCritical("bench_calls: Fehler %d: %s", e.number(), qPrintable(e.description()));
        return 1;
    }
    return 0;
}
