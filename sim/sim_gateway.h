#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "sim/sim_bus.h"

namespace tarnel::sim {

// What the gateway keeps of one meter's RSP_UD: the header fields and the
// main value, taken from the first record that carries a current value with
// a VIF of the primary table (0 and VIF 0 when the meter has none).
struct MeterReading {
    uint8_t address = 0;
    uint32_t id = 0;  // the four identification bytes, most significant first
    uint16_t manufacturer = 0;
    uint8_t medium = 0;
    uint8_t status = 0;
    uint8_t mainVif = 0;    // the VIF as the meter sent it
    uint8_t secondVif = 0;  // its first VIFE, 0 when the VIF has none
    int32_t mainValue = 0;
};

// The reading of a meter's reply, or nothing when it is not a valid RSP_UD
// long frame (length, checksum, stop byte, C 0x08, CI 0x72).
std::optional<MeterReading> ReadMeterReply(const Bytes& telegram);

// The Corvane-64 as the tool sees it: a Modbus slave whose registers pass
// M-Bus telegrams to the bus, keep the table of activated meters, its
// settings and its status. It works on Modbus PDUs (function code and data);
// the transports add and strip the framing. The register map is described in
// docs/SIMULATOR.md, section "Registers".
class SimGateway {
public:
    // High byte of 33799 (0x8407): where the last telegram written to the
    // pass-through stands. The tool only relies on "above 3 with a non-zero
    // length: the reply is there".
    enum class MbusState : uint8_t {
        Idle = 0,        // nothing sent since start-up
        Sending = 1,     // the telegram is still going out on the bus
        Waiting = 2,     // waiting for the reply, or receiving it
        NoReply = 3,     // no meter answered within the bus time-out
        ReplyReady = 4,  // the reply is in the buffer from 33800 on
    };

    static constexpr int kTableSlots = 64;
    static constexpr uint8_t kAnyUnit = 0;  // the unit address that answers every unit id
    static constexpr uint8_t kLastUnitAddress = 254;

    // A reply PDU and when it goes out.
    struct Reply {
        Bytes pdu;
        // From the request to the reply: the time the gateway spends on the
        // M-Bus before it answers (an activation reads the meter first), after
        // any such time left from an earlier request. 0 for most requests.
        qint64 delayMs = 0;
    };

    SimGateway(SimBus& bus, Clock& clock);

    // A request PDU (function code and data) addressed to this gateway, and
    // the reply PDU: the answer, or an exception reply (function | 0x80,
    // code) for what a gateway refuses. Empty for an empty request. A request
    // that comes while the gateway is still on the M-Bus for an earlier one
    // is taken when that is done. Thread-safe.
    Reply Serve(const Bytes& requestPdu);
    // The same without the timing.
    Bytes Handle(const Bytes& requestPdu) { return Serve(requestPdu).pdu; }

    // The unit address it answers (1 by default), 0 to 254. A new address
    // written to 32785 takes effect when Handle returns the reply to that
    // write, so the transport must frame that reply with the request's unit id.
    uint8_t UnitAddress() const;
    void SetUnitAddress(uint8_t address);
    // Whether a request to `unit` (1 to 255) is for this gateway: its own
    // address, or any unit while its address is 0. Unit 0 is the broadcast,
    // which the transports handle without a reply.
    bool IsAddressed(uint8_t unit) const;

    // A plain Modbus device instead of the gateway: it answers function 3
    // (every holding register 0) and refuses every other function as
    // illegal, the device identification too.
    void SetPlain(bool plain);

    // Device-table entries of 28 registers (version 0.3, default) or 24 (0.2).
    // The version at 60000 and in the device identification follows.
    void SetEntryRegisters(int registers);

    // Activates the meter with this primary address in the next free slot, or
    // reads it anew when it is active already. False when no valid reply came
    // at the current bus speed or the table is full. At once: for setting a
    // gateway up (a write to register 0 takes the bus time).
    bool Activate(uint8_t address);
    // What search and activate does, at once: every primary address 0 to 250
    // that gives a valid reply at the bus speed, in address order, until the
    // table is full. The number of active devices afterwards. With the bus of
    // SimBus::kMeters64File: 64 entries.
    int ActivateAll();
    // The state of the two inputs of an activated meter (entry register 8);
    // false when the meter is not in the table.
    bool SetInputs(uint8_t address, uint8_t input1, uint8_t input2);
    int ActiveDevices() const;
    // The M-Bus port's speed (from the line code at 32787; 2400 by default).
    int MbusBaud() const;

    // The bus is shared with the caller; changes to its meters while Handle
    // runs on another thread are the caller's to synchronise.
    SimBus& bus() { return bus_; }

