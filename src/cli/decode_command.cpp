#include "cli/decode_command.h"

#include <cctype>
#include <ctime>
#include <istream>
#include <optional>
#include <ostream>

#include "base/json_text.h"
#include "cli/record_output.h"
#include "mbus/device_entry.h"
#include "mbus/telegram_decoder.h"

namespace tarnel::cli {
namespace {

// "68 0A 0A 68 ..." or "680A0A68..." as bytes; nothing when it is not hex.
std::optional<std::vector<uint8_t>> parseHex(const std::string& text) {
    std::string digits;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        digits += c;
    }
    if (digits.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

// The decoder's texts hold a telegram's 8-bit characters as Latin-1.
template <typename Texts>
std::string jsonArray(const Texts& texts) {
    std::string json = "[";
    for (const std::string& text : texts)
        json += (json.size() > 1 ? "," : "") + JsonString(Latin1ToUtf8(text));
    return json + "]";
}

// The local time of day, as the grid's time column shows it.
std::string timeOfDay() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

void printTelegram(const std::vector<uint8_t>& telegram, bool json, bool records,
                   std::ostream& out) {
    const DecodedTelegram decoded = DecodeMbusTelegram(telegram, timeOfDay());
    if (json) {
        out << "{\"log\":" << jsonArray(decoded.lines)
            << ",\"ok\":" << (decoded.ok ? "true" : "false")
            << ",\"row\":" << (decoded.row ? jsonArray(*decoded.row) : "null");
        if (records) out << RecordsJsonMembers(DecodeTelegramRecords(telegram));
        out << "}\n";
        return;
    }
    for (const std::string& line : decoded.lines)
        out << line << '\n';
    if (decoded.row) {
        static const char* const kHeaders[] = {"ID",   "Addr",   "Mfr",    "Value",
                                               "Unit", "Medium", "Status", "Time"};
        for (size_t i = 0; i < 8; ++i)
            out << kHeaders[i] << ": " << (*decoded.row)[i] << '\n';
    }
    out << "ok: " << (decoded.ok ? "true" : "false") << '\n';
    if (records) PrintRecordsTable(DecodeTelegramRecords(telegram), out);
}

}  // namespace

int decodeCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err) {
    bool json = false;
    bool records = false;
    std::vector<std::string> telegrams;
    for (const std::string& arg : args) {
        if (arg == "--json")
            json = true;
        else if (arg == "--records")
            records = true;
        else if (arg.rfind("--", 0) == 0) {
            err << "tarnel-cli decode: unknown option " << arg << '\n';
            return 2;
        } else
            telegrams.push_back(arg);
    }
    const bool fromInput = telegrams.empty();
    int status = 0;
    const auto decodeOne = [&](const std::string& text) {
        const auto bytes = parseHex(text);
        if (!bytes) {
            err << "tarnel-cli decode: not a telegram in hex: " << text << '\n';
            status = 1;
            return;
        }
        printTelegram(*bytes, json, records, out);
    };
    if (fromInput) {
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            decodeOne(line);
        }
    } else {
        for (const std::string& telegram : telegrams)
            decodeOne(telegram);
    }
    return status;
}

int decodeEntryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool json = false;
    std::optional<std::string> hex;
    for (const std::string& arg : args) {
        if (arg == "--json")
            json = true;
        else if (!hex && arg.rfind("--", 0) != 0)
            hex = arg;
        else {
            err << "tarnel-cli decode-entry: unexpected argument " << arg << '\n';
            return 2;
        }
    }
    const auto bytes = hex ? parseHex(*hex) : std::nullopt;
    if (!bytes || (bytes->size() != 48 && bytes->size() != 56)) {
        err << "tarnel-cli decode-entry: give the entry as 48 or 56 bytes in hex\n";
        return 2;
    }
    std::vector<std::string> lines;
    const auto texts = DeviceRowTexts(DecodeDeviceEntry(*bytes, lines));
    if (json) {
        out << "{\"log\":" << jsonArray(lines) << ",\"row\":" << jsonArray(texts) << "}\n";
        return 0;
    }
    for (const std::string& line : lines)
        out << line << '\n';
    static const char* const kHeaders[] = {"ID",       "Addr",
                                           "Mfr",      "Medium",
                                           "Unit",     "MValue",
                                           "T1 Value", "T2 Value",
                                           "T3 Value", "T4 Value",
                                           "Status",   "Main VIF",
                                           "Aux VIFs", "Tariff Start1/2/3/4-End1/2/3/4"};
    for (size_t i = 0; i < texts.size(); ++i)
        out << kHeaders[i] << ": " << texts[i] << '\n';
    return 0;
}

}  // namespace tarnel::cli
