#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <QTemporaryDir>

#include "platform/desktop_entry.h"

namespace {

using Args = std::vector<std::string>;

TEST(DesktopEntryParse, ReadsTheMainGroupOnly) {
    const auto entry = parseDesktopEntry(
        "# comment\n"
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Picture Tool\n"
        "Name[de]=Bildwerkzeug\n"
        "Exec = tool %f\n"
        "Icon=tool\n"
        "MimeType=image/png;image/x-odd\\;name;\n"
        "NoDisplay=true\n"
        "Name=Second Name\n"
        "[Desktop Action edit]\n"
        "Exec=tool --edit %f\n"
        "Hidden=true\n");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Picture Tool");  // neither the translation nor the duplicate
    EXPECT_EQ(entry->exec, "tool %f");       // not the action's command
    EXPECT_EQ(entry->icon, "tool");
    EXPECT_EQ(entry->mimeTypes, QStringList({"image/png", "image/x-odd;name"}));
    EXPECT_TRUE(entry->noDisplay);
    EXPECT_FALSE(entry->hidden);  // set in another group
}

TEST(DesktopEntryParse, RejectsWhatIsNotAnApplication) {
    const struct {
        const char* name;
        const char* text;
    } rows[] = {
        {"NoGroup", "Type=Application\nExec=tool\n"},
        {"OtherGroupOnly", "[Desktop Action x]\nType=Application\nExec=tool\n"},
        {"LinkType", "[Desktop Entry]\nType=Link\nExec=tool\n"},
        {"NoExec", "[Desktop Entry]\nType=Application\nName=x\n"},
        {"Empty", ""},
        {"BinaryNoise", "\x01\x02[\xff=\n=\n["},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(parseDesktopEntry(row.text));
    }
}

TEST(DesktopEntryParse, UndoesStringEscapesInExec) {
    const auto entry =
        parseDesktopEntry("[Desktop Entry]\r\nType=Application\r\nExec=my\\stool\\\\x %f\r\n");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->exec, "my tool\\x %f");
}

