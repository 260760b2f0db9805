#pragma once

// The text of an INI file in the format of Qt's QSettings (IniFormat, UTF-8), read line by line
// so that a change rewrites the line of its key and leaves every other byte of the file as it
// was: comments, the order of keys and sections, and values this program does not know.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

namespace orv::settings::ini {

// A line of the file: from its first byte to just before its line end. A quoted value, or a
// backslash before a line end, lets one line run over several.
struct Line {
    qsizetype start = 0;
    qsizetype end = 0;
};

struct Header : Line {
    QString section; // "" for [General]
};

struct Entry : Line {
    QString section;
    QString key;
    qsizetype valueStart = 0;
};

struct Document {
    std::vector<Header> headers;
    std::vector<Entry> entries;
    // Where the first line that QSettings would reject starts (a key without "=", a section
    // header without "]"); -1 when there is none.
    qsizetype errorAt = -1;

    // The entry QSettings reads for the key: the last one in the file.
    const Entry* find(const QString& section, const QString& key) const;
};

Document parse(const QByteArray& text);

// The text a value stands for, read as QSettings reads it, except that commas belong to the text
// where QSettings would split it into a list. nullopt for a value that stands for something
// else than text (@ByteArray(...), @Variant(...) and Qt's other typed values).
std::optional<QString> text(QByteArrayView value);

// The value as QSettings writes the text: it reads back as exactly that text, here and by Qt.
QByteArray escaped(const QString& text);

// The file's text with the key set to the text: the key's line replaced, or a new line added to
// its section (at its place in the order of the keys there) or, failing that, a new section.
// `document` is the parse of `text`. Keys are written as given: plain ASCII letters and digits.
QByteArray withValue(const QByteArray& text, const Document& document, const QString& section,
                     const QString& key, const QString& value);

} // namespace orv::settings::ini
