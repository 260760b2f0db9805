#include "settings/IniText.h"

#include <QStringList>

#include <algorithm>

namespace orv::settings::ini {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isSpace(char c) {
    return isBlank(c) || c == '\n' || c == '\r';
}

bool isLineEnd(char c) {
    return c == '\n' || c == '\r';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QByteArrayView trimmed(QByteArrayView text) {
    while (!text.isEmpty() && isSpace(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isSpace(text.back()))
        text.chop(1);
    return text;
}

struct RawLine {
    qsizetype start;
    qsizetype end;
    qsizetype equals; // the first "=" outside quotes, -1 when there is none
};

// The next line at or after pos, as QSettings cuts them: blank space and comment lines (";" first)
// are skipped; a line ends at a line end or a ";" outside quotes; a backslash takes the character
// after it, a line end too.
std::optional<RawLine> nextLine(QByteArrayView text, qsizetype& pos) {
    const qsizetype size = text.size();
    qsizetype start = pos;
    for (;;) {
        while (start < size && isSpace(text[start]))
            ++start;
        if (start == size || text[start] != ';')
            break;
        while (start < size && !isLineEnd(text[start]))
            ++start;
    }
    if (start == size) {
        pos = size;
        return std::nullopt;
    }
    RawLine line{start, start, -1};
    bool quoted = false;
    qsizetype i = start;
    while (i < size) {
        const char c = text[i];
        if (!quoted && (isLineEnd(c) || c == ';'))
            break;
        if (c == '=' && !quoted && line.equals < 0) {
            line.equals = i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\' && i + 1 < size) {
            ++i;
            // A line end of two characters counts as one.
            if (i + 1 < size && isLineEnd(text[i]) && isLineEnd(text[i + 1]) &&
                text[i] != text[i + 1])
                ++i;
        }
        ++i;
    }
    line.end = pos = i;
    return line;
}

// A section or key name: "\" stands for "/", and %XX or %UXXXX for the character of that code.
QString unescapedName(QByteArrayView name) {
    const QString decoded = QString::fromUtf8(name);
    QString result;
    for (qsizetype i = 0; i < decoded.size();) {
        const QChar c = decoded[i];
        if (c == u'\\') {
            result += u'/';
            ++i;
            continue;
        }
        if (c == u'%' && i + 1 < decoded.size()) {
            const qsizetype first = decoded[i + 1] == u'U' ? i + 2 : i + 1;
            const qsizetype digits = first == i + 2 ? 4 : 2;
            bool ok = false;
            const ushort code = first + digits <= decoded.size()
                                    ? QStringView(decoded).sliced(first, digits).toUShort(&ok, 16)
                                    : 0;
            if (ok) {
                result += QChar(code);
                i = first + digits;
                continue;
            }
        }
        result += c;
        ++i;
    }
    return result;
}

QString sectionName(QByteArrayView name) {
    if (name.compare("general", Qt::CaseInsensitive) == 0)
        return {};
    if (name.compare("%general", Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(name.sliced(1));
    return unescapedName(name);
}

// Qt's typed values, written as @Type(...); other text that starts with "@" is text.
bool isTypedValue(const QString& text) {
    if (!text.endsWith(u')'))
        return false;
    for (const char* prefix : {"@ByteArray(", "@Variant(", "@DateTime("})
        if (text.startsWith(QLatin1StringView(prefix)))
            return true;
    if (text == u"@Invalid()")
        return true;
    const std::pair<const char*, qsizetype> geometry[] = {
        {"@Rect(", 4}, {"@Size(", 2}, {"@Point(", 2}};
    for (const auto& [prefix, count] : geometry) {
        const QLatin1StringView start(prefix);
        if (text.startsWith(start))
            return text.sliced(start.size(), text.size() - start.size() - 1).split(u' ').size() ==
                   count;
    }
    return false;
}

} // namespace

const Entry* Document::find(const QString& section, const QString& key) const {
    const auto found = std::find_if(entries.rbegin(), entries.rend(), [&](const Entry& entry) {
        return entry.section == section && entry.key == key;
    });
    return found == entries.rend() ? nullptr : &*found;
}

Document parse(const QByteArray& text) {
    Document document;
    QString section;
    qsizetype pos = text.startsWith("\xef\xbb\xbf") ? 3 : 0;
    while (const std::optional<RawLine> line = nextLine(text, pos)) {
        const QByteArrayView bytes =
            QByteArrayView(text).sliced(line->start, line->end - line->start);
        if (bytes.front() == '[') {
            qsizetype close = bytes.indexOf(']');
            if (close < 0) {
                if (document.errorAt < 0)
                    document.errorAt = line->start;
                close = bytes.size();
            }
            section = sectionName(trimmed(bytes.sliced(1, close - 1)));
            document.headers.push_back({{line->start, line->end}, section});
        } else if (line->equals < 0) {
            if (document.errorAt < 0)
                document.errorAt = line->start;
        } else {
            const QByteArrayView key = trimmed(bytes.first(line->equals - line->start));
            document.entries.push_back(
                {{line->start, line->end}, section, unescapedName(key), line->equals + 1});
        }
    }
    return document;
}

std::optional<QString> text(QByteArrayView value) {
    QString result;
    const qsizetype size = value.size();
    qsizetype i = 0;
    // Blanks at the end are dropped, unless they come from an escape or the value is quoted, or
    // the value ends in an unfinished escape.
    qsizetype kept = 0;
    bool dropBlanks = true;
    bool quoted = false;
    const auto skipBlanks = [&] {
        while (i < size && isBlank(value[i]))
            ++i;
    };
    skipBlanks();
    while (i < size) {
        const char c = value[i];
        if (c == '"') {
            ++i;
            dropBlanks = false;
            quoted = !quoted;
            if (!quoted) {
                skipBlanks();
                kept = result.size();
            }
            continue;
        }
        if (c != '\\') {
            qsizetype end = i + 1;
            while (end < size && value[end] != '\\' && value[end] != '"')
                ++end;
            result += QString::fromUtf8(value.sliced(i, end - i));
            i = end;
            continue;
        }
        if (++i == size || (value[i] == 'x' && i + 1 == size)) {
            dropBlanks = false;
            break;
        }
        const char escape = value[i++];
        static constexpr std::pair<char, char> named[] = {
            {'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'},
            {'v', '\v'}, {'"', '"'},  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
        const auto* name =
            std::find_if(std::begin(named), std::end(named),
                         [escape](const auto& pair) { return pair.first == escape; });
        if (name != std::end(named)) {
            result += QLatin1Char(name->second);
        } else if ((escape == 'x' && hexDigit(value[i]) >= 0) || (escape >= '0' && escape <= '7')) {
            // Any number of digits, kept to 16 bits, as Qt keeps them.
            const int base = escape == 'x' ? 16 : 8;
            char16_t code = escape == 'x' ? 0 : static_cast<char16_t>(escape - '0');
            while (i < size && hexDigit(value[i]) >= 0 && hexDigit(value[i]) < base)
                code = static_cast<char16_t>(code * base + hexDigit(value[i++]));
            result += QChar(code);
        } else if (isLineEnd(escape)) {
            // The line goes on; a line end of two characters counts as one.
            if (i < size && isLineEnd(value[i]) && value[i] != escape)
                ++i;
        }
        // Any other escaped character is dropped.
        kept = result.size();
    }
    if (dropBlanks) {
        qsizetype end = result.size();
        while (end > kept && (result[end - 1] == u' ' || result[end - 1] == u'\t'))
            --end;
        result.truncate(end);
    }
    if (result.startsWith(u'@')) {
        // Qt 6 writes a text that holds a NUL character as @String(...).
        if (result.startsWith(u"@String(") && result.endsWith(u')'))
            return result.sliced(8).chopped(1);
        if (isTypedValue(result))
            return std::nullopt;
        if (result.startsWith(u"@@"))
            result.remove(0, 1);
    }
    return result;
}

QByteArray escaped(const QString& value) {
    // "@" begins Qt's typed values; a text that begins with it has it doubled.
    const QString text = value.startsWith(u'@') ? u'@' + value : value;
    QByteArray result;
    result.reserve(text.size() + 2);
    bool quote = false;
    // After \0 or \xHH a hex digit would read as part of the code: it is escaped too.
    bool escapeHexDigit = false;
    for (const char32_t c : text.toUcs4()) {
        if (c >= 0x80) {
            result += QString::fromUcs4(&c, 1).toUtf8();
            escapeHexDigit = false;
            continue;
        }
        const char ascii = static_cast<char>(c);
        if (ascii == ';' || ascii == ',' || ascii == '=')
            quote = true;
        if (escapeHexDigit && hexDigit(ascii) >= 0) {
            result += "\\x" + QByteArray::number(static_cast<int>(c), 16);
            continue;
        }
        escapeHexDigit = false;
        static constexpr std::pair<char, char> named[] = {{'\a', 'a'}, {'\b', 'b'}, {'\f', 'f'},
                                                          {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'},
                                                          {'\v', 'v'}, {'"', '"'},  {'\\', '\\'}};
        const auto* name = std::find_if(std::begin(named), std::end(named),
                                        [ascii](const auto& pair) { return pair.first == ascii; });
        if (name != std::end(named)) {
            result += '\\';
            result += name->second;
        } else if (c == 0) {
            result += "\\0";
            escapeHexDigit = true;
        } else if (c < 0x20) {
            result += "\\x" + QByteArray::number(static_cast<int>(c), 16);
            escapeHexDigit = true;
        } else {
            result += ascii;
        }
    }
    if (quote || result.startsWith(' ') || result.endsWith(' '))
        return '"' + result + '"';
    return result;
}

QByteArray withValue(const QByteArray& text, const Document& document, const QString& section,
                     const QString& key, const QString& value) {
    const QByteArray eol = text.contains("\r\n") ? "\r\n" : "\n";
    const QByteArray line = key.toUtf8() + '=' + escaped(value);
    QByteArray result = text;
    if (const Entry* entry = document.find(section, key))
        return result.replace(entry->start, entry->end - entry->start, line);

    // A new key goes into the last block of its section, before the first key that sorts after
    // it, as QSettings orders the keys it writes.
    const auto header =
        std::find_if(document.headers.rbegin(), document.headers.rend(),
                     [&](const Header& candidate) { return candidate.section == section; });
    if (header != document.headers.rend()) {
        const auto next = std::find_if(document.headers.begin(), document.headers.end(),
                                       [&](const Header& h) { return h.start > header->start; });
        const qsizetype blockEnd = next == document.headers.end() ? text.size() : next->start;
        qsizetype after = header->end;
        for (const Entry& entry : document.entries) {
            if (entry.start < header->start || entry.start >= blockEnd)
                continue;
            if (entry.key > key)
                return result.insert(entry.start, line + eol);
            after = entry.end;
        }
        return result.insert(after, eol + line);
    }

    // A new section: first, as QSettings puts a section it adds, unless keys of no section
    // ([General]) come first, which must stay before any header.
    const QByteArray block = '[' + section.toUtf8() + ']' + eol + line + eol;
    const bool generalFirst =
        !document.entries.empty() && document.entries.front().section.isEmpty();
    if (!document.headers.empty() && !generalFirst)
        return result.insert(document.headers.front().start, block + eol);
    if (!result.isEmpty() && !result.endsWith('\n') && !result.endsWith('\r'))
        result += eol;
    if (!document.entries.empty())
        result += eol;
    return result + block;
}

} // namespace orv::settings::ini
