#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarnel::sim {

using Bytes = std::vector<uint8_t>;

// The EN 13757-3 manufacturer code of three upper-case letters: five bits a
// letter, "A" = 1, the first letter in the top bits ("ABC" is 0x0443, "ZPA"
// is 0x6A01).
constexpr uint16_t ManufacturerCode(char first, char second, char third) {
    return static_cast<uint16_t>(((first - 64) << 10) | ((second - 64) << 5) | (third - 64));
}

// One simulated M-Bus meter (EN 13757-2/3 slave).
struct SimMeter {
    uint8_t address = 0;             // primary address
    uint32_t id = 0;                 // identification number, 8 BCD digits (0x12345678 is 12345678)
    uint16_t manufacturer = 0x0443;  // EN 13757-3 manufacturer code ("ABC")
    uint8_t version = 1;
    uint8_t medium = 0x07;
    uint8_t status = 0x00;
    int baud = 2400;        // the meter's M-Bus speed
    Bytes records;          // the data records after the 12-byte header
    int replyDelayMs = 30;  // time from the end of a request to the start of the reply

    // Faults of this meter.
    bool silent = false;         // never answers
    bool wrongChecksum = false;  // answers with a checksum that does not match
    int extraDelayMs = 0;        // answers this much later (a slow meter)

    // State.
    bool selected = false;  // selected by its secondary address (CI 0x52)
    uint8_t accessNumber = 0;

    // The meter's RSP_UD: 68 L L 68 08 A 72, the 12-byte header (id, manufacturer,
    // version, medium, access number, status, signature 00 00), the records, CS, 16.
    Bytes RspUd() const;
};

// What came back on the bus for one request.
struct BusReply {
    Bytes bytes;      // as received by the gateway (garbled when meters collided)
    int delayMs = 0;  // from the end of the request to the start of the reply
};

// The M-Bus behind the gateway: the meters answer the telegrams the gateway
// sends, at the gateway's M-Bus speed.
class SimBus {
public:
    SimBus() = default;
    explicit SimBus(std::vector<SimMeter> meters) : meters_(std::move(meters)) {}

    std::vector<SimMeter>& meters() { return meters_; }
    const std::vector<SimMeter>& meters() const { return meters_; }

    // One telegram sent by the gateway at `baud`: the reply, or nothing when
    // no meter answered. Meters at another speed do not hear it.
    std::optional<BusReply> Transmit(const Bytes& telegram, int baud);

    // About eight meters of different media for the demo and the tests.
    static std::vector<SimMeter> DefaultMeters();
    // Meters from a JSON file (format in docs/SIMULATOR.md); nothing and an
    // error text when the file cannot be read.
    static std::optional<std::vector<SimMeter>> LoadMeters(const QString& path, QString* error);
    // The same from the text of such a file.
    static std::optional<std::vector<SimMeter>> ParseMeters(const QByteArray& json, QString* error);
    // A bus with the meters of a meter file; nothing and an error text when
    // the file cannot be read.
    static std::optional<SimBus> FromFile(const QString& path, QString* error = nullptr);

    // sim/meters64.json, built into the simulator: 64 meters at addresses 1 to
    // 64 whose numbers share final digits, for secondary search benchmarks.
    static constexpr char kMeters64File[] = ":/sim/meters64.json";

private:
    std::vector<SimMeter> meters_;
};

}  // namespace tarnel::sim