TEST(DesktopEntryMime, MatchesDeclaredTypes) {
    DesktopEntry entry;
    entry.mimeTypes = {"image/JPEG", "text/*"};
    const struct {
        const char* name;
        QStringList accepted;
        bool matches;
    } rows[] = {
        {"ExactTypeIgnoringCase", {"image/jpeg"}, true},
        {"ParentTypeOfTheFile", {"text/x-csrc", "text/plain"}, true},
        {"WildcardCoversSubtype", {"text/markdown"}, true},
        {"WildcardNeedsTheWholeMediaType", {"textual/x"}, false},
        {"OtherType", {"image/png"}, false},
        {"NothingAccepted", {}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(declaresMimeType(entry, row.accepted), row.matches);
    }
}

struct ExecRow {
    const char* name;
    const char* exec;
    std::string path;
    std::optional<Args> expected;
};

TEST(DesktopEntryExec, ExpandsFieldCodesAndQuoting) {
    const std::string odd = "/tmp/\xff caf\xe9.jpg";
    const ExecRow rows[] = {
        {"PathWithBlanksIsOneArgument", "viewer %f", "/tmp/a b.jpg",
         Args{"viewer", "/tmp/a b.jpg"}},
        {"ListCodeTakesTheOneFile", "viewer %F", "/p.jpg", Args{"viewer", "/p.jpg"}},
        {"UrlIsPercentEncoded", "viewer %U", "/tmp/a b#1.jpg",
         Args{"viewer", "file:///tmp/a%20b%231.jpg"}},
        {"InvalidUtf8PathKeptAsBytes", "viewer %f", odd, Args{"viewer", odd}},
        {"InvalidUtf8UrlEncodesBytes", "viewer %u", odd,
         Args{"viewer", "file:///tmp/%FF%20caf%E9.jpg"}},
        {"ShellCharactersAreNotInterpreted", "viewer %f", "/tmp/$(rm -rf ~);`x`.jpg",
         Args{"viewer", "/tmp/$(rm -rf ~);`x`.jpg"}},
        {"QuotedProgramWithBlanks", "\"/opt/My App/run\" %f", "/p.jpg",
         Args{"/opt/My App/run", "/p.jpg"}},
        {"EscapesInsideQuotes", "app \"a\\\"b\\\\c\\$d\"", "/p.jpg", Args{"app", "a\"b\\c$d"}},
        {"EmptyQuotedArgumentKept", "app \"\" %f", "/p.jpg", Args{"app", "", "/p.jpg"}},
        {"CodeInsideAnArgument", "app --file=%f", "/p.jpg", Args{"app", "--file=/p.jpg"}},
        {"PercentEscape", "app 100%%", "/p.jpg", Args{"app", "100%"}},
        {"IconOptionIsTwoArguments", "app %i %f", "/p.jpg",
         Args{"app", "--icon", "appicon", "/p.jpg"}},
        {"NameAndLocation", "app %c %k", "/p.jpg", Args{"app", "App", "/apps/app.desktop"}},
        {"DeprecatedCodesVanish", "app %d %D %n %N %v %m %f", "/p.jpg", Args{"app", "/p.jpg"}},
        {"NoFileCodeGivesNoFile", "app --new-window", "/p.jpg", Args{"app", "--new-window"}},
        {"RunsOfBlanksSeparateOnce", "  app \t  %f  ", "/p.jpg", Args{"app", "/p.jpg"}},
        {"UnknownCodeIsInvalid", "app %z", "/p.jpg", std::nullopt},
        {"TrailingPercentIsInvalid", "app %", "/p.jpg", std::nullopt},
        {"UnterminatedQuoteIsInvalid", "app \"%f", "/p.jpg", std::nullopt},
        {"EmptyCommandIsInvalid", "   ", "/p.jpg", std::nullopt},
        {"OnlyRemovedCodesIsInvalid", "%d", "/p.jpg", std::nullopt},
    };
    DesktopEntry entry;
    entry.name = "App";
    entry.icon = "appicon";
    entry.location = "/apps/app.desktop";
    for (const ExecRow& row : rows) {
        SCOPED_TRACE(row.name);
        entry.exec = row.exec;
        EXPECT_EQ(expandExec(entry, row.path), row.expected);
    }
}

// A file code sharing a quoted argument with more text would hand the name to whatever reads
// that argument, a shell included; a code alone, quoted or not, is one argument of its own.
TEST(DesktopEntryExec, TheFileNeverSharesAQuotedArgument) {
    const std::string hostile = "/tmp/a \"b\" \\c $(touch x);`y`.jpg";
    const ExecRow rows[] = {
        {"FileInsideAShellScriptIsRefused", "sh -c \"prog %f\"", hostile, std::nullopt},
        {"UrlInsideAQuotedArgumentIsRefused", "sh -c \"prog %U\"", "/p.jpg", std::nullopt},
        {"QuotedPartOfAnArgumentIsRefused", "prog --file=\"%f\"", "/p.jpg", std::nullopt},
        {"BareCodeIsOneArgument", "prog %f", hostile, Args{"prog", hostile}},
        {"QuotedCodeAloneIsOneArgument", "prog \"%f\"", hostile, Args{"prog", hostile}},
        {"QuotedIconCodeAloneIsTheOption", "prog \"%i\" \"%u\"", "/p.jpg",
         Args{"prog", "--icon", "appicon", "file:///p.jpg"}},
        {"PercentInsideAQuotedArgumentStays", "sh -c \"date +%%s\" %f", "/p.jpg",
         Args{"sh", "-c", "date +%s", "/p.jpg"}},
    };
    DesktopEntry entry;
    entry.icon = "appicon";
    for (const ExecRow& row : rows) {
        SCOPED_TRACE(row.name);
        entry.exec = row.exec;
        EXPECT_EQ(expandExec(entry, row.path), row.expected);
    }
}

TEST(DesktopEntryExec, IconOptionDroppedWithoutIcon) {
    DesktopEntry entry;
    entry.exec = "app %i %f";
    EXPECT_EQ(expandExec(entry, "/p.jpg"), (Args{"app", "/p.jpg"}));
}

void writeFile(const QString& path, const std::string& text) {
    std::ofstream(path.toStdString(), std::ios::binary) << text;
}

std::string app(const std::string& name, const std::string& mime, const std::string& extra = {}) {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + name +
           " %f\nMimeType=" + mime + ";\n" + extra;
}

TEST(DesktopEntryScan, ListsVisibleMatchingApplicationsByPriority) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString high = root.filePath("high");
    const QString low = root.filePath("low");
    ASSERT_TRUE(QDir().mkpath(high + "/vendor") && QDir().mkpath(low));
    // A hidden entry in the user's folder removes the system's entry of the same ID.
    writeFile(high + "/removed.desktop", app("Removed", "image/png", "Hidden=true\n"));
    writeFile(low + "/removed.desktop", app("RemovedSystem", "image/png"));
    // A visible user entry replaces the system's one.
    writeFile(high + "/edit.desktop", app("Editor", "image/png"));
    writeFile(low + "/edit.desktop", app("EditorSystem", "image/png"));
    writeFile(high + "/vendor/tool.desktop", app("alpha tool", "image/png"));
    writeFile(low + "/vendor-tool.desktop", app("ToolShadowedById", "image/png"));
    writeFile(low + "/zebra.desktop", app("Zebra", "image/*"));
    writeFile(low + "/hidden-menu.desktop", app("Quiet", "image/png", "NoDisplay=true\n"));
    writeFile(low + "/text.desktop", app("Text", "text/plain"));
    writeFile(low + "/script.desktop",
              "[Desktop Entry]\nType=Application\nName=Script\n"
              "Exec=sh -c \"show %f\"\nMimeType=image/png;\n");
    writeFile(low + "/notes.txt", app("NotADesktopFile", "image/png"));
    writeFile(low + "/huge.desktop", app("Huge", "image/png") + std::string(2 << 20, '#'));

    const auto found = findApplications(
        {high.toStdString(), root.filePath("missing").toStdString(), low.toStdString()},
        {"image/png"});
    QStringList names;
    for (const DesktopEntry& entry : found) {
        names << entry.name;
    }
    EXPECT_EQ(names, QStringList({"alpha tool", "Editor", "Zebra"}));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].id, "vendor-tool.desktop");
    EXPECT_EQ(found[0].location, (high + "/vendor/tool.desktop").toStdString());
}

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(DesktopEntryDirs, FollowsTheBaseDirectoryVariables) {
    {
        ScopedEnv home("XDG_DATA_HOME", "/u/share");
        ScopedEnv dirs("XDG_DATA_DIRS", "/a:relative::/b/");
        EXPECT_EQ(applicationDirs(),
                  (std::vector<std::filesystem::path>{"/u/share/applications", "/a/applications",
                                                      "/b/applications"}));
    }
    {
        ScopedEnv userHome("HOME", "/home/q");
        ScopedEnv home("XDG_DATA_HOME", "");
        ScopedEnv dirs("XDG_DATA_DIRS", nullptr);
        EXPECT_EQ(applicationDirs(),
                  (std::vector<std::filesystem::path>{"/home/q/.local/share/applications",
                                                      "/usr/local/share/applications",
                                                      "/usr/share/applications"}));
    }
}

}  // namespace
