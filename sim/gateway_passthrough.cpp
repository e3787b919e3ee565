// The M-Bus pass-through: a telegram written at 33800 goes out on the bus at
// the M-Bus port's speed; 33799 tells where it stands and 33800 on holds the
// reply. Nothing runs in the background: the state follows from the time the
// telegram was written, the bus timing and the reply the bus gave.
#include <algorithm>
#include <optional>

#include "sim/mbus_wire.h"
#include "sim/sim_gateway.h"

namespace tarnel::sim {
namespace {

constexpr int kBitsPerByte = 11;  // start bit, 8 data bits, even parity, stop bit
constexpr int kReplyTimeoutBits = 330;
constexpr int kReplyTimeoutExtraMs = 50;

}  // namespace

qint64 SimGateway::BusTimeMs(size_t bytes, int baud) {
    return (static_cast<qint64>(bytes) * kBitsPerByte * 1000 + baud - 1) / baud;
}

qint64 SimGateway::NoReplyTimeoutMs(int baud) {
    return (kReplyTimeoutBits * 1000 + baud - 1) / baud + kReplyTimeoutExtraMs;
}

qint64 SimGateway::ExchangeTimeMs(size_t requestBytes, const std::optional<BusReply>& reply,
                                  int baud) {
    const qint64 request = BusTimeMs(requestBytes, baud);
    if (!reply || reply->bytes.empty()) return request + NoReplyTimeoutMs(baud);
    return request + std::max(0, reply->delayMs) + BusTimeMs(reply->bytes.size(), baud);
}

Bytes SimGateway::TelegramFromWrite(const Bytes& data) {
    if (data.size() < 2 || data.back() != 0x00 || data[data.size() - 2] != wire::kStop) return data;
    const std::optional<size_t> length = wire::AnnouncedLength(data);
    if (!length || *length != data.size() - 1) return data;
    return Bytes(data.begin(), data.end() - 1);
}

void SimGateway::sendTelegram(const Bytes& telegram) {
    const int baud = busBaud();
    BusExchange exchange;
    exchange.requestEnd = now_ + BusTimeMs(telegram.size(), baud);
    const std::optional<BusReply> reply = bus_.Transmit(telegram, baud);
    exchange.readyAt = now_ + ExchangeTimeMs(telegram.size(), reply, baud);
    if (reply) exchange.reply = reply->bytes;
    exchange_ = std::move(exchange);  // the previous reply is gone
}

SimGateway::MbusState SimGateway::mbusState(qint64 now) const {
    if (!exchange_) return MbusState::Idle;
    if (now < exchange_->requestEnd) return MbusState::Sending;
    if (now < exchange_->readyAt) return MbusState::Waiting;
    return exchange_->reply.empty() ? MbusState::NoReply : MbusState::ReplyReady;
}

uint16_t SimGateway::mbusStatusRegister(qint64 now) const {
    const MbusState state = mbusState(now);
    const size_t length =
        state == MbusState::ReplyReady ? std::min<size_t>(exchange_->reply.size(), 0xFF) : 0;
    return static_cast<uint16_t>(static_cast<uint8_t>(state) << 8 | length);
}

uint16_t SimGateway::mbusBufferRegister(int index, qint64 now) const {
    if (mbusState(now) != MbusState::ReplyReady) return 0;
    const Bytes& reply = exchange_->reply;
    const auto byteAt = [&reply](size_t position) -> uint16_t {
        return position < reply.size() ? reply[position] : 0;
    };
    const size_t first = 2 * static_cast<size_t>(index);
    return static_cast<uint16_t>(byteAt(first) << 8 | byteAt(first + 1));
}

}  // namespace tarnel::sim
