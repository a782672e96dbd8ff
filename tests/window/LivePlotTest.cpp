// The live plot beside the console: opened from the window's menu or Ctrl+L, fed through the
// real receive path, its controls, its read-out and its export.
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "LivePlotWindow.h"
#include "ReadingCharts.h"
#include "ReadingHistory.h"
#include "ReadingsCsv.h"
#include "RecordDecoder.h"
#include "WindowFixture.h"

namespace {

using LivePlot = LiveWindow;

// A reading frame with values in hundredths, as packed BCD: sign nibble and hundreds, tens and
// units, tenths and hundredths.
std::vector<std::uint8_t> ReadingFrame(int pitch, int roll, int heading) {
    std::vector<std::uint8_t> payload;
    for (const int v : {pitch, roll, heading}) {
        const int a = std::abs(v);
        payload.push_back(static_cast<std::uint8_t>((v < 0 ? 0x10 : 0) | (a / 10000)));
        payload.push_back(static_cast<std::uint8_t>((a / 1000 % 10) << 4 | (a / 100 % 10)));
        payload.push_back(static_cast<std::uint8_t>((a / 10 % 10) << 4 | (a % 10)));
    }
    return ModuleFrame(0x84, payload);
}

struct Arrival {
    std::array<int, 3> hundredths;  // pitch, roll, heading
    std::int64_t notBefore, notAfter;
};

// Readings across north and with negative values, each sent in a read of its own.
const std::vector<std::array<int, 3>> kValues = {
    {1250, -325, 35990}, {-4500, 1234, 10}, {3, -17999, 35999}, {-1, 9000, 0}, {8999, 0, 27140}};

LivePlotWindow* PlotOf(CCompassDlg& dlg) {
    return dlg.findChild<LivePlotWindow*>();
}

class LivePlotTest : public LivePlot {
public:
    void SetUp() override {
        LivePlot::SetUp();
        folder = std::filesystem::path(testing::TempDir()) /
                 ("torva_plot_" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        dlg->m_strSaveFolder = (folder / "exports").string();
    }
    void TearDown() override {
        LivePlot::TearDown();
        std::filesystem::remove_all(folder);
    }
    // Sends the readings, each as a read of its own, noting when each was sent and taken.
    std::vector<Arrival> SendReadings(const std::vector<std::array<int, 3>>& values) {
        std::vector<Arrival> sent;
        for (const auto& v : values) {
            Arrival s{v, SteadyNowNs(), 0};
            Receive(ReadingFrame(v[0], v[1], v[2]));
            s.notAfter = SteadyNowNs();
            sent.push_back(s);
        }
        return sent;
    }
    // Ctrl+L typed into the console, the active window.
    LivePlotWindow* OpenByShortcut() {
        QApplication::setActiveWindow(dlg.get());
        QTest::keyClick(dlg.get(), Qt::Key_L, Qt::ControlModifier);
        return PlotOf(*dlg);
    }
    std::filesystem::path folder;
};

TEST_F(LivePlotTest, ReadingsFromTheReceivePathReachThePlotWithTheirValuesAndArrivalTimes) {
    const QSize consoleSize = dlg->size();
    // A bad checksum and an acknowledgement between readings reach no plot.
    auto bad = ReadingFrame(1, 2, 3);
    bad.back() ^= 1;
    std::vector<Arrival> sent = SendReadings({kValues[0], kValues[1]});
    Receive(Joined({bad, ModuleFrame(0x85, {0x00})}));
    const std::vector<Arrival> more = SendReadings({kValues.begin() + 2, kValues.end()});
    sent.insert(sent.end(), more.begin(), more.end());
    ASSERT_EQ(sink.boxes.size(), 1u);

    // Kept from start-up although no plot was open.
    const ReadingHistory& history = dlg->session().history();
    ASSERT_EQ(history.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(history[i].pitch, sent[i].hundredths[0] / 100.0, 1e-4);
        EXPECT_NEAR(history[i].roll, sent[i].hundredths[1] / 100.0, 1e-4);
        EXPECT_NEAR(history[i].heading, sent[i].hundredths[2] / 100.0, 1e-4);
        EXPECT_GE(history[i].ns, sent[i].notBefore);
        EXPECT_LE(history[i].ns, sent[i].notAfter);
    }

    LivePlotWindow* plot = OpenByShortcut();
    ASSERT_NE(plot, nullptr) << "Ctrl+L opened no plot";
    EXPECT_TRUE(plot->isVisible() && plot->isWindow());
    EXPECT_EQ(plot->windowModality(), Qt::NonModal);
    ASSERT_TRUE(WaitFor([&] { return plot->Statistics().count == sent.size(); }));
    const SpanStatistics& stats = plot->Statistics();
    EXPECT_NEAR(stats.pitch.min, -45.0, 1e-4);
    EXPECT_NEAR(stats.pitch.max, 89.99, 1e-4);
    EXPECT_NEAR(stats.roll.min, -179.99, 1e-4);
    EXPECT_NEAR(stats.heading.min, 271.40, 1e-4);  // taken around the mean, across north
    EXPECT_NEAR(stats.heading.max, 0.10, 1e-4);

    // Each point drawn is a reading at its time before the view's right edge; the least and
    // the greatest value are among them.
    for (const auto& [quantity, index] :
         {std::pair{Quantity::Pitch, 0}, std::pair{Quantity::Roll, 1}}) {
        const QList<QPointF> drawn = plot->Charts()->DrawnPoints(quantity);
        ASSERT_FALSE(drawn.isEmpty());
        std::vector<double> shown;
        for (const QPointF& p : drawn) {
            bool found = false;
            for (std::size_t i = 0; i < sent.size(); ++i)
                found = found ||
                        (std::abs(p.y() - sent[i].hundredths[std::size_t(index)] / 100.0) < 1e-4 &&
                         std::abs(p.x() - (history[i].ns - plot->ViewEndNs()) / 1e9) < 1e-6);
            EXPECT_TRUE(found) << p.x() << ", " << p.y();
            shown.push_back(p.y());
        }
        EXPECT_NEAR(*std::min_element(shown.begin(), shown.end()), index == 0 ? -45.0 : -179.99,
                    1e-4);
        EXPECT_NEAR(*std::max_element(shown.begin(), shown.end()), index == 0 ? 89.99 : 90.0, 1e-4);
    }

    // The console is as it was.
    EXPECT_EQ(dlg->size(), consoleSize);
    Tick();
    EXPECT_EQ(ShownReadings(), "+89.99 +0.00 271.4");
}

TEST_F(LivePlotTest, OpensFromTheMenuAndClosingItLeavesTheConsoleAndStopsAllDrawing) {
    const QList<QAction*> items = dlg->GetSystemMenu()->actions();
    ASSERT_EQ(items.size(), 8);
    EXPECT_EQ(items[1]->text(), QStringLiteral("Live plot\tCtrl+L"));
    EXPECT_EQ(items[2]->text(), QStringLiteral("Compass swing\tCtrl+K"));
    EXPECT_EQ(items[3]->text(), QStringLiteral("Declination from position..."));
    EXPECT_EQ(items[4]->text(), QStringLiteral("Find module..."));
    EXPECT_EQ(items[5]->text(), QStringLiteral("Ports..."));
    EXPECT_EQ(items[6]->text(), QStringLiteral("Reopen when the adapter returns"));
    EXPECT_TRUE(items[6]->isCheckable() && !items[6]->isChecked());  // off at start
    EXPECT_EQ(items[7]->text(), QStringLiteral("关于 TORVA(&A)..."));

    ChooseFromMenu(*dlg, IDM_LIVEPLOT);
    LivePlotWindow* plot = PlotOf(*dlg);
    ASSERT_NE(plot, nullptr) << "the menu opened no plot";
    ASSERT_TRUE(plot->isVisible());

    // The view follows new readings by itself.
    SendReadings({kValues[0]});
    ASSERT_TRUE(WaitFor([&] { return plot->Statistics().count == 1; }));

    // Escape closes the plot only; the console goes on and the history keeps filling.
    QTest::keyClick(plot, Qt::Key_Escape);
    EXPECT_FALSE(plot->isVisible());
    EXPECT_TRUE(dlg->isVisible() && !dlg->IsDestroyed());
    const int refreshes = plot->Refreshes();
    SendReadings({kValues[1], kValues[2]});
    QTest::qWait(400);  // several refresh periods: a closed plot must not draw in them
    EXPECT_EQ(plot->Refreshes(), refreshes);
    EXPECT_EQ(dlg->session().history().size(), 3u);
    Tick();
    EXPECT_EQ(ShownReadings(), "+0.03 -179.99 360.0");

    // Opened again, it is the same window, brought up to date.
    EXPECT_EQ(OpenByShortcut(), plot);
    EXPECT_TRUE(plot->isVisible());
    EXPECT_TRUE(WaitFor([&] { return plot->Statistics().count == 3; }));
}

TEST_F(LivePlotTest, PauseHoverSpanAutoscaleAndClearActOnTheViewOnly) {
    // Three readings a second apart, the last a second ago.
    const std::int64_t now = SteadyNowNs();
    for (int i = 0; i < 3; ++i) {
        const auto& v = kValues[std::size_t(i == 2 ? 3 : i)];
        dlg->session().history().Append(now - (3 - i) * 1'000'000'000LL, v[0] / 100.0, v[1] / 100.0,
                                        v[2] / 100.0);
    }
    LivePlotWindow* plot = OpenByShortcut();
    ASSERT_NE(plot, nullptr);
    ASSERT_TRUE(WaitFor([&] { return plot->Statistics().count == 3; }));
    auto* pause = plot->findChild<QPushButton*>(QStringLiteral("pause"));
    auto* clear = plot->findChild<QPushButton*>(QStringLiteral("clear"));
    auto* span = plot->findChild<QComboBox*>(QStringLiteral("span"));
    auto* autoPitch = plot->findChild<QCheckBox*>(QStringLiteral("pitchAuto"));
    ASSERT_TRUE(pause && clear && span && autoPitch);

    // Paused, the view stands while readings keep arriving in the history.
    QTest::mouseClick(pause, Qt::LeftButton);
    EXPECT_TRUE(plot->IsPaused());
    EXPECT_EQ(pause->text(), QStringLiteral("Resume"));
    SendReadings({kValues[4]});
    EXPECT_EQ(dlg->session().history().size(), 4u);
    span->setCurrentIndex(0);  // 10 s: redrawn from what the view held at the pause
    EXPECT_EQ(plot->Statistics().count, 3u);
    ReadingCharts* charts = plot->Charts();
    EXPECT_EQ(charts->DrawnPoints(Quantity::Pitch).size(), 3);

    // The mouse over the second reading reads out its time and values.
    const double x = (dlg->session().history()[1].ns - plot->ViewEndNs()) / 1e9;
    QChartView* view = charts->findChildren<QChartView*>().front();
    const QPointF inChart =
        view->chart()->mapToPosition(QPointF(x, 0.0), view->chart()->series().front());
    const QPoint inView = view->mapFromScene(view->chart()->mapToScene(inChart));
    // From elsewhere first: Qt drops a move to where the pointer already is, and an earlier case
    // in this process may have left it there.
    QTest::mouseMove(plot->windowHandle(), QPoint(1, 1));
    QTest::mouseMove(plot->windowHandle(), view->viewport()->mapTo(plot, inView));
    EXPECT_TRUE(plot->ReadOut().startsWith(QString::number(x, 'f', 3) + QStringLiteral(" s")))
        << plot->ReadOut().toStdString();
    EXPECT_TRUE(
        plot->ReadOut().contains(QStringLiteral("heading 0.10°  pitch -45.00°  roll 12.34°")))
        << plot->ReadOut().toStdString();

    QTest::mouseClick(pause, Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return plot->Statistics().count == 4; }));

