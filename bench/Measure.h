#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTextStream>

// Runs `work(i)` for i in [0, iterations) and prints the mean time per call in microseconds.
template <typename F> void measure(const char *name, int iterations, F &&work)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < iterations; ++i)
        work(i);
    const double usPerCall = double(timer.nsecsElapsed()) / iterations / 1000.0;
    QTextStream(stdout) << name << ": " << QString::number(usPerCall, 'f', 2) << " µs per call ("
                        << iterations << " calls)\n";
}
