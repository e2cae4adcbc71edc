// Captures on the simulated box: "Save file", timed stops on timer 1, the
// acknowledgement, the working and numbered files, the hot key, the
// automatic cycle on timer 5 and the decimal report, compared with the bytes
// the box logged as sent.
#include "bench/capture.h"
#include "common/clock.h"
#include "measure/decimal_report.h"
#include "support/bench/sim_bench.h"
#include "support/capture_blocks.h"
#include "support/read_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <functional>

namespace {

using Log = std::vector<std::string>;

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

struct CaptureBench : SimBench {
    explicit CaptureBench(const QString& protocol = {})
    {
        if (!protocol.isEmpty())
            chooseProtocol(protocol);
        EXPECT_TRUE(configure());
        settle();
        clearPackets();
        box->clearCaptureLog();
        view.clearMessages();
    }

    Capture& cap() { return bench->capture(); }
    QString dir() const { return Capture::captureDirectory(); }
    QString working() const { return dir() + "/num.txt"; }
    QString numbered(int n) const { return dir() + "/FileName" + QString::number(n) + ".txt"; }
    QString chosen(const QString& name) const { return dataRoot.path() + "/" + name; }

    void press() { bench->onCommand(Command::SaveFile); }
    void tick(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            bench->onTimer(kTimerCapture);
    }
    // Until the worker has handled the acknowledgement (or gave up on it).
    bool waitIdle(double benchMs = 10000)
    {
        for (double t = 0; t < benchMs; t += 5) {
            if (cap().phase() == Capture::Phase::Idle) {
                settle();
                return true;
            }
            benchSleep(5);
        }
        return false;
    }
    // A capture of `benchMs` stopped by "Save file".
    void captureFor(double benchMs)
    {
        press();
        ASSERT_EQ(cap().phase(), Capture::Phase::Capturing);
        benchSleep(benchMs);
        press();
        ASSERT_TRUE(waitIdle());
    }
    QByteArray expectedFile() const { return captureFileOf(box->captureTransfers()); }
};

}  // namespace

TEST(Capture, TimedCaptureBlinksStopsAtTickSixAndTheDialogTakesTheFile)
{
    CaptureBench b;
    // A late acknowledgement lets the sixth tick's lamp be seen.
    b.box->setCaptureAckDelayMs(300);
    const QString target = b.chosen("kept.txt");
    b.view.queueFileAnswer(target);
    b.press();
    EXPECT_EQ(b.view.controls().text(Control::SaveFile), "Stop Collecting");
    EXPECT_FALSE(b.view.controls().isEnabled(Control::TimedCapture));
    EXPECT_EQ(b.view.timerPeriod(kTimerCapture), 500);
    EXPECT_TRUE(QFileInfo::exists(b.working()));

    std::vector<LampImage> lamps;
    for (int t = 1; t <= 6; ++t) {
        EXPECT_TRUE(b.state.link.flags.isUp(Flag::SaveActive)) << "still capturing before tick " << t;
        benchSleep(50);
        b.tick();
        lamps.push_back(b.view.controls().lamp(Control::CaptureLamp));
    }
    using L = LampImage;
    EXPECT_EQ(lamps, (std::vector<L>{L::Unlit, L::Lit, L::Unlit, L::Lit, L::Unlit, L::Lit}));
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::SaveActive)) << "3 s stop at the sixth tick";
    ASSERT_TRUE(b.waitIdle());

    EXPECT_EQ(b.packetLog(), (Log{"6A", "5A", "6A"}));
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::StopCmd));
    EXPECT_FALSE(b.view.timerRunning(kTimerCapture));
    EXPECT_EQ(b.view.controls().lamp(Control::CaptureLamp), LampImage::Unlit);
    EXPECT_EQ(b.view.controls().text(Control::SaveFile), "Save file");
    EXPECT_TRUE(b.view.controls().isEnabled(Control::TimedCapture));
    ASSERT_EQ(b.view.fileRequests().size(), 1u);
    const FileDialogRequest r = b.view.fileRequests()[0];
    EXPECT_EQ(r.defaultName, "FileName1");
    EXPECT_EQ(r.defaultExtension, "doc");
    EXPECT_EQ(r.filters, kCaptureFilters);
    EXPECT_FALSE(QFileInfo::exists(b.working()));
    const QByteArray file = readFile(target);
    EXPECT_GT(file.size(), 0);
    EXPECT_EQ(file.size() % kCaptureBlockBytes, 0);
    EXPECT_EQ(file, b.expectedFile());
    EXPECT_TRUE(b.view.messages().isEmpty());
}

