#pragma once

#include <QString>

#include <variant>

#include "ops/results.h"

namespace tarnel {

// What the window's own actions tell: the hand-over files it writes or
// refuses, the saved log, a fault of a table action. The presenter words it.
namespace face_event {

enum class HandOver { PointsList, Report };

// A stop, a lost link or a refusal ended the reading: nothing written.
struct NotWritten {
    HandOver what = HandOver::PointsList;
    Ending ending = Ending::Stopped;
};
// The reads ran to their end but there is nothing to hand over: no entry
// read (the points list), no answer at all (the report).
struct NothingRead {
    HandOver what = HandOver::PointsList;
};
// What the reads missed ("Incomplete: ..."), before the user is asked.
struct Incomplete {
    QString line;
};
// The user chose not to write an incomplete file.
struct Declined {
    HandOver what = HandOver::PointsList;
};
// A file that could not be written, and the system's reason.
struct FileRefused {
    QString path;
    QString reason;
};
struct PointsWritten {
    qsizetype points = 0;
    QString csv;
    QString yaml;
};
struct ReportFailed {
    QString error;
};
struct ReportWritten {
    QString pdf;
    QString html;
    bool shown = true;  // a viewer was started for the PDF
};
struct LogSaved {
    QString path;
};
// An exception out of a table action ("clear table" names the transfer's).
struct TableFault {
    bool transfer = false;
    QString what;
};

}  // namespace face_event

using FaceEvent =
    std::variant<face_event::NotWritten, face_event::NothingRead, face_event::Incomplete,
                 face_event::Declined, face_event::FileRefused, face_event::PointsWritten,
                 face_event::ReportFailed, face_event::ReportWritten, face_event::LogSaved,
                 face_event::TableFault>;

// The log's words for each: the window's table of lines.
QStringList FaceEventLines(const FaceEvent& event);

}  // namespace tarnel
