#pragma once

#include <QString>
#include <QStringList>

#include "gateway/gateway_events.h"
#include "gateway/table_files.h"
#include "ops/results.h"

namespace tarnel {

// The log's words for what the gateway operations tell and how they end:
// the one table the presenter reads. An `EntryDecoded` event's lines are the
// decoder's own; `ClearRegisters` and `RegistersRead` have none.
QStringList GatewayEventLines(const GatewayEvent& event);
// The closing line of a register read: the reply, or that it was stopped. A
// lost link is told by an event: the automatic read has its own line.
QStringList RegisterReadLines(const RegisterReadResult& result);
// The closing line of a setting command the register view awaited.
QStringList CommandLines(const CommandResult& result);
// The closing lines of the device table's read-out: why it found nothing,
// or that it stopped among its entries (the count's own stop is the
// console's to tell).
QStringList TableReadLines(const TableReadResult& result);
// The closing lines of "Activate All from table".
QStringList ActivationLines(const ActivationResult& result);
// The closing line of a status read the gateway left unanswered; its stop
// and a lost link are told by events, its answers by theirs.
QStringList StatusLines(const StatusResult& result);
// The line of a table file that was not loaded for its length; none else.
QStringList TableLoadLines(TableLoad load, const QString& path);

}  // namespace tarnel