TEST(Capture, SixtySecondsMatchTheBoxLogBlockForBlock)
{
    CaptureBench b;
    b.view.queueFileAnswer(b.chosen("minute.txt"));
    b.captureFor(60000);
    const auto transfers = b.box->captureTransfers();
    // 8000 six-byte records a second: 70 full transfers and the tail.
    EXPECT_GE(transfers.size(), 70u);
    EXPECT_EQ(b.box->state().lostBytes, 0u);
    EXPECT_TRUE(b.view.messages().isEmpty()) << b.view.messages().join("|").toStdString();
    const QByteArray file = readFile(b.chosen("minute.txt"));
    const QByteArray expected = b.expectedFile();
    ASSERT_EQ(file.size(), expected.size());
    for (qsizetype at = 0; at < file.size(); at += kCaptureBlockBytes)
        ASSERT_EQ(file.mid(at, kCaptureBlockBytes), expected.mid(at, kCaptureBlockBytes))
            << "block " << at / kCaptureBlockBytes;
}

TEST(Capture, AcknowledgementDecidesWhetherTheCaptureIsKept)
{
    struct Case {
        const char* protocol;
        std::function<void(SimBox&)> inject;
        bool kept;
        bool passed;
        const char* status;
        QStringList messages;
    };
    const Case cases[] = {
        {"BISS", [](SimBox&) {}, true, true, "ok", {}},
        {"BISS", [](SimBox& box) { box.setCaptureAckStatus(5); }, false, false, "transmission-error", {kMsgCaptureBroken}},
        {"ADC_121", [](SimBox& box) { box.setCaptureAckStatus(5); }, true, true, "ok", {}},  // status not read
        {"BISS", [](SimBox& box) { box.injectCaptureOverflow(3); }, false, false, "transmission-error",
         {kMsgCaptureBroken}},  // box lost data
        // No acknowledgement within the bounded wait: the data up to the
        // stop may be whole; they are kept and offered, and the user told.
        {"BISS", [](SimBox& box) { box.setCaptureAckAbsent(true); }, true, false, "unacknowledged",
         {kMsgUnacknowledged}},
        {"BISS", [](SimBox& box) { box.setCaptureAckDelayMs(500); }, true, true, "ok", {}},
    };
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << i++ << " " << c.protocol);
        CaptureBench b(c.protocol);
        c.inject(*b.box);
        b.view.queueFileAnswer(b.chosen("kept.txt"));
        b.captureFor(300);
        EXPECT_FALSE(QFileInfo::exists(b.working()));
        EXPECT_EQ(QFileInfo::exists(b.chosen("kept.txt")), c.kept);
        EXPECT_EQ(b.view.messages(), c.messages);
        const TestReport r = b.lastReport("capture");
        EXPECT_EQ(r.passed, c.passed);
        EXPECT_EQ(r.figures["status"].toString(), c.status);
        if (c.kept) {
            EXPECT_EQ(r.figures["file"].toString(), QFileInfo(b.chosen("kept.txt")).absoluteFilePath());
            EXPECT_EQ(r.figures["bytes"].toInteger(), QFileInfo(b.chosen("kept.txt")).size());
        }
        EXPECT_EQ(b.view.controls().text(Control::SaveFile), "Save file");
        EXPECT_FALSE(b.state.link.flags.isUp(Flag::StopCmd));
    }
}

