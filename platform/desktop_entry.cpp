#include "platform/desktop_entry.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <system_error>

#include <QByteArray>
#include <QLoggingCategory>

#include "platform/regular_file.h"

Q_LOGGING_CATEGORY(lcDesktopEntry, "quillmere.platform.desktopentry", QtInfoMsg)

namespace {

// Desktop files are a few kilobytes; anything far larger is not one and is not read.
constexpr std::uintmax_t kMaxDesktopFileBytes = 1 << 20;
// Application folders are shallow; the limit guards against pathological trees.
constexpr int kMaxFolderDepth = 8;

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Undoes the escapes every string value may carry: \s \n \t \r \\. With listSeparator set, an
// escaped ';' stays escaped so the list split can tell it from a separator.
std::string unescapeValue(std::string_view value, bool keepEscapedSemicolon) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        switch (next) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            case ';':
                if (keepEscapedSemicolon) {
                    out += '\\';
                }
                out += ';';
                break;
            default:
                out += '\\';
                out += next;
        }
    }
    return out;
}

QStringList splitList(std::string_view value) {
    const std::string text = unescapeValue(value, true);
    QStringList items;
    std::string item;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == ';') {
            item += ';';
            ++i;
        } else if (text[i] == ';') {
            if (!item.empty()) {
                items << QString::fromStdString(item);
            }
            item.clear();
        } else {
            item += text[i];
        }
    }
    if (!item.empty()) {
        items << QString::fromStdString(item);
    }
    return items;
}

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

struct ExecBuilder {
    std::vector<std::string> args;
    std::string token;
    bool tokenStarted = false;

    void append(std::string_view text) {
        token += text;
        tokenStarted = true;
    }
    void finish() {
        if (tokenStarted) {
            args.push_back(token);
        }
        token.clear();
        tokenStarted = false;
    }
};

// The codes that carry the file, whose name may hold any characters at all.
bool isFileCode(char code) {
    return code == 'f' || code == 'F' || code == 'u' || code == 'U';
}

// A quoted argument that is one field code and nothing else ("%f"), starting at exec[i]. Once
// its quotes are undone it is the code standing alone, and is expanded as such.
bool isLoneQuotedCode(std::string_view exec, std::size_t i) {
    return exec.substr(i, 2) == "\"%" && i + 3 < exec.size() && exec[i + 3] == '"' &&
           (i + 4 == exec.size() || isSeparator(exec[i + 4]));
}

// Splits an Exec value into arguments and expands its field codes, one character at a time.
struct ExecExpander {
    ExecExpander(const DesktopEntry& entry, const std::string& nativePath)
        : entry(entry), nativePath(nativePath), exec(entry.exec) {}

    const DesktopEntry& entry;
    const std::string& nativePath;
    const std::string_view exec;
    ExecBuilder builder;
    bool quoted = false;

    // Each takes the character at i and what belongs to it, leaving i on the last one taken;
    // false when the value cannot be expanded.
    bool plainChar(std::size_t& i);
    bool quotedChar(std::size_t& i);
    bool fieldCode(std::size_t& i, bool standalone);
};

bool ExecExpander::plainChar(std::size_t& i) {
    const char c = exec[i];
    if (isSeparator(c)) {
        builder.finish();
    } else if (c == '"' && !builder.tokenStarted && isLoneQuotedCode(exec, i)) {
        ++i;
        const bool expanded = fieldCode(i, true);
        ++i;  // the closing quote
        return expanded;
    } else if (c == '"') {
        quoted = true;
        builder.tokenStarted = true;  // "" is an empty argument, not none
    } else if (c == '%') {
        return fieldCode(
            i, !builder.tokenStarted && (i + 2 >= exec.size() || isSeparator(exec[i + 2])));
    } else {
        builder.append(exec.substr(i, 1));
    }
    return true;
}