    // Clear starts afresh: the history is emptied, and the console is untouched.
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_EQ(plot->Statistics().count, 0u);
    EXPECT_TRUE(dlg->session().history().empty());
    SendReadings({kValues[2]});
    EXPECT_TRUE(WaitFor([&] { return plot->Statistics().count == 1; }));
    Tick();
    EXPECT_EQ(ShownReadings(), "+0.03 -179.99 360.0");

    // Autoscale narrows the pitch chart to its values; off, it shows -90 to 90 again.
    QTest::mouseClick(autoPitch, Qt::LeftButton);
    const auto [low, high] = charts->YRange(Quantity::Pitch);
    EXPECT_LT(low, 0.03);
    EXPECT_GT(high, 0.03);
    EXPECT_LE(high - low, 0.2);
    QTest::mouseClick(autoPitch, Qt::LeftButton);
    EXPECT_EQ(charts->YRange(Quantity::Pitch), (std::pair{-90.0, 90.0}));
}

std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');)
            fields.push_back(cell);
        if (!line.empty() && line.back() == ',')
            fields.emplace_back();
        rows.push_back(fields);
    }
    return rows;
}

TEST_F(LivePlotTest, ExportWritesTheSpanOnViewInTorvaDecodesFormatsAndThePng) {
    std::vector<std::array<int, 3>> values(kValues);
    values.push_back({-12, 5, 35999});
    const std::vector<Arrival> sent = SendReadings(values);
    LivePlotWindow* plot = OpenByShortcut();
    ASSERT_NE(plot, nullptr);
    ASSERT_TRUE(WaitFor([&] { return plot->Statistics().count == values.size(); }));

    QTest::mouseClick(plot->findChild<QPushButton*>(QStringLiteral("exportCsv")), Qt::LeftButton);
    const std::filesystem::path exports = folder / "exports";
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(exports))
        files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u) << plot->Message().toStdString();
    EXPECT_TRUE(plot->Message().contains(QString::fromStdString(files[0].string())));
    std::ifstream in(files[0]);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto exported = CsvRows(text);

    // The same frames through torva-decode's reader and CSV writer.
    std::string record = "Date: 2026-12-07  Time:09:05:03\r\n";
    for (const auto& v : values)
        record += Hex(ReadingFrame(v[0], v[1], v[2])) + " \r\n";
    std::istringstream recordIn(record);
    std::string decodedCsv = CsvHeader(false);
    DecodeRecord(recordIn, "Rec00.txt", [&](const DecodedFrame& frame) {
        AppendCsvRow(decodedCsv, "Rec00.txt", frame, false, std::string());
    });
    const auto decoded = CsvRows(decodedCsv);

    ASSERT_EQ(exported.size(), values.size() + 1);
    ASSERT_EQ(decoded.size(), values.size() + 1);
    EXPECT_EQ(exported[0], (std::vector<std::string>{"time", "pitch", "roll", "heading"}));
    const std::int64_t offset = WallClockOffsetNs();
    for (std::size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& row = exported[i + 1];
        ASSERT_EQ(row.size(), 4u);
        // pitch, roll and heading are columns 4 to 6 of torva-decode's rows.
        EXPECT_EQ(row[1], decoded[i + 1][4]);
        EXPECT_EQ(row[2], decoded[i + 1][5]);
        EXPECT_EQ(row[3], decoded[i + 1][6]);
        // The wall-clock time of arrival, to the millisecond, in torva-decode's time format.
        EXPECT_EQ(row[0].size(), std::string("2026-12-07 09:05:33.201").size());
        const std::string early = LocalTimeText(sent[i].notBefore + offset - 2'000'000);
        const std::string late = LocalTimeText(sent[i].notAfter + offset + 2'000'000);
        EXPECT_LE(early, row[0]);
        EXPECT_GE(late, row[0]);
    }

    // The charts as a PNG, next to the CSV; a second export never overwrites the first.
    const QString png = plot->ExportPng();
    ASSERT_FALSE(png.isEmpty()) << plot->Message().toStdString();
    const QImage image(png);
    EXPECT_EQ(image.size(), plot->Charts()->size());
    const QString second = plot->ExportCsv();
    EXPECT_NE(second.toStdString(), files[0].string());
    EXPECT_TRUE(QFile::exists(second));

    // A folder that cannot be made: a message, and no file anywhere.
    std::ofstream(folder / "plain") << "x";
    dlg->m_strSaveFolder = (folder / "plain" / "sub").string();
    EXPECT_TRUE(plot->ExportCsv().isEmpty());
    EXPECT_TRUE(plot->Message().contains(QStringLiteral("nothing was exported")));
    EXPECT_FALSE(std::filesystem::exists(folder / "plain" / "sub"));
}

