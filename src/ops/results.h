#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <QVector>
#include <optional>
#include <vector>

#include "link/gateway_errors.h"
#include "link/response_parsers.h"
#include "mbus/device_entry.h"
#include "ops/meter_row.h"

namespace tarnel {

// How an operation ended.
enum class Ending {
    Done,           // it ran to its end (which may have found nothing)
    Stopped,        // STOP, Ctrl-C or a restart cut it short
    LinkLost,       // the serial port or the socket went away
    Refused,        // it did not start: no link, a wrong argument, a busy gateway
    NoAnswer,       // a single request the gateway did not answer validly in time
    GatewaySilent,  // the gateway left `SilentGateway::kLimit` requests in a row unanswered
};

// The primary scan, or one meter's read or change.
struct MbusRunResult {
    enum class Kind { Scan, MeterRequest } kind = Kind::Scan;
    Ending ending = Ending::Done;
    int found = 0;                 // meters decoded (the scan), or 1 for an answered request
    int silent = 0;                // addresses (requests) without an answer
    int address = -1;              // a request's meter
    bool answered = false;         // a request's meter answered with a telegram
    bool acknowledged = false;     // a change's meter acknowledged it (E5)
    bool readBackMissing = false;  // ... and did not answer the read after it
    MeterRow row;                  // a request's meter, when it answered
    // The scan: the link and gateway it ran on (`BusSurvey::key`), and every
    // meter it listed, in order.
    QString link;
    QList<MeterRow> rows;
    GatewayErrors errors;  // what the gateway itself got wrong meanwhile
};

// What answered at the address a meter was to be moved to, before anything
// was changed: another meter, or bytes no one meter sends (a collision, a
// frame that fails its checksum), or a reply that failed its Modbus checks;
// or the gateway did not pass the read on, so nothing is known.
struct AddressTaken {
    enum class By { Meter, Unreadable, FaultyReply, Unchecked } by = By::Meter;
    int address = 0;
    QString meterId{};   // By::Meter: the meter that answered
    QByteArray reply{};  // By::Unreadable: the bytes that came
};

// The secondary search, or one meter's primary-address change by its ID.
struct SearchResult {
    enum class Kind { Search, AddressChange } kind = Kind::Search;
    Ending ending = Ending::Done;
    int found = 0;          // meters listed
    int silentMasks = 0;    // masks without an answer
    bool answered = false;  // the address change: the meter took the telegram
    bool listed = false;    // the address change: it then answered at its new address
    int address = -1;       // the address change: the meter's address before
    QString meterId;        // the address change: the meter moved
    // The address change: the new address was found taken, and nothing sent.
    std::optional<AddressTaken> taken;
    // The link and gateway it ran on, and every meter it listed (the address
    // change: the meter at its new address).
    QString link;
    QList<MeterRow> rows;
    GatewayErrors errors;
};

// "Set all addresses".
struct BulkAddressResult {
    Ending ending = Ending::Done;
    int changed = 0;
    int silent = 0;
    int taken = 0;                 // rows not changed: their new address was taken
    bool anyRow = false;           // a row with an address was found at all
    bool restUnaddressed = false;  // it ended because no later row had an address
};

// One entry of the gateway's table as it was read: its number (1 for the
// first) and its decoded registers.
struct TableEntry {
    int number = 0;
    TModbusDevice device;
};

// An entry as the device grid lists it (8-bit characters as Latin-1).
QStringList TableEntryTexts(const TableEntry& entry);

// "Read modbus devices".
struct TableReadResult {
    Ending ending = Ending::Done;
    bool answered = false;  // the gateway answered the count read
    int count = 0;          // active devices the bit map counts
    int rows = 0;           // entries read into the grid
    bool version2 = false;  // entries of 24 registers
    std::vector<TableEntry> entries;
    // Entries (numbers) that held one meter ID, also when read again.
    std::vector<std::pair<int, int>> sameMeterIds;

    // The entries the count names that were not read (1 = the first).
    QList<int> unreadEntries() const;
    // Every entry the count names was read, and the read-out ran to its end.
    bool complete() const {
        return ending == Ending::Done && answered && unreadEntries().isEmpty();
    }
};

// "Read real addresses": for each Modbus slot the M-Bus address it maps to.
struct AddressMapResult {
    Ending ending = Ending::Done;
    bool answered = false;
    QVector<int> mbusAddresses;  // slot 1 first
};

// A gateway command of the device table, the settings or the console: the
// reply that answered it.
struct CommandResult {
    Ending ending = Ending::Done;
    QByteArray reply;           // empty when nothing came
    bool acknowledged = false;  // a confirmed reply, not an exception
};

// "Activate All from table".
struct ActivationResult {
    Ending ending = Ending::Done;
    int activated = 0;
    int silent = 0;
    // Rows whose last attempt the meter refused (the gateway could not reach
    // it: exception 04): neither without an answer nor a gateway error.
    int refused = 0;
    int rows = 0;             // rows in the table
    QList<int> notActivated;  // rows (1 = the first) left without an activation
    GatewayErrors errors;     // what the gateway itself got wrong meanwhile
};

// "Read registers": the registers the reply held, numbered from `start`.
struct RegisterReadResult {
    Ending ending = Ending::Done;
    int rows = 0;  // registers listed
    QByteArray reply;
    int start = 0;
    QVector<Register> registers;
    QDateTime at;  // when the reply came
};

// "Read Status of Corvane-64": one text a step answered.
struct StatusResult {
    Ending ending = Ending::Done;
    int replies = 0;  // steps the gateway answered
    QStringList answers;
    // What the steps without a valid answer (none, an exception, a frame that
    // failed its check) read: "working days", "IP", ...
    QStringList unanswered;
};

// What a read missed, as one line: "entry 2 of 64 was not read", "rows 1, 2,
// 3, 4, 5 and 7 more of 20 were not activated".
QString MissingText(const QString& noun, const QString& nouns, const QList<int>& numbers, int total,
                    const QString& what);
// What a table read-out missed ("the gateway did not answer the count of its
// devices", "entry 2 of 64 was not read"); empty when it read every entry.
QString TableShortfall(const TableReadResult& table);
// What a status read missed ("the gateway did not answer: IP, serial
// number"); empty when every step was answered.
QString StatusShortfall(const StatusResult& status);
// The one line a hand-over gives for what its reads missed: "Incomplete: "
// and the shortfalls that are not empty, joined by "; "; empty when none is.
QString IncompleteLine(const QStringList& shortfalls);

}  // namespace tarnel
