#pragma once

// Shared by the store's benchmarks: a data root of many small materials
// written straight to disk, a median timer, and a count of system calls.
#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <linux/perf_event.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tolvex::benchmarks {

inline double medianMilliseconds(int runs, const std::function<void()>& work)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

inline void writeWhole(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// `count` text materials with one small payload each, and "state.json".
// Every fourth material is taken down, or only the first `takenDown` when given.
inline WorkspaceSnapshot makeDataRoot(const QString& root, int count, int takenDown = -1)
{
    WorkspaceSnapshot snapshot;
    snapshot.generation = 42;
    snapshot.materials.reserve(count);
    for (const char* folder : {"Materials", "Drafts", "Transactions", "Exports"})
        QDir().mkpath(root + u'/' + QLatin1StringView(folder));
    for (int i = 0; i < count; ++i) {
        MaterialRecord record;
        record.id = QUuid::createUuid();
        record.kind = MaterialKind::text;
        record.matterID = MatterGroup::ungroupedID();
        const bool down = takenDown < 0 ? i % 4 == 0 : i < takenDown;
        record.status = down ? MaterialStatus::takenDown : MaterialStatus::hanging;
        record.order = i;
        record.title = QStringLiteral("Clipboard text %1 — notes on the shelf").arg(i);
        record.createdAt = Date::now();
        record.source.origin = ImportOrigin::clipboard;
        record.source.filePath = QStringLiteral("/home/user/Documents/source-%1.txt").arg(i);
        record.source.isManuallyRegistered = false;

        const QByteArray payload = QStringLiteral("payload number %1\n").arg(i).toUtf8();
        MaterialVersion version;
        version.id = QUuid::createUuid();
        version.relativePath = QStringLiteral("Materials/") + uuidText(record.id) + u'/' + uuidText(version.id) + QStringLiteral(".txt");
        version.sha256 = ContentStore::digest(payload);
        version.byteCount = payload.size();
        version.kind = VersionKind::original;
        version.createdAt = record.createdAt;
        QDir().mkpath(root + QStringLiteral("/Materials/") + uuidText(record.id));
        writeWhole(root + u'/' + version.relativePath, payload);
        record.versions = {version};
        record.originalVersionID = version.id;
        record.activeVersionID = version.id;
        snapshot.materials.append(record);
    }
    writeWhole(root + QStringLiteral("/state.json"), Json::encode(snapshot));
    return snapshot;
}

// The system calls one thread makes (with the threads it starts meanwhile),
// counted by the kernel's syscall tracepoints. Unavailable where the tracing
// file system cannot be read or perf events are not allowed (as a user under
// a strict perf_event_paranoid): then every count reads -1.
class SyscallCounter {
public:
    enum Kind { all, stat, readlink, getdents, open, kindCount };

    explicit SyscallCounter(pid_t thread)
    {
        static const std::array<std::vector<const char*>, kindCount> events = {{
            {"raw_syscalls/sys_enter"},
            {"syscalls/sys_enter_newfstatat", "syscalls/sys_enter_newlstat", "syscalls/sys_enter_newstat",
                "syscalls/sys_enter_statx"},
            {"syscalls/sys_enter_readlink", "syscalls/sys_enter_readlinkat"},
            {"syscalls/sys_enter_getdents64"},
            {"syscalls/sys_enter_openat", "syscalls/sys_enter_openat2"},
        }};
        for (int kind = 0; kind < kindCount; ++kind) {
            for (const char* event : events[kind]) {
                const int fd = openCounter(thread, event);
                if (fd < 0) {
                    closeAll();
                    return;
                }
                counters_.push_back({kind, fd});
            }
        }
    }
    ~SyscallCounter() { closeAll(); }
    SyscallCounter(const SyscallCounter&) = delete;
    SyscallCounter& operator=(const SyscallCounter&) = delete;

    bool available() const { return !counters_.empty(); }

    // The calls `work` made on the counted thread, by kind. Counting slows
    // every call down a little, so time the work apart. Read before and
    // after rather than reset: a reset leaves out what threads that already
    // ended had added.
    std::array<long long, kindCount> count(const std::function<void()>& work)
    {
        for (const Counter& counter : counters_)
            ::ioctl(counter.fd, PERF_EVENT_IOC_ENABLE, 0);
        const std::array<long long, kindCount> before = read();
        work();
        const std::array<long long, kindCount> after = read();
        for (const Counter& counter : counters_)
            ::ioctl(counter.fd, PERF_EVENT_IOC_DISABLE, 0);
        std::array<long long, kindCount> counts;
        for (int kind = 0; kind < kindCount; ++kind)
            counts[kind] = available() ? after[kind] - before[kind] : -1;
        return counts;
    }

private:
    std::array<long long, kindCount> read() const
    {
        std::array<long long, kindCount> counts {};
        for (const Counter& counter : counters_) {
            std::uint64_t value = 0;
            if (::read(counter.fd, &value, sizeof value) == sizeof value)
                counts[counter.kind] += static_cast<long long>(value);
        }
        return counts;
    }

    struct Counter {
        int kind;
        int fd;
    };

    static int openCounter(pid_t thread, const char* event)
    {
        for (const char* tracing : {"/sys/kernel/tracing/events/", "/sys/kernel/debug/tracing/events/"}) {
            std::ifstream idFile(std::string(tracing) + event + "/id");
            unsigned long long id = 0;
            if (!(idFile >> id))
                continue;
            perf_event_attr attributes {};
            attributes.size = sizeof attributes;
            attributes.type = PERF_TYPE_TRACEPOINT;
            attributes.config = id;
            attributes.disabled = 1;
            attributes.inherit = 1;
            return static_cast<int>(::syscall(SYS_perf_event_open, &attributes, thread, -1, -1, 0));
        }
        return -1;
    }

    void closeAll()
    {
        for (const Counter& counter : counters_)
            ::close(counter.fd);
        counters_.clear();
    }

    std::vector<Counter> counters_;
};

} // namespace tolvex::benchmarks