// The plot window alone over a history of its own, exporting into a folder of the test's.
class PlotExportTest : public ::testing::Test {
public:
    void SetUp() override {
        root = std::filesystem::path(testing::TempDir()) /
               ("torva_export_" + std::to_string(::getpid()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "exports");
        // 2000 readings over the last 10 s: some 90 kB of CSV.
        const std::int64_t now = SteadyNowNs();
        for (int i = 0; i < 2000; ++i)
            history.Append(now - (2000 - i) * 5'000'000LL, std::sin(i / 40.0) * 80.0,
                           std::cos(i / 25.0) * 170.0, (i * 7) % 36000 / 100.0);
        plot = std::make_unique<LivePlotWindow>(
            history, [this] { return QString::fromStdString((root / "exports").string()); });
        plot->show();
        ASSERT_TRUE(WaitFor([&] { return plot->Statistics().count == 2000; }));
    }
    void TearDown() override {
        plot.reset();
        std::filesystem::remove_all(root);
    }
    // Clicks an export button; the path the window names, or empty.
    QString Export(const char* button) {
        QTest::mouseClick(plot->findChild<QPushButton*>(QString::fromLatin1(button)),
                          Qt::LeftButton);
        const QString message = plot->Message();
        const qsizetype at = message.indexOf(QLatin1Char('/'));
        return message.startsWith(QStringLiteral("Cannot")) || at < 0 ? QString() : message.mid(at);
    }
    std::vector<std::string> ExportNames() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(root / "exports"))
            if (entry.path().filename().string().rfind("Plot-", 0) == 0)
                names.push_back(entry.path().filename().string());
        return names;
    }

    std::filesystem::path root;
    ReadingHistory history;
    std::unique_ptr<LivePlotWindow> plot;
};

