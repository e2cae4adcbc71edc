// Configuration files through the bench: save and load dialogs, the record
// on disk, the default file at close and start-up, and bad files.
#include "bench/config_files.h"
#include "measure/config_record.h"
#include "common/clock.h"
#include "interface/protocol_table.h"
#include "support/bench/sim_bench.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <set>
#include <sys/stat.h>
#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

TEST(ConfigFiles, DefaultBissRecordBytes)
{
    SimBench b;
    const QString path = b.dataRoot.filePath("a.cfg");
    b.view.queueFileAnswer(path);
    b.bench->onCommand(Command::SaveConfigFile);
    const QByteArray bytes = readAll(path);
    ASSERT_EQ(bytes.size(), 512);
    QByteArray expected = QByteArray::fromHex("00000F1102000000000312000000 00");
    expected += QByteArray("\x02St\x05" "Error\x07Warning", 1 + 2 + 1 + 5 + 1 + 7);
    expected += QByteArray(8, '\0');  // seven empty labels and the description
    expected += QByteArray(1, '\0');  // Binary
    expected += QByteArray(512 - expected.size(), '\0');
    EXPECT_EQ(bytes.toHex(), expected.toHex());

    const auto requests = b.view.fileRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].defaultName, "FileName1");
    EXPECT_EQ(requests[0].defaultExtension, "doc");
}

TEST(ConfigFiles, RoundTripOfEveryProtocol)
{
    SimBench b;
    const QStringList protocols = b.view.controls().items(Control::Protocols);
    for (const QString& name : protocols) {
        SCOPED_TRACE(name.toStdString());
        SimBench save;
        save.chooseProtocol(name);
        save.type(Control::FieldWidth1, "26");
        save.type(Control::FieldLabel1, "Pos\n13 bytes..");
        save.type(Control::Description, "Bench 4 — 编码器");
        const QString path = save.dataRoot.filePath("p.cfg");
        save.view.queueFileAnswer(path);
        save.bench->onCommand(Command::SaveConfigFile);

        SimBench load;
        load.view.queueFileAnswer(path);
        load.bench->onCommand(Command::LoadConfigFile);
        const QString expectedName = name == "SPI_CRC" ? "SPI" : name;
        EXPECT_EQ(load.view.controls().text(Control::Protocols), expectedName);
        EXPECT_EQ(load.state.settings().protocolCode, save.state.settings().protocolCode);
        EXPECT_EQ(load.view.controls().text(Control::FieldWidth1), "26");
        EXPECT_EQ(load.view.controls().text(Control::FieldLabel1), "Pos\n13 bytes..");
        EXPECT_EQ(load.view.controls().text(Control::Description), "Bench 4 — 编码器");
        EXPECT_EQ(load.view.controls().text(Control::FrequencyText), save.view.controls().text(Control::FrequencyText));
        EXPECT_EQ(load.state.settings().clockCode, save.state.settings().clockCode);
        EXPECT_TRUE(load.view.messages().isEmpty() || name == "HTL");
    }
}

TEST(ConfigFiles, MultiturnAndClockByte)
{
    SimBench b;
    b.chooseProtocol("SSI");
    b.view.setCurrentIndex(Control::TurnList, 1);
    b.bench->onChosen(Control::TurnList, 1);
    const QString path = b.dataRoot.filePath("m.cfg");
    b.view.queueFileAnswer(path);
    b.bench->onCommand(Command::SaveConfigFile);
    EXPECT_EQ(static_cast<unsigned char>(readAll(path)[10]), 35);

    SimBench load;
    load.view.queueFileAnswer(path);
    load.bench->onCommand(Command::LoadConfigFile);
    EXPECT_EQ(load.state.settings().turnMode, 1);
    EXPECT_EQ(load.state.settings().clockCode, 34);
    EXPECT_TRUE(load.view.controls().isChecked(Control::MenuClock2_4));
    EXPECT_EQ(load.view.controls().text(Control::TurnList), "Multiturn");
}