TEST(Capture, NumberedFilesNeverOverwriteAndTheHotKeyEndsWithoutDialog)
{
    CaptureBench b;
    QDir().mkpath(b.dir());
    writeFile(b.numbered(1), "from an earlier run");

    // A hot-key capture goes straight to the next free numbered file.
    b.bench->onHotKey(kCaptureHotKeyId);
    EXPECT_TRUE(b.cap().hotKeyMarked());
    EXPECT_EQ(b.cap().filePath(), b.numbered(2));
    benchSleep(200);
    b.bench->onHotKey(kCaptureHotKeyId);
    ASSERT_TRUE(b.waitIdle());
    EXPECT_EQ(readFile(b.numbered(1)), "from an earlier run");
    EXPECT_EQ(readFile(b.numbered(2)), b.expectedFile());
    EXPECT_TRUE(b.view.fileRequests().empty());
    EXPECT_FALSE(b.cap().hotKeyMarked());
    EXPECT_EQ(b.state.fileCounter.load(), 2);

    // A manual capture stopped by the hot key is not left in the working
    // file either: it goes to the next number, without a dialog.
    b.box->clearCaptureLog();
    b.press();
    EXPECT_EQ(b.cap().filePath(), b.working());
    benchSleep(200);
    b.bench->onHotKey(kCaptureHotKeyId);
    ASSERT_TRUE(b.waitIdle());
    EXPECT_FALSE(QFileInfo::exists(b.working()));
    EXPECT_EQ(readFile(b.numbered(3)), b.expectedFile());
    EXPECT_TRUE(b.view.fileRequests().empty());

    // Other identifiers are not the capture's key.
    b.bench->onHotKey(kCaptureHotKeyId + 1);
    EXPECT_EQ(b.cap().phase(), Capture::Phase::Idle);
}

TEST(Capture, RefusedPressesChangeNothing)
{
    struct Case {
        const char* what;
        std::function<void(CaptureBench&)> arrange;
        QStringList messages;
    };
    const Case cases[] = {
        {"seconds 0", [](CaptureBench& b) { b.type(Control::CaptureSeconds, "0"); }, {}},
        {"seconds 0, untimed",
         [](CaptureBench& b) {
             b.bench->onToggled(Control::TimedCapture, false);
             b.type(Control::CaptureSeconds, "0");
         },
         {}},
        {"not configured", [](CaptureBench& b) { b.bench->stopAll(); }, {kMsgSetConfiguration}},
        {"power off", [](CaptureBench& b) { b.state.link.flags.raise(Flag::PowerOffCmd); }, {}},
        {"reading", [](CaptureBench& b) { b.state.link.flags.raise(Flag::ReadActive); }, {}},
        {"eeprom write", [](CaptureBench& b) { b.state.link.flags.raise(Flag::EepromWriteCmd); }, {}},
        {"force test", [](CaptureBench& b) { b.state.link.flags.raise(Flag::ForceActive); }, {}},
        {"no box",
         [](CaptureBench& b) {
             b.bus->unplug(b.box);
             b.bus->waitForNotifications();
         },
         {kMsgReconnectUsb}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CaptureBench b;
        c.arrange(b);
        b.settle();
        b.clearPackets();
        b.view.clearMessages();
        // Other operations' timers stay as they are.
        b.view.startTimer(kTimerEeprom, 500);
        b.view.startTimer(kTimerForce, 10);
        b.bench->onHotKey(kCaptureHotKeyId);
        b.settle();
        EXPECT_EQ(b.view.messages(), c.messages);
        EXPECT_EQ(b.cap().phase(), Capture::Phase::Idle);
        EXPECT_FALSE(b.cap().hotKeyMarked()) << "a refused hot-key press leaves no mark";
        EXPECT_FALSE(b.state.link.flags.isUp(Flag::SaveActive));
        EXPECT_TRUE(b.packetLog().empty());
        EXPECT_TRUE(b.view.timerRunning(kTimerEeprom));
        EXPECT_TRUE(b.view.timerRunning(kTimerForce));
        EXPECT_FALSE(QFileInfo::exists(b.dir()));
    }
}

TEST(Capture, TheDialogDecidesWhereAManualCaptureGoes)
{
    {
        SCOPED_TRACE("cancelled: the working file goes");
        CaptureBench b;
        b.captureFor(200);
        EXPECT_FALSE(QFileInfo::exists(b.working()));
        EXPECT_TRUE(b.view.messages().isEmpty());
    }
    {
        SCOPED_TRACE("an existing file is replaced");
        CaptureBench b;
        writeFile(b.chosen("old.doc"), "old contents");
        b.view.queueFileAnswer(b.chosen("old.doc"));
        b.captureFor(200);
        EXPECT_EQ(readFile(b.chosen("old.doc")), b.expectedFile());
        EXPECT_FALSE(QFileInfo::exists(b.working()));
    }
    {
        SCOPED_TRACE("a target that cannot be written keeps the working file");
        CaptureBench b;
        QDir().mkpath(b.chosen("a-folder"));
        b.view.queueFileAnswer(b.chosen("a-folder"));
        b.captureFor(200);
        ASSERT_EQ(b.view.messages().size(), 1);
        EXPECT_TRUE(b.view.messages()[0].contains(b.working()));
        EXPECT_EQ(readFile(b.working()), b.expectedFile());
        EXPECT_TRUE(QFileInfo(b.chosen("a-folder")).isDir());
    }
}

TEST(Capture, AFileThatCannotBeCreatedStartsNothing)
{
    CaptureBench b;
    QDir().mkpath(b.working());  // a folder where the working file belongs
    b.press();
    b.settle();
    ASSERT_EQ(b.view.messages().size(), 1);
    EXPECT_TRUE(b.view.messages()[0].startsWith("Cannot create the capture file"));
    EXPECT_EQ(b.cap().phase(), Capture::Phase::Idle);
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::SaveActive));
    EXPECT_EQ(b.packetLog(), (Log{"6A"})) << "no 5A";
    EXPECT_FALSE(b.view.timerRunning(kTimerCapture));
    EXPECT_NE(b.view.controls().text(Control::SaveFile), "Stop Collecting");
    EXPECT_EQ(b.state.link.workers.runningCount(), 0u);
}

