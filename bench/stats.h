#pragma once
// Medians and percentiles of measured durations, and the one table every benchmark prints.
#include <QList>
#include <QString>
#include <QTextStream>

#include <algorithm>
#include <chrono>

namespace bench {

using Clock = std::chrono::steady_clock;

struct Sample
{
    QList<double> micros;
    void add(Clock::duration d) { micros.append(std::chrono::duration<double, std::micro>(d).count()); }
    double percentile(double p) const
    {
        if (micros.isEmpty())
            return 0;
        QList<double> s = micros;
        std::sort(s.begin(), s.end());
        const qsizetype i = std::min<qsizetype>(s.size() - 1, qsizetype(p * double(s.size() - 1) + 0.5));
        return s[i];
    }
    double median() const { return percentile(0.5); }
    double p99() const { return percentile(0.99); }
};

template <class F> Sample measure(int iterations, F &&f, int warmup = 50)
{
    for (int i = 0; i < warmup; ++i)
        f();
    Sample s;
    s.micros.reserve(iterations);
    for (int i = 0; i < iterations; ++i) {
        const auto t0 = Clock::now();
        f();
        s.add(Clock::now() - t0);
    }
    return s;
}

// Several measurements taken in turns, a block of calls each, so that a busy spell of the
// machine falls on all of them alike and their ratios stay steady from run to run.
template <class F> QList<Sample> measureInTurns(int iterations, const QList<F> &calls, int block = 50, int warmup = 50)
{
    for (const F &f : calls)
        for (int i = 0; i < warmup; ++i)
            f();
    QList<Sample> samples(calls.size());
    for (Sample &s : samples)
        s.micros.reserve(iterations);
    for (int done = 0; done < iterations; done += block) {
        const int n = std::min(block, iterations - done);
        for (qsizetype k = 0; k < calls.size(); ++k) {
            for (int i = 0; i < n; ++i) {
                const auto t0 = Clock::now();
                calls[k]();
                samples[k].add(Clock::now() - t0);
            }
        }
    }
    return samples;
}

// One line of the result table: "figure | median | p99 | ratio | note", tab-separated so
// bench/run can align and collect it.
inline void row(const QString &figure, const QString &median, const QString &p99, const QString &ratio,
                const QString &note)
{
    QTextStream out(stdout);
    out << "ROW\t" << figure << '\t' << median << '\t' << p99 << '\t' << ratio << '\t' << note << '\n';
    out.flush();
}

inline QString us(double v) { return QString::number(v, 'f', v < 100 ? 1 : 0) + QStringLiteral(" µs"); }
inline QString ms(double v) { return QString::number(v / 1000.0, 'f', 2) + QStringLiteral(" ms"); }
inline QString ratio(double v, double floor) { return floor > 0 ? QString::number(v / floor, 'f', 2) + u'x' : QString(); }

} // namespace bench