    // Bus timing: the time `bytes` take on the bus at `baud` (11 bits a byte),
    // and how long after the end of a request silence counts as no reply
    // (330 bit times + 50 ms), both in ms rounded up.
    static qint64 BusTimeMs(size_t bytes, int baud);
    static qint64 NoReplyTimeoutMs(int baud);
    // One exchange on the bus, from the first byte of a request of
    // `requestBytes` to the end of the reply (its delay and its bytes), or to
    // the time-out when nothing came.
    static qint64 ExchangeTimeMs(size_t requestBytes, const std::optional<BusReply>& reply,
                                 int baud);
    // The telegram carried by a write to 33800: the written bytes less the
    // one 0x00 pad byte that follows a frame of odd length.
    static Bytes TelegramFromWrite(const Bytes& data);

private:
    enum class Fault : uint8_t {
        None = 0,
        IllegalFunction = 1,
        IllegalAddress = 2,
        IllegalValue = 3,
        DeviceFailure = 4,
    };

    // One telegram sent through the pass-through and what came back.
    struct BusExchange {
        qint64 requestEnd = 0;  // the last byte of the request has gone out
        qint64 readyAt = 0;     // the reply is complete, or the bus time-out
        Bytes reply;            // empty when nothing came
    };

    struct TableEntry {
        MeterReading reading;
        uint8_t input1 = 0;
        uint8_t input2 = 0;
        qint64 readAt = 0;  // when the gateway last read the meter
    };

    // Bits of the M-Bus flags (32769 low byte), set and reset through register 6.
    static constexpr uint8_t kFlagSndNke = 0x01;   // SND_NKE before each read-out
    static constexpr uint8_t kFlagC7B = 0x02;      // REQ_UD2 with C 0x7B, else 0x5B
    static constexpr uint8_t kFlagPolling = 0x04;  // the gateway reads its meters
    static constexpr uint8_t kFlagDhcp = 0x01;     // 32769 high byte, register 7

    // Modbus functions.
    Bytes readRegisters(const Bytes& pdu);
    Bytes writeSingle(const Bytes& pdu);
    Bytes writeMultiple(const Bytes& pdu);
    Bytes readDeviceId(const Bytes& pdu) const;
    static Bytes exception(uint8_t function, Fault fault);
    static Bytes plainReply(const Bytes& pdu);

    // Register spaces: input registers (function 4) and holding registers
    // (function 3 reads, 6 and 16 write).
    std::optional<uint16_t> inputRegister(int number, qint64 now) const;
    std::optional<uint16_t> holdingRegister(int number) const;
    Fault writeRegister(int number, uint16_t value);
    Fault writeSettings(int start, const std::vector<uint16_t>& values);

    // M-Bus pass-through (gateway_passthrough.cpp).
    void sendTelegram(const Bytes& telegram);
    MbusState mbusState(qint64 now) const;
    uint16_t mbusStatusRegister(qint64 now) const;
    uint16_t mbusBufferRegister(int index, qint64 now) const;

    // Device table (gateway_table.cpp). readMeter adds the time it keeps the
    // bus to `busMs`; activate and searchAndActivate add theirs to busMs_.
    std::optional<MeterReading> readMeter(uint8_t address, qint64& busMs);
    Fault activate(uint8_t address);
    Fault deleteDevice(uint16_t value);
    Fault deleteInputs(uint16_t value);
    Fault searchAndActivate(uint16_t value);
    void refreshDueEntries(qint64 now);
    void sortTable();
    TableEntry* findEntry(uint8_t address);
    int tableRegisters() const;
    static uint16_t entryRegister(const TableEntry& entry, int number);
    uint16_t tableRegister(int number) const;
    uint16_t bitMapRegister(int index) const;
    uint16_t addressMapRegister(int index) const;

    // Settings and status (gateway_settings.cpp).
    void setDefaults();
    bool isSetting(int number) const;
    static bool validSetting(int number, uint16_t value);
    void applyFlags(int number, uint16_t value);
    uint16_t statusRegister(int number, qint64 now) const;
    std::string versionText() const;
    int busBaud() const;

    SimBus& bus_;
    Clock& clock_;
    mutable std::mutex mutex_;

    uint8_t unitAddress_ = 1;
    std::optional<uint8_t> pendingAddress_;  // applied once the reply is built
    int entryRegisters_ = 28;
    bool plain_ = false;

    std::optional<BusExchange> exchange_;
    std::vector<TableEntry> table_;  // packed: slot k is table_[k - 1]

    qint64 now_ = 0;        // when the request being served is taken
    qint64 busMs_ = 0;      // its time on the M-Bus before the reply
    qint64 busyUntil_ = 0;  // the end of the last request's time on the M-Bus

    std::map<int, uint16_t> settings_;  // holding registers kept as written
    uint8_t mbusFlags_ = 0;             // 32769 low byte
    uint8_t networkFlags_ = 0;          // 32769 high byte
    qint64 startedAt_ = 0;              // for the working days at 32770
};

}  // namespace tarnel::sim
