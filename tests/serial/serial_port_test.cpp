#include "serial/serial_port.h"

#include <gtest/gtest.h>

#include <QTest>
#include <atomic>
#include <thread>

#include "pty_pair.h"

namespace tarnel {
namespace {

QByteArray pattern(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

struct SerialPortTest : ::testing::Test {
    test::PtyPair pty;
    TSerialPort port;
    QByteArray received;
    std::vector<int> counts;

    SerialPortTest() {
        port.SetDeviceName(pty.slavePath());
        port.SetBaudrate(br19200);
        // Reads what the event reports, in chunks of at most 1024 bytes.
        port.OnRxChar = [this](TCustomSerialPort& sender, int count) {
            counts.push_back(count);
            uint8_t buffer[1024];
            while (count > 0) {
                const long got = sender.ReadBytes(buffer, std::min<long>(count, sizeof buffer));
                if (got <= 0) break;
                received.append(reinterpret_cast<const char*>(buffer), got);
                count -= static_cast<int>(got);
            }
        };
    }
    bool receive(int size) {
        return QTest::qWaitFor([&] { return received.size() >= size; }, 10000);
    }
};

TEST_F(SerialPortTest, BytesFromThePeerArriveWholeAndInOrderOnTheOwnersThread) {
    const Qt::HANDLE owner = QThread::currentThreadId();
    Qt::HANDLE handledOn = nullptr;
    auto read = port.OnRxChar;
    port.OnRxChar = [&](TCustomSerialPort& sender, int count) {
        handledOn = QThread::currentThreadId();
        read(sender, count);
    };
    port.Open();
    pty.write(QByteArray("\x01\x04\x02\x00\x05", 5));
    ASSERT_TRUE(receive(5));
    EXPECT_EQ(received, QByteArray("\x01\x04\x02\x00\x05", 5));
    EXPECT_EQ(handledOn, owner);
    ASSERT_FALSE(counts.empty());
    EXPECT_GT(counts.front(), 0);
}

TEST_F(SerialPortTest, BurstsLargerThanTheReadSizeArriveWhole) {
    port.Open();
    const QByteArray burst = pattern(50'000);
    std::thread peer([&] { pty.write(burst); });
    const bool done = receive(burst.size());
    peer.join();
    ASSERT_TRUE(done) << received.size();
    EXPECT_EQ(received, burst);
    for (const int count : counts)
        EXPECT_LE(count, port.Buffers().ReadSize());
}

TEST_F(SerialPortTest, AHandlerThatReadsLessThanReportedGetsTheRestLater) {
    port.OnRxChar = [this](TCustomSerialPort& sender, int) {
        uint8_t buffer[100];  // a small buffer: read at most its size
        const long got = sender.ReadBytes(buffer, sizeof buffer);
        received.append(reinterpret_cast<const char*>(buffer), got);
    };
    port.Open();
    pty.write(pattern(1000));
    ASSERT_TRUE(receive(1000));
    EXPECT_EQ(received, pattern(1000));
}

TEST_F(SerialPortTest, WritesReachThePeerInOrder) {
    port.Open();
    const QByteArray frame("\x01\x10\x84\x08\x00\x03\x06\x10\x7B\x01\x7C\x16\x00\xAB\xCD", 15);
    for (const char byte : frame)
        ASSERT_TRUE(port.WriteByte(static_cast<uint8_t>(byte)));
    ASSERT_TRUE(port.WriteText("ASCII command"));
    EXPECT_EQ(pty.read(frame.size() + 13), frame + "ASCII command");
    // Once the peer has read everything the driver's queue is free again.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return port.OutputFree() == port.Buffers().WriteSize() && port.TransmitterEmpty(); },
        5000));
}

TEST_F(SerialPortTest, PurgeAllDropsPendingInput) {
    port.SetMonitorEvents(0);
    port.Open();
    pty.write(pattern(100));
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.InputCount() == 100; }, 5000));
    port.PurgeAll();
    EXPECT_EQ(port.InputCount(), 0);
    uint8_t buffer[16];
    EXPECT_EQ(port.ReadBytes(buffer, sizeof buffer), 0);
    pty.write("AB");
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.InputCount() == 2; }, 5000));
    ASSERT_EQ(port.ReadBytes(buffer, sizeof buffer), 2);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(buffer), 2), "AB");
}

TEST_F(SerialPortTest, PurgeWhileTheHandlerLeftBytesUnreadRearmsTheEvent) {
    port.OnRxChar = [&](TCustomSerialPort&, int count) { counts.push_back(count); };
    port.Open();
    pty.write("stale");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !counts.empty(); }, 5000));
    port.PurgeAll();
    pty.write("fresh");
    ASSERT_TRUE(QTest::qWaitFor([&] { return counts.size() >= 2 && counts.back() == 5; }, 5000));
}

