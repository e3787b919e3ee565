// libFuzzer target over the settings file: the input is read as the INI
// file, what was read is written back into it (as at shutdown, keeping the
// keys the tool does not know), and a second read must give the same values.
#include "fuzz_input.h"
#include "gateway/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnel;
    const SettingsFile file(fuzz::InputFile(fuzz::Bytes(data, size), "tarnel.ini"));
    const QString folder = QStringLiteral("/opt/tarnel");
    const QStringList read = file.read(folder);
    fuzz::Check(file.write(read));
    fuzz::Check(file.read(folder) == read);
    return 0;
}