bool ExecExpander::quotedChar(std::size_t& i) {
    const char c = exec[i];
    if (c == '"') {
        quoted = false;
    } else if (c == '\\' && i + 1 < exec.size() &&
               std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
        builder.append(exec.substr(++i, 1));
    } else if (c == '%') {
        // The file inside a larger quoted argument is refused: a program may take that
        // argument as a script (sh -c "prog %f"), where the name's $(...) would run.
        return i + 1 < exec.size() && !isFileCode(exec[i + 1]) && fieldCode(i, false);
    } else {
        builder.append(exec.substr(i, 1));
    }
    return true;
}

// The '%' at i and its code; the icon option is two arguments, and only when it stands alone.
bool ExecExpander::fieldCode(std::size_t& i, bool standalone) {
    if (++i == exec.size()) {
        return false;
    }
    switch (exec[i]) {
        case 'f':
        case 'F':
            builder.append(nativePath);
            return true;
        case 'u':
        case 'U':
            builder.append(fileUrlFromNativePath(nativePath));
            return true;
        case 'c':
            builder.append(entry.name.toStdString());
            return true;
        case 'k':
            builder.append(entry.location);
            return true;
        case '%':
            builder.append("%");
            return true;
        case 'i':
            if (standalone && !entry.icon.isEmpty()) {
                builder.args.push_back("--icon");
                builder.args.push_back(entry.icon.toStdString());
            }
            return true;
        case 'd':
        case 'D':
        case 'n':
        case 'N':
        case 'v':
        case 'm':
            return true;  // deprecated: dropped
        default:
            return false;
    }
}

}  // namespace

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text) {
    DesktopEntry entry;
    std::set<std::string, std::less<>> seenKeys;
    bool inMainGroup = false;
    bool sawMainGroup = false;
    std::string type;
    bool hasExec = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            if (sawMainGroup) {
                break;  // only the first group describes the application
            }
            inMainGroup = line == "[Desktop Entry]";
            sawMainGroup = inMainGroup;
            continue;
        }
        const auto equals = line.find('=');
        if (!inMainGroup || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trim(line.substr(0, equals));
        const std::string_view value = trim(line.substr(equals + 1));
        if (!seenKeys.emplace(key).second) {
            continue;
        }
        if (key == "Type") {
            type = unescapeValue(value, false);
        } else if (key == "Name") {
            entry.name = QString::fromStdString(unescapeValue(value, false));
        } else if (key == "Icon") {
            entry.icon = QString::fromStdString(unescapeValue(value, false));
        } else if (key == "Exec") {
            entry.exec = unescapeValue(value, false);
            hasExec = true;
        } else if (key == "MimeType") {
            entry.mimeTypes = splitList(value);
        } else if (key == "NoDisplay") {
            entry.noDisplay = value == "true";
        } else if (key == "Hidden") {
            entry.hidden = value == "true";
        }
    }
    if (!sawMainGroup || type != "Application" || !hasExec) {
        return std::nullopt;
    }
    return entry;
}

bool declaresMimeType(const DesktopEntry& entry, const QStringList& acceptedTypes) {
    for (const QString& declared : entry.mimeTypes) {
        for (const QString& accepted : acceptedTypes) {
            if (declared.compare(accepted, Qt::CaseInsensitive) == 0) {
                return true;
            }
            if (declared.endsWith(QLatin1String("/*")) &&
                accepted.startsWith(declared.chopped(1), Qt::CaseInsensitive)) {
                return true;
            }
        }
    }
    return false;
}

std::string fileUrlFromNativePath(const std::string& nativePath) {
    const QByteArray encoded =
        QByteArray::fromStdString(nativePath).toPercentEncoding(QByteArrayLiteral("/"));
    return "file://" + encoded.toStdString();
}

