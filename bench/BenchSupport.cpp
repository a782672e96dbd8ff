#include "BenchSupport.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QEventLoop>
#include <QTimer>
#include <fstream>
#include <stdexcept>
#include <string>

#include "CompassDlg.h"

namespace bench {

void RunEventsUntil(Clock::time_point until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(left), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool RunEventsUntil(const std::function<bool()>& done, Clock::time_point deadline, int everyMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || Clock::now() >= deadline)
            loop.quit();
    });
    check.start(everyMs);
    loop.exec();
    return done();
}

void Click(CCompassDlg& dlg, int id) {
    auto* button = qobject_cast<QAbstractButton*>(dlg.GetDlgItem(id));
    if (!button)
        throw std::runtime_error("no button " + std::to_string(id));
    button->click();
}

double ResidentMb() {
    std::ifstream statm("/proc/self/statm");
    long long sizePages = 0;
    long long residentPages = 0;
    statm >> sizePages >> residentPages;
    return static_cast<double>(residentPages) * static_cast<double>(::sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

}  // namespace bench
