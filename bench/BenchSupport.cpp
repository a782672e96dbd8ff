#include "BenchSupport.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "CompassDlg.h"
#include "Response.h"
#include "resource.h"

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

void PrintingSink::ShowMessageBox(QWidget*, const MessageBoxRequest& request) {
    ++boxes;
    std::fprintf(stderr, "%s: message box: %s\n", m_program, qPrintable(request.text));
}

StreamingWindow::StreamingWindow(int rate, long long frames, UiSink& sink,
                                 const std::function<void(CCompassDlg&)>& prepare)
    : sim(TORVA_MODULESIM_PATH,
          {"--rate", std::to_string(rate), "--frames", std::to_string(frames), "--stats"}) {
    constexpr int kSpeed115200 = 5;  // entry of the speed list
    const std::optional<std::string> device = sim.ReadLine(std::chrono::seconds(5));
    if (!device || device->empty())
        throw std::runtime_error("the simulator named no device");
    qputenv("TORVA_COM1", QByteArray::fromStdString(*device));
    dlg.SetUiSink(&sink);
    dlg.Create();
    if (prepare)
        prepare(dlg);
    dlg.m_cboBaud.SetCurSel(kSpeed115200);
    QObject::connect(&dlg.session(), &ModuleSession::frameRate, &dlg,
                     [this](int frames) { m_counted += frames; });
    Click(dlg, IDC_BTN_OPENCOM);
    if (dlg.m_bPortOpen == 0)
        throw std::runtime_error("the port did not open: " + *device);
    Click(dlg, IDC_BTN_AUTOOUT);  // sent by the next poll tick, which logs it
    if (!RunEventsUntil([this] { return !dlg.session().log().sendText().empty(); },
                        Clock::now() + std::chrono::seconds(3), 1))
        throw std::runtime_error("the automatic-output request was not sent");
}

}  // namespace bench
