#include "ops/mbus_lines.h"

#include "base/time_format.h"
#include "link/gateway_errors.h"
#include "link/request_frames.h"
#include "link/response_parsers.h"

namespace tarnel {
namespace {

using namespace mbus_event;

QString refusalLine(Refusal why) {
    switch (why) {
        case Refusal::NoValidMeter:
            return QStringLiteral("Not a valid device selected...");
        case Refusal::WrongId:
            return QStringLiteral("Wrong ID entered - 8-digit or FFFFFFFF available...");
        case Refusal::ValueWhileSearch:
            return QStringLiteral("Can not change value while secondary search/change address");
        case Refusal::NoAddressedRows:
            return QStringLiteral("Invalid primary addresses in the table, process finished!");
        case Refusal::SerialPortClosed:
            return QStringLiteral("Serial port is not opened");
    }
    return {};
}

// "3 bytes: 68 0A 0A", the first 16 bytes of a longer reply and "...".
QString bytesNamed(const QByteArray& bytes) {
    constexpr qsizetype kShown = 16;
    QString text = QStringLiteral("%1 byte%2: ")
                       .arg(bytes.size())
                       .arg(bytes.size() == 1 ? QString() : QStringLiteral("s")) +
                   HexBytesText(bytes.first(std::min(bytes.size(), kShown))).trimmed();
    if (bytes.size() > kShown) text += QStringLiteral(" ...");
    return text;
}

QString endedOrStopped(Ending ending) {
    return ending == Ending::Done ? QStringLiteral("ended") : QStringLiteral("stopped");
}

// The lines of each event, one overload a kind.
struct Words {
    QStringList operator()(const ClearMeters&) const { return {}; }
    QStringList operator()(const Asking& e) const {
        return {(e.again ? QStringLiteral("Searching/Reading address %1")
                         : QStringLiteral("Searching for address %1"))
                    .arg(e.address)};
    }
    QStringList operator()(const NoAnswer& e) const {
        return {QStringLiteral("No answer from address %1.").arg(e.address)};
    }
    QStringList operator()(const Acknowledged& e) const {
        return {QStringLiteral("The meter at address %1 acknowledged the change.").arg(e.address)};
    }
    QStringList operator()(const Decoded& e) const { return DecoderLines(e.telegram); }
    QStringList operator()(const SearchStarted& e) const {
        return {QStringLiteral("Secondary search Thread started at ") + ShortDateText(e.at) + "," +
                LongTimeText(e.at)};
    }
    QStringList operator()(const Checking& e) const {
        return {QStringLiteral("Checking ") + e.mask + "..."};
    }
    QStringList operator()(const Unmd& e) const {
        return {QStringLiteral("UNMD:") + HexBytesText(e.reply)};
    }
    QStringList operator()(const SettingAddress& e) const {
        return {
            QStringLiteral("Setting Primary address %1 to device %2...").arg(e.address).arg(e.id)};
    }
    QStringList operator()(const RowSkipped& e) const {
        return {QStringLiteral("Row %1: primary address %2 is not 1..250, skipped...")
                    .arg(e.row)
                    .arg(e.address)};
    }
    QStringList operator()(const SameAddress& e) const {
        return {QStringLiteral("Rows %1 and %2 give two meters the address %3: no address is "
                               "changed.")
                    .arg(e.firstRow)
                    .arg(e.row)
                    .arg(e.address)};
    }
    QStringList operator()(const SearchFault& e) const {
        return {QStringLiteral("Unknown exception in secondary search, code #%1...").arg(e.code)};
    }
    QStringList operator()(const Reception& e) const { return e.lines; }
    QStringList operator()(const PayloadRefused& e) const { return {RefusedPayloadLine(e.bytes)}; }
    QStringList operator()(const ConsoleReply& e) const { return {RcvdLine(e.reply)}; }
    QStringList operator()(const ConsoleLost& e) const {
        return {QStringLiteral("Connection lost: %1 stopped.").arg(e.what)};
    }
    QStringList operator()(const Refused& e) const { return {refusalLine(e.why)}; }
    QStringList operator()(const CommandRejected& e) const { return {e.reason}; }
    QStringList operator()(const TelegramUnconfirmed& e) const {
        QStringList lines = e.lines;
        if (!e.reply.isEmpty())
            lines << ValidateResponse(e.reply).report.lines;
        else if (e.lines.isEmpty())
            lines << QStringLiteral("No answer from the gateway to the M-Bus telegram.");
        return lines;
    }
};

}  // namespace

QStringList MbusEventLines(const MbusEvent& event) {
    return std::visit(Words{}, event);
}

QStringList MbusRunLines(const MbusRunResult& result) {
    QStringList lines;
    if (result.kind == MbusRunResult::Kind::MeterRequest) {
        if (result.ending == Ending::LinkLost)
            lines << QStringLiteral("Connection lost: read stopped.");
        else if (result.ending == Ending::Done && result.readBackMissing)
            lines << QStringLiteral("No answer from address %1 to the read after the change.")
                         .arg(result.address);
        else if (result.ending == Ending::Done && !result.answered && result.silent > 0)
            lines << MbusEventLines(NoAnswer{result.address});
        return lines;
    }
    if (result.ending == Ending::Refused) return lines;
    if (result.ending == Ending::LinkLost)
        lines << QStringLiteral("Connection lost: scan stopped.");
    else if (result.ending == Ending::GatewaySilent)
        lines << SilentGateway::line(QStringLiteral("scan"));
    // One closing line, so that a gateway that errs is never mistaken for an
    // empty bus.
    lines << QStringLiteral("Scan %1: meters found %2, addresses without an answer %3, %4.")
                 .arg(endedOrStopped(result.ending))
                 .arg(result.found)
                 .arg(result.silent)
                 .arg(result.errors.text());
    return lines;
}

QStringList SearchLines(const SearchResult& result) {
    QStringList lines;
    if (result.ending == Ending::LinkLost)
        lines << QStringLiteral("Connection lost: secondary search stopped.");
    else if (result.ending == Ending::GatewaySilent)
        lines << SilentGateway::line(QStringLiteral("secondary search"));
    if (result.kind == SearchResult::Kind::Search)
        lines << QStringLiteral("Search %1: meters found %2, masks without an answer %3, %4.")
                     .arg(endedOrStopped(result.ending))
                     .arg(result.found)
                     .arg(result.silentMasks)
                     .arg(result.errors.text());
    else if (result.taken)
        lines << AddressTakenLine(*result.taken, result.meterId);
    // A meter that never took the change says so, rather than nothing.
    else if (result.ending == Ending::Done && !result.answered)
        lines << MbusEventLines(NoAnswer{result.address});
    lines << QStringLiteral("Secondary search thread terminated normally.");
    return lines;
}

QString AddressTakenLine(const AddressTaken& taken, const QString& meterId) {
    using By = AddressTaken::By;
    const QString unchanged =
        QStringLiteral("the address of meter %1 is not changed.").arg(meterId);
    switch (taken.by) {
        case By::Meter:
            return QStringLiteral("Meter %1 answers at address %2 already: ")
                       .arg(taken.meterId)
                       .arg(taken.address) +
                   unchanged;
        case By::Unreadable:
            return QStringLiteral(
                       "An unreadable reply came from address %1 (%2), so other "
                       "meters answer there: ")
                       .arg(taken.address)
                       .arg(bytesNamed(taken.reply)) +
                   unchanged;
        case By::FaultyReply:
            return QStringLiteral(
                       "A reply came from address %1 that failed its checks, so "
                       "another meter answers there: ")
                       .arg(taken.address) +
                   unchanged;
        case By::Unchecked:
            return QStringLiteral(
                       "Address %1 could not be checked (the gateway did not take the "
                       "read): ")
                       .arg(taken.address) +
                   unchanged;
    }
    return {};
}

QStringList BulkAddressLines(const BulkAddressResult& result) {
    if (!result.anyRow) return {refusalLine(Refusal::NoAddressedRows)};
    QStringList lines;
    if (result.ending == Ending::LinkLost)
        lines << QStringLiteral("Connection lost: address change stopped.");
    else if (result.restUnaddressed)
        lines << refusalLine(Refusal::NoAddressedRows);
    else
        lines << QStringLiteral("Process of setting primary addresses finished!");
    // What the run did, so that its end line is not taken for a fault of the
    // table.
    lines << QStringLiteral(
                 "Address change %1: %2 changed, %3 without an answer, %4 at a taken address.")
                 .arg(endedOrStopped(result.ending))
                 .arg(result.changed)
                 .arg(result.silent)
                 .arg(result.taken);
    return lines;
}

QString BusyRefusalLine(Operation asked, Operation running) {
    return QStringLiteral("%1 refused: the %2 is running.")
        .arg(BusyRule::name(asked), BusyRule::name(running).toLower());
}

}  // namespace tarnel