TEST(Capture, RemovalDuringACaptureEndsItThroughStopAllAndOffersWhatArrived)
{
    CaptureBench b;
    b.view.queueFileAnswer(b.chosen("until-unplugged.txt"));
    b.press();
    benchSleep(2000);
    ASSERT_TRUE(b.bus->unplug(b.box));
    b.bus->waitForNotifications();
    ASSERT_TRUE(b.waitIdle());
    EXPECT_EQ(b.view.controls().text(Control::SaveFile), "Save file");
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::SaveActive));
    EXPECT_FALSE(b.view.timerRunning(kTimerCapture));
    // What arrived is offered like a finished capture, never left in the
    // working file for the next capture to overwrite.
    EXPECT_FALSE(QFileInfo::exists(b.working()));
    ASSERT_TRUE(QFileInfo::exists(b.chosen("until-unplugged.txt")));
    EXPECT_GE(QFileInfo(b.chosen("until-unplugged.txt")).size(), kCaptureBlockBytes);
    EXPECT_TRUE(b.view.messages().contains(kMsgCaptureFault.arg("the box was removed")));
    const TestReport r = b.lastReport("capture");
    EXPECT_FALSE(r.passed);
    EXPECT_EQ(r.figures["status"].toString(), "unplugged");
    EXPECT_TRUE(b.view.controls().isEnabled(Control::TimedCapture));
    b.settle();
    EXPECT_EQ(b.state.link.workers.runningCount(), 0u);
}

TEST(Capture, AutomaticCycleCapturesPausesAndCapturesAgain)
{
    CaptureBench b;
    b.type(Control::CaptureSeconds, "1");
    b.bench->onToggled(Control::AutomaticSave, true);
    b.view.startTimer(kTimerEeprom, 500);  // someone else's timer
    b.press();
    EXPECT_EQ(b.cap().filePath(), b.numbered(1));
    b.tick(2);  // 1 s
    EXPECT_TRUE(b.view.timerRunning(kTimerAutoSave));
    EXPECT_TRUE(b.cap().pausing());
    ASSERT_TRUE(b.waitIdle());
    EXPECT_EQ(b.packetLog(), (Log{"6A", "4A", "5A", "6A", "2C"}));
    EXPECT_TRUE(QFileInfo::exists(b.numbered(1)));
    EXPECT_TRUE(b.view.fileRequests().empty());

    b.clearPackets();
    for (int i = 1; i < kAutoSavePauseTicks; ++i)
        b.bench->onTimer(kTimerAutoSave);
    EXPECT_EQ(b.cap().pauseTicks(), kAutoSavePauseTicks - 1);
    EXPECT_TRUE(b.packetLog().empty()) << "nothing before 1800 ticks";

    // Due while the bench reads: asked again on the next tick.
    b.state.link.flags.raise(Flag::ReadActive);
    b.bench->onTimer(kTimerAutoSave);
    EXPECT_EQ(b.cap().phase(), Capture::Phase::Idle);
    EXPECT_TRUE(b.view.timerRunning(kTimerAutoSave));
    b.state.link.flags.lower(Flag::ReadActive);
    b.bench->onTimer(kTimerAutoSave);
    EXPECT_EQ(b.cap().phase(), Capture::Phase::Capturing);
    EXPECT_FALSE(b.view.timerRunning(kTimerAutoSave));
    EXPECT_EQ(b.cap().filePath(), b.numbered(2));
    b.settle();
    EXPECT_EQ(b.packetLog(), (Log{"6A", "4A", "5A"}));

    // Clearing "Automatic_save" ends the blinking and timed stop only.
    b.bench->onToggled(Control::AutomaticSave, false);
    EXPECT_FALSE(b.view.timerRunning(kTimerCapture));
    EXPECT_TRUE(b.view.timerRunning(kTimerEeprom));
    b.press();
    ASSERT_TRUE(b.waitIdle());
    EXPECT_TRUE(QFileInfo::exists(b.numbered(2)));
    EXPECT_TRUE(b.view.fileRequests().empty()) << "a numbered capture stays where it is";
}