TEST_F(SerialPortTest, AnEmptyEventMaskStartsNoEventThread) {
    port.SetMonitorEvents(0);
    port.Open();
    EXPECT_FALSE(port.EventThreadRunning());
    pty.write("xyz");
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.InputCount() == 3; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(counts.empty());
}

TEST_F(SerialPortTest, SettersOfTheDeviceAreRefusedWhileOpen) {
    port.Open();
    const auto refused = [](const std::function<void()>& set) {
        try {
            set();
        } catch (const ESerialPortError& error) {
            return error.message() == "Can't perform this operation while port is open";
        }
        return false;
    };
    EXPECT_TRUE(refused([&] { port.SetDeviceName("COM2"); }));
    EXPECT_TRUE(refused([&] { port.SetPortNum(3); }));
    EXPECT_TRUE(refused([&] { port.SetMonitorEvents(ceRxChar); }));
    EXPECT_TRUE(refused([&] { port.SetUpdateDCB(false); }));
    EXPECT_TRUE(refused([&] { port.Buffers().SetReadSize(512); }));
    EXPECT_TRUE(refused([&] { port.Open(); }));
    EXPECT_EQ(port.DeviceName(), pty.slavePath());
    EXPECT_EQ(port.Buffers().ReadSize(), 4096);
    port.SetBaudrate(br9600);  // line settings change while open
    EXPECT_EQ(test::probeLine(pty.slavePath()).baud, 9600u);
}

TEST_F(SerialPortTest, LineSettingsReachTheDevice) {
    port.SetBaudrate(br56000);
    port.SetDatabits(db7);
    port.SetStopbits(sb2);
    port.FlowControl().SetOutCtsFlow(true);
    port.FlowControl().SetXonXoffOut(true);
    port.Open();
    test::LineProbe line = test::probeLine(pty.slavePath());
    EXPECT_EQ(line.baud, 56000u);
    // A pty keeps 8 data bits and no parity whatever it is told.
    EXPECT_TRUE(line.twoStopBits);
    EXPECT_TRUE(line.rtsCts);
    EXPECT_TRUE(line.xonXoffOut);
    EXPECT_TRUE(line.raw);

    port.SetUserBaudrate(250000);
    EXPECT_EQ(port.Baudrate(), brUser);
    EXPECT_EQ(test::probeLine(pty.slavePath()).baud, 250000u);
    port.SetBaudrate(br115200);
    EXPECT_EQ(port.UserBaudrate(), 0);
    EXPECT_EQ(test::probeLine(pty.slavePath()).baud, 115200u);
}

// A pty drops PARENB but keeps PARODD, so odd and even can still be told
// apart; 1.5 stop bits go out as the two-stop-bit setting (there is no 1.5
// on Linux), never as one.
TEST_F(SerialPortTest, OddAndEvenParityAndOneAndAHalfStopBitsReachTheDevice) {
    const struct {
        TParity parity;
        TStopbits stopBits;
        bool odd;
        bool twoStopBits;
    } cases[] = {{paOdd, sb1, true, false},
                 {paEven, sb15, false, true},
                 {paNone, sb2, false, true},
                 {paMark, sb1, true, false}};
    for (const auto& c : cases) {
        port.Close();
        port.SetParity(c.parity);
        port.SetStopbits(c.stopBits);
        port.Open();
        const test::LineProbe line = test::probeLine(pty.slavePath());
        EXPECT_EQ(line.oddParity, c.odd) << c.parity;
        EXPECT_EQ(line.twoStopBits, c.twoStopBits) << c.stopBits;
    }
}

TEST_F(SerialPortTest, FourDataBitsAreRefusedWithTheLineSettingsError) {
    port.SetDatabits(db4);
    try {
        port.Open();
        FAIL() << "opened";
    } catch (const ESerialPortError& error) {
        EXPECT_EQ(error.message(), "Error writing dcb (22), Invalid argument");
    }
    EXPECT_FALSE(port.IsOpen());
    port.SetDatabits(db8);
    port.Open();  // the failed attempt left nothing behind
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialPortTest, ASecondOpenOfTheSameDeviceIsBusy) {
    port.Open();
    TSerialPort second;
    second.SetDeviceName(pty.slavePath());
    try {
        second.Open();
        FAIL() << "opened twice";
    } catch (const ESerialPortError& error) {
        EXPECT_EQ(error.message(),
                  QStringLiteral("Can't open specified device %1 (Error 16, Device or "
                                 "resource busy)")
                      .arg(pty.slavePath()));
    }
    port.Close();
    second.Open();  // free again once closed
    EXPECT_TRUE(second.IsOpen());
}

