#pragma once

#include <QByteArray>
#include <QString>

namespace tarnel::test {

// A pseudo-terminal pair: the port under test opens the slave by its path;
// the test plays the other side on the master, which stays open for the
// fixture's lifetime unless the test hangs up.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const QString& slavePath() const { return slavePath_; }
    // Writes all bytes to the master, blocking while the pty is full.
    void write(const QByteArray& bytes);
    // Writes what fits without waiting; the number of bytes written.
    qsizetype writeSome(const QByteArray& bytes);
    // Reads from the master until `count` bytes came or `timeoutMs` passed.
    QByteArray read(int count, int timeoutMs = 5000);
    // Closes the master: the slave side sees a hang-up.
    void hangUp();

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};

// The line settings of a terminal device as the kernel keeps them.
struct LineProbe {
    unsigned baud = 0;
    int dataBits = 0;
    bool twoStopBits = false;
    bool oddParity = false;  // PARODD: a pty keeps it though it drops PARENB
    bool rtsCts = false;
    bool xonXoffOut = false;
    bool raw = false;  // no canonical mode, no echo, no output processing
};
LineProbe probeLine(const QString& path);

}  // namespace tarnel::test
