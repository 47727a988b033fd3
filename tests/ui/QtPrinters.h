#pragma once

// Readable Qt values in the messages of failed expectations. Every test file
// that compares these types includes this header: the printers are templates
// instantiated in each file, and all files must agree on them.

#include <QString>
#include <QStringList>
#include <ostream>

inline void PrintTo(const QString& Text, std::ostream* Os) {
    *Os << '"' << Text.toStdString() << '"';
}

inline void PrintTo(const QStringList& List, std::ostream* Os) {
    *Os << "{" << List.join(", ").toStdString() << "}";
}
