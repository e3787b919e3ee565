#include "ops/secondary_search.h"

#include <QCoreApplication>

#include "base/dialogs.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/owner_thread.h"
#include "base/time_format.h"
#include "link/gateway_link.h"
#include "link/register_map.h"
#include "mbus/loops_grid.h"

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

}  // namespace

SecondarySearch::SecondarySearch(GatewayLink& link, Log& log, Dialogs& dialogs, GridModel& grid,
                                 MbusJobState& job, Timer& timerMbus, Timer& timerMbusRespond,
                                 QObject* parent)
    : QObject(parent),
      link_(link),
      log_(log),
      dialogs_(dialogs),
      grid_(grid),
      job_(job),
      timerMbus_(timerMbus),
      timerMbusRespond_(timerMbusRespond),
      transaction_(new MbusTransaction(
          link, log, *link.clock().createTimer(this, "SearchWait"),
          *link.clock().createTimer(this, "SearchReply"),
          [this](MbusStep, const ExchangeResult& result) { logUnmd(result); }, this)),
      worker_(link.clock()) {
    connect(&link_, &GatewayLink::linkLost, this, &SecondarySearch::connectionLost);
}

SecondarySearch::~SecondarySearch() {
    // The worker may wait for a call on this thread: let it run until it ends.
    stop();
    while (worker_.running())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// --- starting and stopping ---------------------------------------------------

std::optional<int> SecondarySearch::start(const QString& idText, const Settings& settings) {
    if (!link_.requireLink()) return std::nullopt;
    if (idText == "FFFFFFFF" && dialogs_.confirm("Clear table", "Do you want to clear the table?"))
        grid_.clearData();
    const std::optional<IdMask> mask = IdMaskFromText(idText);
    if (!mask) {
        log_.append(QStringLiteral("Wrong ID entered - 8-digit or FFFFFFFF available..."));
        return std::nullopt;
    }
    const QDateTime now = link_.clock().now();
    log_.append(QStringLiteral("Secondary search Thread started at ") + ShortDateText(now) + "," +
                LongTimeText(now));
    Run run{WildcardPositions(*mask).empty() ? Mode::Exact : Mode::Wildcard, *mask, 0, settings};
    // A mask without a reply is tried at least twice.
    run.settings.retries = std::max(settings.retries, 1);
    emit searchControlsEnabled(false);
    launch(run);
    return run.settings.retries;
}

std::optional<int> SecondarySearch::changeAddress(int newAddress, const Settings& settings) {
    if (!link_.requireLink()) return std::nullopt;
    const int row = job_.selectedRow;
    const std::optional<IdMask> mask = row >= 1 ? IdMaskFromText(grid_.cell(row, 0)) : std::nullopt;
    if (!mask || !WildcardPositions(*mask).empty()) {
        log_.append(QStringLiteral("Not a valid device selected..."));
        return std::nullopt;
    }
    if (!dialogs_.confirm("Change address", "Are you sure changing Primary address?"))
        return std::nullopt;
    Settings raised = settings;
    raised.retries = std::max(settings.retries, 1);
    changeAddressOfRow(row, newAddress, raised);
    return raised.retries;
}

bool SecondarySearch::changeAddressOfRow(int row, int newAddress, const Settings& settings) {
    const std::optional<IdMask> mask = IdMaskFromText(grid_.cell(row, 0));
    if (!mask || running()) return false;
    job_.selectedRow = row;
    launch(Run{Mode::ChangeAddress, *mask, newAddress, settings});
    return true;
}

void SecondarySearch::launch(const Run& run) {
    job_.retryCount = 0;
    job_.searchIdle = false;
    lost_ = false;
    if (worker_.running()) return;  // one run at a time
    summarise_ = run.mode != Mode::ChangeAddress;
    found_ = 0;
    silentMasks_ = 0;
    errors_ = {};
    worker_.start([this, run] { execute(run); });
}

void SecondarySearch::stop() {
    job_.searchIdle = true;
    transaction_->cancel();
    link_.cancelBlocking();
}

void SecondarySearch::connectionLost() {
    if (!running()) return;
    lost_ = true;
    job_.searchIdle = true;
}

bool SecondarySearch::stopped() const {
    return job_.searchIdle || lost_;
}

// --- the worker ----------------------------------------------------------------

void SecondarySearch::execute(const Run& run) {
    replyBytes_.clear();
    try {
        if (!stopped()) {
            if (run.mode == Mode::ChangeAddress)
                changeMeterAddress(run);
            else if (run.mode == Mode::Exact)
                exactSearch(run);
            else
                wildcardSearch(run.mask, WildcardPositions(run.mask), 0, run);
        }
    } catch (const std::exception&) {
        log_.append(QStringLiteral("Unknown exception in secondary search, code #1001..."));
    }
    const bool cut = stopped();
    job_.searchIdle = true;
    RunOnOwner(this, [this, cut] { endStep(cut); });
}

void SecondarySearch::endStep(bool cut) {
    timerMbus_.stop();
    timerMbusRespond_.stop();
    emit searchControlsEnabled(true);
    job_.scanRunning = false;
    job_.rawReply = false;
    if (lost_) log_.append(QStringLiteral("Connection lost: secondary search stopped."));
    // One closing line, so that a gateway that errs is never mistaken for
    // an empty bus.
    if (summarise_)
        log_.append(QStringLiteral("Search %1: meters found %2, masks without an answer %3, %4.")
                        .arg(cut ? QStringLiteral("stopped") : QStringLiteral("ended"))
                        .arg(found_)
                        .arg(silentMasks_)
                        .arg(errors_.text()));
    log_.append(QStringLiteral("Secondary search thread terminated normally."));
    emit finished();
}

void SecondarySearch::exactSearch(const Run& run) {
    if (probe(run.mask, run)) readSelected(run);
    if (lost_) return;
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
        log_.append(QStringLiteral("Checking ") + MaskText(mask) + "...");
        if (probe(mask, run) && !readSelected(run) && level + 1 < free.size())
            wildcardSearch(mask, free, level + 1, run);
    }
}

