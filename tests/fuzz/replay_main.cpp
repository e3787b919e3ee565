// Replays fuzz inputs without libFuzzer: LLVMFuzzerTestOneInput runs once on
// every file of the folders (or on the files) named on the command line, so
// the seed corpora run in the ordinary test suite, under the sanitizers in
// the sanitizer build. Exits non-zero when a folder holds no input.
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 0;
    }
    const QByteArray bytes = file.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()),
                           static_cast<size_t>(bytes.size()));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        int inputs = 0;
        if (QFileInfo(argument).isDir()) {
            QDirIterator files(argument, QDir::Files, QDirIterator::Subdirectories);
            while (files.hasNext())
                inputs += RunFile(files.next());
        } else {
            inputs = RunFile(argument);
        }
        std::printf("%s: %d inputs replayed\n", qPrintable(argument), inputs);
        if (inputs == 0) ++failures;
    }
    return failures == 0 && argc > 1 ? 0 : 1;
}