std::optional<std::vector<std::string>> expandExec(const DesktopEntry& entry,
                                                   const std::string& nativePath) {
    ExecExpander expander(entry, nativePath);
    for (std::size_t i = 0; i < expander.exec.size(); ++i) {
        if (!(expander.quoted ? expander.quotedChar(i) : expander.plainChar(i))) {
            return std::nullopt;
        }
    }
    if (expander.quoted) {
        return std::nullopt;
    }
    ExecBuilder& builder = expander.builder;
    builder.finish();
    if (builder.args.empty() || builder.args.front().empty()) {
        return std::nullopt;
    }
    return std::move(builder.args);
}

std::vector<std::filesystem::path> applicationDirs() {
    std::vector<std::filesystem::path> dirs;
    const auto addIfAbsolute = [&dirs](const std::string& base) {
        const std::filesystem::path dir(base);
        if (dir.is_absolute()) {
            dirs.push_back(dir / "applications");
        }
    };
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome) {
        addIfAbsolute(dataHome);
    } else if (home && *home) {
        addIfAbsolute(std::string(home) + "/.local/share");
    }
    const char* dataDirsEnv = std::getenv("XDG_DATA_DIRS");
    const std::string dataDirs =
        dataDirsEnv && *dataDirsEnv ? dataDirsEnv : "/usr/local/share/:/usr/share/";
    std::size_t start = 0;
    while (start <= dataDirs.size()) {
        const auto colon = std::min(dataDirs.find(':', start), dataDirs.size());
        addIfAbsolute(dataDirs.substr(start, colon - start));
        start = colon + 1;
    }
    return dirs;
}

namespace {

std::optional<std::string> readSmallFile(const std::filesystem::path& file) {
    // Through RegularFile: a FIFO planted among the entries never holds the chooser.
    const std::optional<RegularFile> opened = RegularFile::open(file);
    if (!opened || opened->size() > kMaxDesktopFileBytes) {
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(opened->size()), '\0');
    text.resize(opened->readAt(0, {reinterpret_cast<uint8_t*>(text.data()), text.size()}));
    return text;
}

// Whether the entry's command can be built at all: what expandExec refuses, it refuses for
// every path, so a program that could never start is not offered.
bool canStart(const DesktopEntry& entry) {
    return expandExec(entry, "/").has_value();
}

std::string desktopFileId(const std::filesystem::path& relative) {
    std::string id = relative.generic_string();
    std::replace(id.begin(), id.end(), '/', '-');
    return id;
}

}  // namespace

std::vector<DesktopEntry> findApplications(const std::vector<std::filesystem::path>& dirs,
                                           const QStringList& acceptedTypes) {
    std::vector<DesktopEntry> found;
    std::set<std::string> seenIds;
    for (const std::filesystem::path& dir : dirs) {
        std::error_code error;
        std::filesystem::recursive_directory_iterator it(
            dir, std::filesystem::directory_options::skip_permission_denied, error);
        for (; !error && it != std::filesystem::recursive_directory_iterator();
             it.increment(error)) {
            if (it.depth() >= kMaxFolderDepth) {
                it.disable_recursion_pending();
            }
            const std::filesystem::path& file = it->path();
            std::error_code typeError;
            if (file.extension() != ".desktop" || !it->is_regular_file(typeError)) {
                continue;
            }
            const std::string id = desktopFileId(file.lexically_relative(dir));
            if (!seenIds.insert(id).second) {
                continue;  // shadowed by a folder of higher priority
            }
            const auto text = readSmallFile(file);
            auto entry = text ? parseDesktopEntry(*text) : std::nullopt;
            if (!entry || entry->hidden || entry->noDisplay ||
                !declaresMimeType(*entry, acceptedTypes) || !canStart(*entry)) {
                continue;
            }
            entry->id = id;
            entry->location = file.native();
            found.push_back(std::move(*entry));
        }
        if (error && error != std::errc::no_such_file_or_directory) {
            qCDebug(lcDesktopEntry) << "stopped listing" << dir.c_str() << error.message().c_str();
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const DesktopEntry& a, const DesktopEntry& b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    return found;
}