TEST(ConfigFiles, CodeByteOtherThanGrayLoadsAsBinary)
{
    SimBench b;
    const QString path = b.dataRoot.filePath("c.cfg");
    b.view.queueFileAnswer(path);
    b.bench->onCommand(Command::SaveConfigFile);
    QByteArray bytes = readAll(path);
    // No labels but the three defaults: the code byte follows them.
    const int codeAt = 15 + 3 + 6 + 8 + 8;
    bytes[codeAt] = 64;
    writeAll(path, bytes);

    SimBench load;
    load.bench->onMenuItem(Control::MenuGray);
    load.view.queueFileAnswer(path);
    load.bench->onCommand(Command::LoadConfigFile);
    EXPECT_EQ(load.state.settings().codeMode, 0);
    EXPECT_TRUE(load.view.controls().isChecked(Control::MenuBinary));
    EXPECT_EQ(load.view.controls().text(Control::GrayBinaryText), "Binary");
}

TEST(ConfigFiles, ShortOrCorruptFilesLoadNothing)
{
    SimBench b;
    b.chooseProtocol("SSI");
    const QString shortFile = b.dataRoot.filePath("short.cfg");
    writeAll(shortFile, QByteArray(100, '\x01'));
    QByteArray corrupt(512, '\0');
    corrupt[1] = 2;
    corrupt[15] = char(250);   // label 1
    corrupt[266] = char(250);  // label 2 runs past the record
    const QString corruptFile = b.dataRoot.filePath("corrupt.cfg");
    writeAll(corruptFile, corrupt);

    const QString fifo = b.dataRoot.filePath("fifo.cfg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Each message names its cause; a FIFO is refused without waiting for a writer.
    const struct {
        QString path;
        QString cause;
    } cases[] = {
        {shortFile, "is not a configuration file"},
        {corruptFile, "is a damaged configuration file"},
        {b.dataRoot.filePath("missing.cfg"), "does not exist"},
        {b.dataRoot.path(), "is a directory"},
        {fifo, "FIFO"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        b.view.clearMessages();
        b.view.queueFileAnswer(c.path);
        b.bench->onCommand(Command::LoadConfigFile);
        EXPECT_EQ(b.view.controls().text(Control::Protocols), "SSI");
        ASSERT_EQ(b.view.messages().size(), 1);
        EXPECT_TRUE(b.view.messages().front().contains(c.cause)) << b.view.messages().front().toStdString();
    }
}

TEST(ConfigFiles, ALongerFileLoadsItsFirstRecordAndAFifoIsNeverReplaced)
{
    SimBench b;
    b.chooseProtocol("SSI");
    const QString saved = b.dataRoot.filePath("ssi.cfg");
    b.view.queueFileAnswer(saved);
    b.bench->onCommand(Command::SaveConfigFile);
    QByteArray longer = readAll(saved);
    ASSERT_EQ(longer.size(), 512);
    longer.append(QByteArray(100, 'x'));  // trailing bytes from some other program
    writeAll(saved, longer);

    SimBench c;
    c.view.queueFileAnswer(saved);
    c.bench->onCommand(Command::LoadConfigFile);
    EXPECT_TRUE(c.view.messages().isEmpty());
    EXPECT_EQ(c.view.controls().text(Control::Protocols), "SSI");

    // Saving onto a FIFO with nobody reading it is refused; it stays a FIFO.
    const QString fifo = b.dataRoot.filePath("out.fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    b.view.clearMessages();
    b.view.queueFileAnswer(fifo);
    b.bench->onCommand(Command::SaveConfigFile);
    EXPECT_EQ(b.view.messages().size(), 1);
    EXPECT_FALSE(QFileInfo(fifo).isFile());
}

TEST(ConfigFiles, EditsThatWouldNotFitTheRecordAreRefusedAsTyped)
{
    // The edit keeps what fits, so the record can always be written and
    // closing never loses the session's settings.
    SimBench b;
    b.type(Control::Description, "kept");
    b.type(Control::Description, QString(300, 'x'));
    EXPECT_EQ(b.view.controls().text(Control::Description), "kept");
    b.type(Control::FieldLabel2, QString(250, 'y'));
    b.type(Control::FieldLabel3, QString(250, 'z'));
    EXPECT_EQ(b.view.controls().text(Control::FieldLabel3), "Warning");
    const QString path = b.dataRoot.filePath("big.cfg");
    b.view.queueFileAnswer(path);
    b.bench->onCommand(Command::SaveConfigFile);
    EXPECT_EQ(readAll(path).size(), 512);
    EXPECT_TRUE(b.view.messages().isEmpty());
}

TEST(ConfigFiles, CancelWritesNothing)
{
    SimBench b;
    b.view.queueFileAnswer("");
    b.bench->onCommand(Command::SaveConfigFile);
    EXPECT_TRUE(QDir(b.dataRoot.path()).entryList(QStringList{"*.cfg"}).isEmpty());
}

TEST(ConfigFiles, CloseWritesTheDefaultAndStartUpReadsIt)
{
    QString root;
    {
        SimBench b;
        root = b.dataRoot.path();
        b.dataRoot.setAutoRemove(false);
        b.chooseProtocol("RS485");
        b.type(Control::FieldLabel4, "Turns");
        b.bench->closeWindow();
        EXPECT_TRUE(QFile::exists(b.bench->defaultConfigPath()));
        // The close stops the box.
        EXPECT_EQ(b.packetLog().back(), "6A");
    }
    qputenv("XDG_DATA_HOME", root.toUtf8());
    BenchState state;
    RecordingView view;
    Bench bench(state, view);
    auto bus = std::make_shared<SimBus>();
    bench.startUp(bus);
    EXPECT_EQ(view.controls().text(Control::Protocols), "RS485");
    EXPECT_EQ(view.controls().text(Control::FieldLabel4), "Turns");
    EXPECT_EQ(view.controls().text(Control::Angle), "");
    EXPECT_EQ(view.title(), "") << "no box on this bus";
    bench.shutdown();
    QDir(root).removeRecursively();
}

TEST(ConfigFiles, CloseWithoutABoxStillWritesTheDefault)
{
    SimBench b({.withBox = false});
    b.bench->closeWindow();
    EXPECT_EQ(readAll(b.bench->defaultConfigPath()).size(), 512);
}

TEST(ConfigFiles, AFirstStartTakesTheGivenInterfaceAndASavedFileWins)
{
    const StartInterface simulated{static_cast<int>(*protocolByName("BISS")), {15, 17, 2}, 2};
    {
        // A fresh data root: the simulated encoder's interface, and the
        // gauge turns on the first read.
        SimBench b({.startUp = false});
        b.box->encoder().setSpeedRpm(60);
        b.bench->startUp(b.bus, {}, simulated);
        const ControlStates& c = b.view.controls();
        EXPECT_EQ(c.text(Control::Protocols), "BISS");
        EXPECT_EQ(c.text(Control::ContentCount), "3");
        EXPECT_EQ(c.text(fieldWidthControl(1)), "15");
        EXPECT_EQ(c.text(fieldWidthControl(2)), "17");
        EXPECT_EQ(c.text(fieldWidthControl(3)), "2");
        EXPECT_EQ(c.text(Control::GaugeField), "2");
        ASSERT_TRUE(b.configure());
        EXPECT_EQ(c.gaugeHighlight(), 2);
        b.bench->onCommand(Command::ReadData);
        std::set<QString> angles;
        for (int i = 0; i < 20; ++i) {
            benchSleep(50);
            angles.insert(c.text(Control::Angle));
        }
        b.bench->stopAll();
        EXPECT_GE(angles.size(), 10u) << "the angle moves";
    }
    // A saved RS485 file wins over the given interface.
    QString root;
    {
        SimBench saver;
        root = saver.dataRoot.path();
        saver.dataRoot.setAutoRemove(false);
        saver.chooseProtocol("RS485");
        saver.bench->closeWindow();
    }
    qputenv("XDG_DATA_HOME", root.toUtf8());
    BenchState state;
    RecordingView view;
    Bench bench(state, view);
    bench.startUp(std::make_shared<SimBus>(), {}, simulated);
    EXPECT_EQ(view.controls().text(Control::Protocols), "RS485");
    bench.shutdown();
    QDir(root).removeRecursively();
}