TEST(Capture, SaveAsDecimalWritesTheReport)
{
    {
        SCOPED_TRACE("BISS: the report replaces the raw capture");
        CaptureBench b;
        b.bench->onToggled(Control::SaveAsDecimal, true);
        b.view.queueFileAnswer(b.chosen("report.doc"));
        b.captureFor(200);
        const QByteArray raw = b.expectedFile();
        const InterfaceSettings s = b.state.settingsSnapshot();
        DecimalReportSettings rs;
        rs.modes = s.modes;
        rs.fieldCount = s.fieldCount;
        rs.fieldWidth = s.fieldWidth;
        rs.fieldMask = s.fieldMask;
        for (int k = 0; k < 10; ++k)
            rs.fieldLabel[k] = s.fieldLabel[k].toStdString();
        const std::string expected =
            decimalReport(std::span(reinterpret_cast<const std::uint8_t*>(raw.constData()), raw.size()), rs);
        EXPECT_GT(expected.size(), 1000u);
        EXPECT_EQ(readFile(b.chosen("report.doc")).toStdString(), expected);
        EXPECT_FALSE(QFileInfo::exists(b.working()));
        EXPECT_EQ(b.view.fileRequests().at(0).defaultName, "FileName1");
    }
    {
        SCOPED_TRACE("ADC: an empty report, the raw capture kept numbered");
        CaptureBench b("ADC_121");
        b.bench->onToggled(Control::SaveAsDecimal, true);
        b.view.queueFileAnswer(b.chosen("report.doc"));
        b.captureFor(200);
        EXPECT_TRUE(QFileInfo::exists(b.chosen("report.doc")));
        EXPECT_EQ(readFile(b.chosen("report.doc")).size(), 0);
        EXPECT_FALSE(QFileInfo::exists(b.working()));
        EXPECT_EQ(readFile(b.numbered(2)), b.expectedFile());
        ASSERT_EQ(b.view.messages().size(), 1);
        EXPECT_TRUE(b.view.messages()[0].contains(b.numbered(2)));
    }
    {
        SCOPED_TRACE("a report that cannot be written keeps the capture");
        CaptureBench b;
        b.bench->onToggled(Control::SaveAsDecimal, true);
        b.view.queueFileAnswer(b.chosen("no-such-folder/report.doc"));
        b.captureFor(200);
        ASSERT_EQ(b.view.messages().size(), 1);
        EXPECT_TRUE(b.view.messages()[0].startsWith("The decimal report could not be written"));
        EXPECT_EQ(readFile(b.working()), b.expectedFile());
    }
}

TEST(Capture, SaveFileSearchesTheBusBeforeItAsksForTheBox)
{
    // The box is on the bus, but the link lost its endpoints without a
    // device change reaching the bench: the press finds it again.
    CaptureBench b;
    b.state.link.inEndpoint.set(nullptr);
    b.state.link.outEndpoint.set(nullptr);
    b.press();
    EXPECT_TRUE(b.view.messages().isEmpty()) << b.view.messages().join("|").toStdString();
    EXPECT_EQ(b.cap().phase(), Capture::Phase::Capturing);
    EXPECT_EQ(b.view.title(), "Rotoscope");
    b.bench->stopAll();

    // Without a box on the bus the search finds none and the user is asked.
    ASSERT_TRUE(b.bus->unplug(b.box));
    b.bus->waitForNotifications();
    b.settle();
    b.view.clearMessages();
    b.press();
    EXPECT_EQ(b.view.messages(), QStringList{kMsgReconnectUsb});
}