TEST(SerialPortOpen, AMissingDeviceNamesTheDeviceAndTheReason) {
    TSerialPort port;
    port.SetDeviceName("\\\\.\\COM%d");
    port.SetPortNum(77);
    try {
        port.Open();
        FAIL() << "opened";
    } catch (const ESerialPortError& error) {
        EXPECT_EQ(error.message(),
                  "Specified device not found (COM77 as /dev/ttyS76: No such file or "
                  "directory).");
    }
}

TEST_F(SerialPortTest, RtsIsANoOpOnAPtyAndRefusedUnderHandshakeOrToggle) {
    port.Open();
    EXPECT_NO_THROW(port.SetRts(true));
    EXPECT_NO_THROW(port.SetRts(false));
    for (const TRtsControl control : {rtsHandshake, rtsToggle}) {
        port.FlowControl().SetControlRts(control);
        try {
            port.SetRts(true);
            ADD_FAILURE() << "RTS changed under control " << control;
        } catch (const ESerialPortError& error) {
            EXPECT_EQ(
                error.message(),
                "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.");
        }
    }
}

TEST_F(SerialPortTest, AClosedPortReadsWritesAndCountsNothing) {
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(port.WriteBytes(buffer, 4), 0);
    EXPECT_FALSE(port.WriteByte(1));
    EXPECT_EQ(port.ReadBytes(buffer, 4), 0);
    EXPECT_EQ(port.InputCount(), 0);
    EXPECT_EQ(port.OutputFree(), 0);
    EXPECT_NO_THROW(port.PurgeAll());
    EXPECT_NO_THROW(port.Close());
}

// Collects Qt's warnings while it lives.
struct CaughtWarnings {
    static inline QStringList texts;
    QtMessageHandler previous;
    CaughtWarnings() {
        texts.clear();
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext&, const QString& text) {
                if (type == QtWarningMsg) texts.append(text);
            });
    }
    ~CaughtWarnings() { qInstallMessageHandler(previous); }
};

TEST_F(SerialPortTest, AnExceptionInAHandlerIsLoggedAndTheEventsGoOn) {
    const CaughtWarnings warnings;
    auto read = port.OnRxChar;
    bool thrown = false;
    port.OnRxChar = [&](TCustomSerialPort& sender, int count) {
        read(sender, count);
        if (!thrown) {
            thrown = true;
            throw ESerialPortError("handler failed");
        }
    };
    port.Open();
    pty.write("one");
    ASSERT_TRUE(receive(3));
    pty.write("two");
    ASSERT_TRUE(receive(6));
    EXPECT_EQ(received, "onetwo");
    EXPECT_EQ(CaughtWarnings::texts, QStringList{"serial port: handler failed"});
}

TEST_F(SerialPortTest, ClosingWhileThePeerKeepsWritingReturnsAndStopsTheEvents) {
    // The peer never blocks in a write, so it always sees `stop` and joins.
    std::atomic<bool> stop{false};
    std::thread peer([&] {
        const QByteArray chunk = pattern(64);
        while (!stop)
            if (pty.writeSome(chunk) == 0) std::this_thread::yield();
    });
    for (int round = 0; round < 10; ++round) {
        received.clear();
        port.Open();
        if (!receive(256)) {
            ADD_FAILURE() << "nothing came from the peer";
            break;
        }
        port.Close();
        EXPECT_FALSE(port.IsOpen());
        EXPECT_FALSE(port.EventThreadRunning());
        const qsizetype size = received.size();
        QCoreApplication::processEvents();  // events queued before the close do nothing
        EXPECT_EQ(received.size(), size);
    }
    stop = true;
    peer.join();
}

TEST_F(SerialPortTest, ClosingFromInsideTheHandlerDoesNotDeadlock) {
    int handled = 0;
    port.OnRxChar = [&](TCustomSerialPort& sender, int) {
        ++handled;
        sender.Close();
    };
    port.Open();
    pty.write("x");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !port.IsOpen(); }, 5000));
    EXPECT_EQ(handled, 1);
    EXPECT_FALSE(port.EventThreadRunning());
}

TEST_F(SerialPortTest, APeerThatHangsUpEndsInTheClosedStateWithAReport) {
    uint32_t errors = 0;
    bool openWhenReported = true;
    port.OnError = [&](TCustomSerialPort& sender, uint32_t bits) {
        errors |= bits;
        openWhenReported = sender.IsOpen();
    };
    port.Open();
    pty.write("last words");
    ASSERT_TRUE(receive(10));
    pty.hangUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return (errors & ceHangup) != 0; }, 5000));
    EXPECT_FALSE(openWhenReported);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.EventThreadRunning());
    EXPECT_EQ(received, "last words");
}

}  // namespace
}  // namespace tarnel