const std::vector<std::pair<const char*, std::string>> kExports = {{"exportCsv", ".csv"},
                                                                   {"exportPng", ".png"}};

// Links planted under the names the next seconds' exports would take, pointing elsewhere: an
// export creates its own file in the folder and never writes through one.
TEST_F(PlotExportTest, NeverWritesThroughALinkPlantedAtItsName) {
    std::filesystem::create_directories(root / "elsewhere");
    const QDateTime now = QDateTime::currentDateTime();
    std::vector<std::filesystem::path> links;
    for (int second = -1; second <= 30; ++second) {
        const std::string stem =
            "Plot-" + now.addSecs(second).toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
        for (const auto& [button, suffix] : kExports) {
            links.push_back(root / "exports" / (stem + suffix));
            std::filesystem::create_symlink(root / "elsewhere" / ("taken" + suffix), links.back());
        }
    }
    for (const auto& [button, suffix] : kExports) {
        SCOPED_TRACE(button);
        const QString path = Export(button);
        ASSERT_FALSE(path.isEmpty()) << plot->Message().toStdString();
        const std::filesystem::path written(path.toStdString());
        EXPECT_EQ(written.parent_path(), root / "exports");
        EXPECT_EQ(written.extension(), suffix);
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(written)));
        EXPECT_GT(std::filesystem::file_size(written), 1000u);
    }
    EXPECT_TRUE(std::filesystem::is_empty(root / "elsewhere"));
    for (const auto& link : links)
        EXPECT_TRUE(std::filesystem::is_symlink(link)) << link;
}

