#pragma once
// What the benchmarks read of their own process: CPU time, and memory from /proc.

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QString>

#include <sys/resource.h>
#include <unistd.h>

namespace quillax::bench {

/// User and system CPU seconds of this process, all threads.
inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// CPU seconds the calling thread has used (user and system).
inline double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// A memory line of /proc/self/status in MiB ("VmRSS:" now, "VmHWM:" the peak); -1 if unread.
inline double ProcStatusMiB(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(field.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return -1;
}

/// Before the application object of a benchmark with windows and a browser: the browser engine
/// may run as root here, settings and the browser profile live in `home`, and the browser's
/// views share one OpenGL context.
inline void PrepareWindowProcess(const QString& home) {
    if (geteuid() == 0) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    qputenv("HOME", home.toUtf8());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

} // namespace quillax::bench
