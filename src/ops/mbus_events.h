#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <variant>

#include "mbus/loops_grid.h"

namespace tarnel {

// What the M-Bus operations (scan, meter request, search, address changes,
// the console) tell while they run. They never word it: the presenter turns
// each event into the log's lines and the meter grid's rows.
namespace mbus_event {

// The meter grid is emptied before a run.
struct ClearMeters {};
// The scan asks `address`, or a request asks its meter `again`.
struct Asking {
    int address = 0;
    bool again = false;
};
// A change's meter acknowledged it (E5).
struct Acknowledged {
    int address = 0;
};
// A request's meter gave no answer at all.
struct NoAnswer {
    int address = 0;
};
// A meter's reply was decoded; `update` says where its row goes.
struct Decoded {
    DecodedTelegram telegram;
    LoopsUpdate update = LoopsUpdate::Append;
};
struct SearchStarted {
    QDateTime at;
};
// The search probes an identification mask.
struct Checking {
    QString mask;
};
// A gateway reply the search judged (shown as "UNMD:").
struct Unmd {
    QByteArray reply;
};
struct SettingAddress {
    int address = 0;
    QString id;
};
// The bulk address change passes over a row whose address cannot be set.
struct RowSkipped {
    int row = 0;
    int address = 0;
};
// The bulk address change refused a table that gives two rows one address.
struct SameAddress {
    int firstRow = 0;
    int row = 0;
    int address = 0;
};
// An unexpected exception inside the search, by its code.
struct SearchFault {
    int code = 0;
};
// What the link's reception reported of a reply (CRC, stray bytes, ...).
struct Reception {
    QStringList lines;
};
// A telegram too long for one pass-through write was not sent.
struct PayloadRefused {
    qsizetype bytes = 0;
};
// The gateway did not confirm the write of an M-Bus telegram: the lines
// its reception reported and the bytes that came (none after a time-out).
struct TelegramUnconfirmed {
    QStringList lines;
    QByteArray reply;
};
// A custom command's reply, or the console's line of a device-table request.
struct ConsoleReply {
    QByteArray reply;
};
// The link was lost while the console or a device-table request waited.
struct ConsoleLost {
    QString what;  // "custom command", "device table read", ...
};

// A request that did not start, and why.
enum class Refusal {
    NoValidMeter,      // no listed meter with an address is selected
    WrongId,           // the ID is not 8 digits and wildcards
    ValueWhileSearch,  // a value change while the search or an address change runs
    NoAddressedRows,   // the bulk change found no row with an address
    SerialPortClosed,  // the console needs the open port
};
struct Refused {
    Refusal why = Refusal::NoValidMeter;
};
// A hex command the console could not read, with the parser's words.
struct CommandRejected {
    QString reason;
};

}  // namespace mbus_event

using MbusEvent =
    std::variant<mbus_event::ClearMeters, mbus_event::Asking, mbus_event::NoAnswer,
                 mbus_event::Decoded, mbus_event::SearchStarted, mbus_event::Checking,
                 mbus_event::Unmd, mbus_event::SettingAddress, mbus_event::RowSkipped,
                 mbus_event::SearchFault, mbus_event::Reception, mbus_event::PayloadRefused,
                 mbus_event::ConsoleReply, mbus_event::ConsoleLost, mbus_event::Refused,
                 mbus_event::CommandRejected, mbus_event::TelegramUnconfirmed,
                 mbus_event::Acknowledged, mbus_event::SameAddress>;

}  // namespace tarnel
