#include "ops/secondary_search.h"

#include <algorithm>

#include "base/grid_selection.h"
#include "base/owner_thread.h"
#include "link/gateway_link.h"
#include "link/register_map.h"
#include "mbus/loops_grid.h"
#include "ops/bus_survey.h"
#include "ops/busy_rule.h"

namespace tarnel {
namespace {

constexpr uint8_t kSelectedAddress = 0xFD;  // the meter selected by its identification number
constexpr uint8_t kNetworkLayerAddress = 253;

// Each wait of the search is the scan time in steps of 10 ms, less the last one.
int waitMs(const SecondarySearch::Settings& settings) {
    return std::max((settings.scanTimeMs + 9) / 10 - 1, 0) * 10;
}

QByteArrayView view(const Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

// The selection telegram for a mask, manufacturer, version and medium wildcards.
Bytes selection(const IdMask& mask) {
    const std::array<uint8_t, 4> bytes = IdBytes(mask);
    const uint8_t id[4] = {bytes[0], bytes[1], bytes[2], bytes[3]};
    return SelectById(id);
}

// The identification number as meters show it, most significant digit first.
QString idText(const IdMask& mask) {
    QString text = MaskText(mask);
    std::reverse(text.begin(), text.end());
    return text;
}

}  // namespace

SecondarySearch::SecondarySearch(GatewayLink& link, BusyRule& busy, QObject* parent)
    : QObject(parent),
      link_(link),
      busy_(busy),
      transaction_(new MbusTransaction(
          link, *link.clock().createTimer(this, "SearchWait"),
          *link.clock().createTimer(this, "SearchReply"),
          [this](MbusStep, const ExchangeResult& result) { judged(result); }, this)),
      worker_(link.clock()) {
    connect(transaction_, &MbusTransaction::event, this, &SecondarySearch::event);
    connect(&link_, &GatewayLink::linkLost, this, [this] {
        if (running()) lost_ = true;
    });
}

SecondarySearch::~SecondarySearch() {
    // Every wait of the worker is cut short by the stop or bounded by its
    // request's times, so it ends without this thread serving it; what it
    // still posts here is dropped with this object.
    stop();
    worker_.join();
}

// --- starting and stopping ---------------------------------------------------

std::optional<int> SecondarySearch::start(const QString& idText, const Settings& settings,
                                          bool clearTable) {
    if (!link_.requireLink() || busy_.refuses(Operation::Search)) return std::nullopt;
    // A lower-case "f" is a wildcard too.
    const QString id = idText.toUpper();
    if (id == "FFFFFFFF" && clearTable) emit event(mbus_event::ClearMeters{});
    const std::optional<IdMask> mask = IdMaskFromText(id);
    if (!mask) {
        emit event(mbus_event::Refused{mbus_event::Refusal::WrongId});
        return std::nullopt;
    }
    emit event(mbus_event::SearchStarted{link_.clock().now()});
    Run run{WildcardPositions(*mask).empty() ? Mode::Exact : Mode::Wildcard, *mask, 0, settings};
    // A mask without a reply is tried at least twice.
    run.settings.retries = std::max(settings.retries, 1);
    if (!busy_.begin(Operation::Search)) return std::nullopt;
    if (!launch(run)) {
        busy_.end(Operation::Search);
        return std::nullopt;
    }
    return run.settings.retries;
}

bool SecondarySearch::canChangeAddress(const MeterTarget& meter) {
    const std::optional<IdMask> mask = meter.row >= 1 ? IdMaskFromText(meter.id) : std::nullopt;
    return mask && WildcardPositions(*mask).empty();
}

std::optional<int> SecondarySearch::changeAddress(const MeterTarget& meter, int newAddress,
                                                  const Settings& settings, bool checkNewAddress) {
    if (!link_.requireLink()) return std::nullopt;
    if (!canChangeAddress(meter)) {
        emit event(mbus_event::Refused{mbus_event::Refusal::NoValidMeter});
        return std::nullopt;
    }
    if (!busy_.begin(Operation::AddressChange)) return std::nullopt;
    Settings raised = settings;
    raised.retries = std::max(settings.retries, 1);
    emit event(mbus_event::SettingAddress{newAddress, meter.id});
    const int address = meter.address >= 0 ? meter.address : newAddress;
    if (!launch(Run{Mode::ChangeAddress, *IdMaskFromText(meter.id), newAddress, raised, address,
                    checkNewAddress})) {
        busy_.end(Operation::AddressChange);
        return std::nullopt;
    }
    return raised.retries;
}

bool SecondarySearch::changeAddressOf(const QString& id, int newAddress, const Settings& settings) {
    const std::optional<IdMask> mask = IdMaskFromText(id);
    if (!mask || !WildcardPositions(*mask).empty()) return false;
    return launch(Run{Mode::ChangeAddress, *mask, newAddress, settings, newAddress});
}

bool SecondarySearch::launch(const Run& run) {
    if (running()) return false;  // one run at a time; a stop under way stays one
    stopping_ = false;
    lost_ = false;
    silent_ = false;
    watchSilence_ = run.mode != Mode::ChangeAddress;
    silence_.reset();
    result_ = {};
    result_.kind = run.mode == Mode::ChangeAddress ? SearchResult::Kind::AddressChange
                                                   : SearchResult::Kind::Search;
    result_.link = BusSurvey::key(link_.identity(), run.settings.slave);
    result_.address = run.address;
    if (run.mode == Mode::ChangeAddress) result_.meterId = idText(run.mask);
    errors_ = {};
    worker_.start([this, run] { execute(run); });
    return true;
}

void SecondarySearch::stop() {
    if (!running()) return;
    stopping_ = true;
    transaction_->cancelBlocking();
    link_.cancelBlocking();
}

bool SecondarySearch::stopped() const {
    return stopping_ || lost_ || silent_;
}

// --- the worker ----------------------------------------------------------------

void SecondarySearch::execute(const Run& run) {
    try {
        if (run.mode == Mode::ChangeAddress)
            changeMeterAddress(run);
        else if (run.mode == Mode::Exact)
            exactSearch(run);
        else
            wildcardSearch(run.mask, WildcardPositions(run.mask), 0, run);
    } catch (const std::exception&) {
        tell(mbus_event::SearchFault{1001});
    }
    result_.ending = lost_       ? Ending::LinkLost
                     : silent_   ? Ending::GatewaySilent
                     : stopping_ ? Ending::Stopped
                                 : Ending::Done;
    RunOnOwner(this, [this, run] { endStep(run); });
}

void SecondarySearch::endStep(const Run& run) {
    worker_.join();
    result_.errors = errors_;
    if (run.mode == Mode::ChangeAddress)
        busy_.end(Operation::AddressChange);  // not held for a row of the bulk change
    else
        busy_.end(Operation::Search);
    // A copy: a listener may start the next run (the bulk change's next
    // row), which resets `result_` before the later listeners see it.
    const SearchResult result = result_;
    emit finished(result);
}

void SecondarySearch::exactSearch(const Run& run) {
    if (probe(run.mask, run)) readSelected(run);
    if (lost_ || silent_) return;
    // Deselect.
    link_.exchangeBlocking(*WriteRegistersRequest(run.settings.slave, reg::kMbusBuffer, 5,
                                                  view(SndNke(kNetworkLayerAddress))),
                           waitMs(run.settings));
}

// Depth first over the wildcard positions: each digit of the position at
// `level`; a digit that more than one meter answers is refined at the next.
void SecondarySearch::wildcardSearch(IdMask mask, const std::vector<int>& free, size_t level,
                                     const Run& run) {
    for (uint8_t digit = 0; digit <= 9 && !stopped(); ++digit) {
        mask[static_cast<size_t>(free[level])] = digit;
        for (size_t later = level + 1; later < free.size(); ++later)
            mask[static_cast<size_t>(free[later])] = kWildcard;
        tell(mbus_event::Checking{MaskText(mask)});
        emit checking(MaskText(mask));
        if (probe(mask, run) && !readSelected(run) && level + 1 < free.size())
            wildcardSearch(mask, free, level + 1, run);
    }
}

void SecondarySearch::changeMeterAddress(const Run& run) {
    if (run.checkNewAddress) {
        result_.taken = newAddressTaken(run);
        if (result_.taken || stopped()) return;
    }
    for (int attempt = 0; attempt <= run.settings.retries && !stopped(); ++attempt) {
        if (sendAndCollect(selection(run.mask), run).isEmpty()) continue;
        sendAndCollect(SetPrimaryAddress(kSelectedAddress, static_cast<uint8_t>(run.newAddress)),
                       run);
        result_.answered = true;
        break;
    }
    if (result_.answered) sendAndCollect(SndNke(kNetworkLayerAddress), run);
    if (stopped() || !result_.answered) return;
    const QByteArray telegram = sendAndCollect(ReqUd2(static_cast<uint8_t>(run.newAddress)), run);
    if (stopped() || telegram.isEmpty()) return;
    result_.listed = list(telegram);
}

// One read of the new address before a meter is moved there. Any answer
// but the meter's own means the address is taken: two meters at one address
// garble each other, and neither could be read again.
std::optional<AddressTaken> SecondarySearch::newAddressTaken(const Run& run) {
    const MbusResult heard = collect(ReqUd2(static_cast<uint8_t>(run.newAddress)), run);
    AddressTaken taken{.address = run.newAddress};
    switch (heard.end) {
        case MbusEnd::Silent:
        case MbusEnd::LinkLost:
        case MbusEnd::Cancelled:
            return std::nullopt;
        case MbusEnd::Fault:
            taken.by = AddressTaken::By::FaultyReply;
            return taken;
        case MbusEnd::GatewayError:
            taken.by = AddressTaken::By::Unchecked;
            return taken;
        case MbusEnd::Telegram:
            break;
    }
    const DecodedTelegram decoded = DecodeLoopsTelegram(heard.telegram, link_.clock().now());
    if (!decoded.ok || !decoded.row) {
        taken.by = AddressTaken::By::Unreadable;
        taken.reply = heard.telegram;
        return taken;
    }
    taken.meterId = MeterRowOf(*decoded.row, heard.telegram, result_.link).id;
    // The meter already answers there: moving it again harms nothing.
    if (taken.meterId == idText(run.mask)) return std::nullopt;
    return taken;
}

// One probe: up to Retry + 1 selections of the mask; the first that brings
// any reply (an acknowledgement, or the garble of several meters) ends it.
bool SecondarySearch::probe(const IdMask& mask, const Run& run) {
    for (int attempt = 0; attempt <= run.settings.retries && !stopped(); ++attempt)
        if (!sendAndCollect(selection(mask), run).isEmpty()) return true;
    if (!stopped()) ++result_.silentMasks;
    return false;
}

// Reads the meter selected by the last probe and lists it: whether the
// decoder accepted its reply (one meter, not a collision).
bool SecondarySearch::readSelected(const Run& run) {
    QByteArray telegram;
    try {
        telegram = sendAndCollect(ReqUd2(kNetworkLayerAddress), run);
    } catch (const std::exception&) {
        tell(mbus_event::SearchFault{1004});
        return false;
    }
    if (telegram.isEmpty() || stopped()) return false;
    const bool listed = list(telegram);
    if (listed) ++result_.found;
    return listed;
}

// Decodes the reply here; its lines and its row (matched by identification
// number, and selected) go to the window's thread.
bool SecondarySearch::list(const QByteArray& telegram) {
    const DecodedTelegram decoded = DecodeLoopsTelegram(telegram, link_.clock().now());
    // The result is the worker's until its end step runs on the owner's thread.
    if (decoded.ok && decoded.row) result_.rows << MeterRowOf(*decoded.row, telegram, result_.link);
    RunOnOwner(this, [this, decoded, telegram] {
        emit event(mbus_event::Decoded{decoded, LoopsUpdate::ById});
        if (decoded.ok && decoded.row) emit listed(LoopsRowTexts(*decoded.row).first(), telegram);
    });
    return decoded.ok;
}

// Sends an M-Bus telegram through the gateway and returns the meter's
// answer (empty for none). Each wait is the scan time, and so is each of the
// gateway's replies; each reply is logged as "UNMD:" as it is judged.
QByteArray SecondarySearch::sendAndCollect(const Bytes& telegram, const Run& run) {
    const MbusResult result = collect(telegram, run);
    return result.end == MbusEnd::Telegram ? result.telegram : QByteArray();
}

MbusResult SecondarySearch::collect(const Bytes& telegram, const Run& run) {
    const int wait = waitMs(run.settings);
    const MbusResult result = transaction_->runBlocking(
        telegram, MbusTiming{run.settings.slave, wait, wait, true}, [this] { return stopped(); });
    if (result.end == MbusEnd::LinkLost) lost_ = true;
    return result;
}

// On the link's thread, while the worker waits for the transaction. A
// search the gateway leaves unanswered ends here: the transaction sends
// nothing more, and the worker finds it stopped.
void SecondarySearch::judged(const ExchangeResult& result) {
    if (!result.lines.isEmpty()) emit event(mbus_event::Reception{result.lines});
    errors_.count(result.reply);
    emit event(mbus_event::Unmd{result.reply});
    if (!watchSilence_ || !silence_.note(result.reply)) return;
    silent_ = true;
    transaction_->cancel();
}

// From the worker: the event is told on the owner's thread, in order with
// the lines of the link.
void SecondarySearch::tell(const MbusEvent& told) {
    RunOnOwner(this, [this, told] { emit event(told); });
}

}  // namespace tarnel