void SecondarySearch::changeMeterAddress(const Run& run) {
    bool answered = false;
    for (int attempt = 0; attempt <= run.settings.retries && !stopped(); ++attempt) {
        replyBytes_.clear();
        sendAndCollect(selection(run.mask), run);
        if (replyBytes_.isEmpty()) continue;
        replyBytes_.clear();
        sendAndCollect(SetPrimaryAddress(kSelectedAddress, static_cast<uint8_t>(run.newAddress)),
                       run);
        answered = true;
        break;
    }
    if (answered) {
        replyBytes_.clear();
        sendAndCollect(SndNke(kNetworkLayerAddress), run);
    }
    if (stopped()) return;
    replyBytes_.clear();
    if (answered) sendAndCollect(ReqUd2(static_cast<uint8_t>(run.newAddress)), run);
    if (stopped() || replyBytes_.isEmpty()) return;
    const QByteArray telegram = replyBytes_;
    CallOnOwner<bool>(this, link_.clock(), [this, telegram] { return decodeById(telegram); });
}

// One probe: up to Retry + 1 selections of the mask; the first that brings
// any reply (an acknowledgement, or the garble of several meters) ends it.
bool SecondarySearch::probe(const IdMask& mask, const Run& run) {
    for (int attempt = 0; attempt <= run.settings.retries && !stopped(); ++attempt) {
        replyBytes_.clear();
        sendAndCollect(selection(mask), run);
        if (!replyBytes_.isEmpty()) return true;
    }
    if (!stopped()) ++silentMasks_;
    return false;
}

// Reads the meter selected by the last probe and lists it: whether the
// decoder accepted its reply (one meter, not a collision).
bool SecondarySearch::readSelected(const Run& run) {
    replyBytes_.clear();
    try {
        sendAndCollect(ReqUd2(kNetworkLayerAddress), run);
    } catch (const std::exception&) {
        log_.append(QStringLiteral("Unknown exception in secondary search, code #1004..."));
        return false;
    }
    if (replyBytes_.isEmpty() || stopped()) return false;
    const QByteArray telegram = replyBytes_;
    const bool listed =
        CallOnOwner<bool>(this, link_.clock(), [this, telegram] { return decodeById(telegram); });
    if (listed) ++found_;
    return listed;
}

// On the window's thread: the reply into the row with its identification
// number (or a new row), which becomes the selected one.
bool SecondarySearch::decodeById(const QByteArray& telegram) {
    try {
        job_.matchById = true;
        int selected = job_.selectedAddress;
        const bool ok = DecodeIntoLoopsGrid(telegram, grid_, log_, link_.clock().now(),
                                            job_.scanRunning, true, selected);
        job_.matchById = false;
        job_.selectedAddress = selected;
        if (grid_.currentRow() > 0) job_.selectedRow = grid_.currentRow();
        emit selectionChanged(QStringLiteral("Selected: %1").arg(selected));
        return ok;
    } catch (const std::exception&) {
        job_.matchById = false;
        log_.append(QStringLiteral("Unknown exception in secondary search, code #1003..."));
        return false;
    }
}

// Sends an M-Bus telegram through the gateway and collects the meter's
// answer into replyBytes_. Each wait is the scan time, and so is each of the
// gateway's replies; each reply is logged as "UNMD:" as it is judged.
void SecondarySearch::sendAndCollect(const Bytes& telegram, const Run& run) {
    const int wait = waitMs(run.settings);
    const MbusResult result = transaction_->runBlocking(
        telegram, MbusTiming{run.settings.slave, wait, wait, true}, [this] { return stopped(); });
    if (result.end == MbusEnd::LinkLost) connectionLost();
    if (result.end == MbusEnd::Telegram) replyBytes_ = result.telegram;
}

// On the link's thread, while the worker waits for the transaction.
void SecondarySearch::logUnmd(const ExchangeResult& result) {
    link_.logReception(result);
    errors_.count(result.reply);
    log_.append(QStringLiteral("UNMD:") + HexBytesText(result.reply));
}

}  // namespace tarnel
