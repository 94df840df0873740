#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QString>
#include <QStringList>

// Desktop Entry files of installed applications: reading them, matching them to a file's MIME
// type and building the command line that opens one file. Window-free.

struct DesktopEntry {
    // Desktop file ID: the path below the applications folder with '/' replaced by '-'.
    std::string id;
    // Where the file lies, for the %k field code.
    std::string location;
    QString name;
    QString icon;
    // The Exec value with the general string escapes already undone.
    std::string exec;
    QStringList mimeTypes;
    bool noDisplay = false;
    bool hidden = false;
};

// Reads the [Desktop Entry] group. nullopt when there is no such group, the type is not
// Application or there is no Exec key. Other groups and unknown keys are ignored; the first of
// duplicated keys counts.
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text);

// True when the entry declares one of the accepted types (compared without regard to case) or a
// wildcard such as "image/*" covering one of them.
bool declaresMimeType(const DesktopEntry& entry, const QStringList& acceptedTypes);

// The arguments that open one file with the entry, program first: Exec split with its quoting
// rules and the field codes expanded (%f %F the path, %u %U its file URL, %i the icon option,
// %c the name, %k the location, %% a percent sign; deprecated codes dropped). A quoted argument
// that is one code alone ("%f") is that code. nullopt for an unterminated quote, an unknown
// field code, an empty command, or a file code (%f %F %u %U) inside a quoted argument with more
// in it (sh -c "prog %f"), which a program could run as a script. No shell is involved, so the
// path is passed as one argument whatever it contains.
std::optional<std::vector<std::string>> expandExec(const DesktopEntry& entry,
                                                   const std::string& nativePath);

// "file://" followed by the path's bytes, percent-encoded where they are not unreserved.
std::string fileUrlFromNativePath(const std::string& nativePath);

// The applications folders in priority order: XDG_DATA_HOME's (default ~/.local/share), then
// each of XDG_DATA_DIRS' (default /usr/local/share:/usr/share). Relative entries are skipped.
std::vector<std::filesystem::path> applicationDirs();

// Visible applications of the folders (earlier folders shadow later ones with the same ID,
// hidden entries included) that declare one of the accepted types and whose command expandExec
// can build, ordered by name. Unreadable folders and files, and files larger than a desktop
// file can reasonably be, are skipped.
std::vector<DesktopEntry> findApplications(const std::vector<std::filesystem::path>& dirs,
                                           const QStringList& acceptedTypes);
