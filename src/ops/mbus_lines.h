#pragma once

#include <QStringList>

#include "ops/busy_rule.h"
#include "ops/mbus_events.h"
#include "ops/results.h"

namespace tarnel {

// The log's words for what the M-Bus operations tell and how they end: the
// one table the presenter reads. A `Decoded` event's lines are the decoder's
// own; `ClearMeters` has none.
QStringList MbusEventLines(const MbusEvent& event);
// The closing lines of a scan or a meter request.
QStringList MbusRunLines(const MbusRunResult& result);
// The closing lines of a search or an address change by ID.
QStringList SearchLines(const SearchResult& result);
// Why a meter was not moved to a taken address, naming what answered there.
QString AddressTakenLine(const AddressTaken& taken, const QString& meterId);
// The closing lines of the change of every row's address.
QStringList BulkAddressLines(const BulkAddressResult& result);
// "Scan refused: the search is running."
QString BusyRefusalLine(Operation asked, Operation running);

}  // namespace tarnel
