// libFuzzer target over the two JSON writers: the decoder's JsonString
// (standard library) and Qt's writer, as the command line uses it. The
// first byte separates the rest into cell texts (control bytes, quotes,
// bytes that are not UTF-8). Each line must be one line that Qt's strict
// parser reads back: the decoder's texts as Qt's UTF-8 decoder reads their
// bytes (each byte that begins no well-formed sequence a U+FFFD, a leading
// byte-order mark kept as text) or as Latin-1, Qt's texts as given. Qt's
// parser drops a string's leading U+FEFF unless the string holds an escape:
// the comparison ignores that one character.
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringConverter>
#include <QStringList>
#include <optional>

#include "base/json_text.h"
#include "fuzz_input.h"

namespace {

using tarnel::fuzz::Check;

QStringList withoutLeadingBom(QStringList texts) {
    for (QString& text : texts)
        if (text.startsWith(QChar::ByteOrderMark)) text.remove(0, 1);
    return texts;
}

// Parses `line` strictly as one JSON array: its texts, or nothing.
std::optional<QStringList> parsedArray(const QByteArray& line) {
    Check(!line.contains('\n') && !line.contains('\r'));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) return std::nullopt;
    QStringList texts;
    for (const QJsonValue& value : document.array()) {
        if (!value.isString()) return std::nullopt;
        texts << value.toString();
    }
    return withoutLeadingBom(texts);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnel;
    if (size == 0) return 0;
    const QList<QByteArray> cells =
        fuzz::Bytes(data + 1, size - 1).split(static_cast<char>(data[0]));
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    std::string decoderLine = "[";
    QStringList expected;
    for (const QByteArray& cell : cells) {
        const std::string bytes = cell.toStdString();
        decoderLine += (decoderLine.size() > 1 ? "," : "") + JsonString(bytes) + "," +
                       JsonString(Latin1ToUtf8(bytes));
        expected << utf8.decode(cell) << QString::fromLatin1(cell);
    }
    const auto decoded = parsedArray(QByteArray::fromStdString(decoderLine + "]"));
    Check(decoded.has_value() && *decoded == withoutLeadingBom(expected));
    const QByteArray qtLine =
        QJsonDocument(QJsonArray::fromStringList(expected)).toJson(QJsonDocument::Compact);
    const auto qtDecoded = parsedArray(qtLine);
    Check(qtDecoded.has_value() && *qtDecoded == withoutLeadingBom(expected));
    return 0;
}