// A file system of its own, so small that it is full after a few kilobytes; unmounted when the
// object goes.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const std::filesystem::path& at) : m_at(at) {
        std::filesystem::create_directories(at);
        if (::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=512k,mode=0700") == 0)
            m_mounted = true;
        else
            m_error = std::strerror(errno);
    }
    ~SmallFileSystem() {
        if (m_mounted && ::umount2(m_at.c_str(), 0) != 0)
            ::umount2(m_at.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool Mounted() const { return m_mounted; }
    const std::string& Error() const { return m_error; }
    std::uintmax_t Free() const {
        struct statvfs s {};
        return ::statvfs(m_at.c_str(), &s) == 0 ? std::uintmax_t(s.f_bavail) * s.f_frsize : 0;
    }

private:
    std::filesystem::path m_at;
    bool m_mounted = false;
    std::string m_error;
};

// The disk fills up during the export: the window says so, and no cut file stays behind to be
// taken for an export. With room again, the same exports are whole.
TEST_F(PlotExportTest, AnExportCutShortByAFullDiskIsRemovedAndReported) {
    const SmallFileSystem disk(root / "exports");
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (" << disk.Error() << "); mounting needs root";
    const std::filesystem::path filler = root / "exports" / "filler";
    constexpr std::uintmax_t kLeft = 12 * 1024;
    {
        std::ofstream out(filler, std::ios::binary);
        const std::string block(disk.Free() - kLeft, 'x');
        out << block;
    }
    ASSERT_LE(disk.Free(), kLeft);
    ASSERT_GT(disk.Free(), 0u);

    for (const auto& [button, suffix] : kExports) {
        SCOPED_TRACE(button);
        EXPECT_TRUE(Export(button).isEmpty());
        const std::string message = plot->Message().toStdString();
        EXPECT_NE(message.find("No space left on device"), std::string::npos) << message;
        EXPECT_NE(message.find("nothing was exported"), std::string::npos) << message;
        EXPECT_TRUE(ExportNames().empty()) << ExportNames().front();
    }

    std::filesystem::remove(filler);
    for (const auto& [button, suffix] : kExports) {
        SCOPED_TRACE(button);
        const QString path = Export(button);
        ASSERT_FALSE(path.isEmpty()) << plot->Message().toStdString();
        // Each is larger than the room that was left, so the failures above were real.
        EXPECT_GT(std::filesystem::file_size(path.toStdString()), kLeft);
        if (suffix == ".png") {
            EXPECT_EQ(QImage(path).size(), plot->Charts()->size());
        } else {
            std::ifstream in(path.toStdString());
            std::string line;
            int lines = 0;
            while (std::getline(in, line))
                ++lines;
            EXPECT_EQ(lines, 2001);
        }
    }
}

}  // namespace
