#include "ops/command_console.h"

#include "../link/link_fixture.h"
#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "gateway/presenter.h"

namespace tarnel {
namespace {

using test::bytes;

TEST(ParseHexCommand, TokensOfOneOrTwoDigits) {
    EXPECT_EQ(ParseHexCommand("01 04 00 01 00 7D 61 EB").bytes, bytes("01 04 00 01 00 7D 61 EB"));
    EXPECT_EQ(ParseHexCommand("1 2 3").bytes, bytes("01 02 03"));
    EXPECT_EQ(ParseHexCommand("ABC").bytes, bytes("AB"));
    EXPECT_EQ(ParseHexCommand("  0A     0B  ").bytes, bytes("0A 0B"));
}

TEST(ParseHexCommand, RefusedTexts) {
    const QString uppercase = "Wrong custom hex command, 0..F uppercase allowed";
    EXPECT_EQ(ParseHexCommand("0a").error, uppercase);
    EXPECT_EQ(ParseHexCommand("G1").error, uppercase);
    EXPECT_EQ(ParseHexCommand("3:4").error, uppercase);
    EXPECT_EQ(ParseHexCommand("A").error, "Wrong custom hex command, 2 symbols at least...");
    EXPECT_TRUE(ParseHexCommand("0a").bytes.isEmpty());
}

struct Console : test::LinkTest {
    QObject owner;
    Timer* timer = clock.createTimer(&owner, "Timer_free_command");
    CommandConsole console{link, *timer};
    GridModel meters{loopsGridLayout().headers};
    GridModel devices{devicesGridLayout().headers};
    GridModel registers{registersGridLayout().headers};
    Presenter presenter{{.log = log,
                         .status = status,
                         .meters = meters,
                         .devices = devices,
                         .registers = registers}};
    bool watched = (presenter.watch(console), true);
};

TEST_F(Console, AHexCommandGoesOutAsTypedAndItsReplyIsLoggedAfterTheTimeOut) {
    openSerial();
    console.send(false, "01 04 00 01 00 7D 61 EB", 600);
    EXPECT_EQ(serial.written, bytes("01 04 00 01 00 7D 61 EB"));
    EXPECT_TRUE(serial.steps.filter("RTS").isEmpty()) << "no RTS switching, no CRC";
    serial.deliver(bytes("01 04 02 00 0A 39 37"));
    clock.advance(599);
    EXPECT_TRUE(log.lines().isEmpty());
    clock.advance(1);
    EXPECT_EQ(log.lines(), QStringList{"RCVD:01 04 02 00 0A 39 37 "});
    EXPECT_FALSE(timer->isActive());
}

TEST_F(Console, AsciiModeSendsTheTextUnchanged) {
    openSerial();
    console.send(true, "A", 600);
    EXPECT_EQ(serial.written, QByteArray("A"));
}

TEST_F(Console, NeedsTheSerialPortAndRefusesBadHexWithoutSending) {
    connectTcp();
    console.send(false, "01 03", 600);
    EXPECT_EQ(log.lines(), QStringList{"Serial port is not opened"});
    EXPECT_TRUE(tcp.sent.isEmpty());
    link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
    log.clear();
    console.send(false, "01 0g", 600);
    EXPECT_EQ(log.lines(), QStringList{"Wrong custom hex command, 0..F uppercase allowed"});
    EXPECT_TRUE(serial.written.isEmpty());
    EXPECT_FALSE(timer->isActive());
    console.send(false, "", 600);
    EXPECT_FALSE(timer->isActive()) << "an empty command does nothing";
}

TEST_F(Console, LeftoverBytesShowAtTheStartOfTheReply) {
    openSerial();
    serial.deliver(bytes("AA"));
    console.send(false, "01 02", 100);
    serial.deliver(bytes("BB"));
    clock.advance(100);
    EXPECT_EQ(log.lines(), QStringList{"RCVD:AA BB "});
}

}  // namespace
}  // namespace tarnel
